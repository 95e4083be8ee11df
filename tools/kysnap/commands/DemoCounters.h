// SPDX-License-Identifier: Apache-2.0
// What the array simulator counted during `kysnap demo`, taken from the counters document it
// writes when stopped (SimulatorProcess::stop reads it with the strict reader): printed as the
// text summary, or given as the "counters" member of the demo's JSON document.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "JsonOutput.h"

namespace kysnap {

struct SimulatorCounters {
    struct Method {
        std::string method;  // as the simulator names it, e.g. "POST snapshot/createSnapshot"
        long requests = 0;
    };
    long requests = 0;            // REST requests to the array
    std::vector<Method> methods;  // in the counters document's order (by name)
    long connections = 0;         // TLS connections
    long tlsHandshakes = 0;
    long fullTlsHandshakes = 0;
    long failedAnswers = 0;    // answers other than 200, of every method
    long hostViewQueries = 0;  // the simulated host's rescans
};

// The counts of `counters`; a count that is missing or not a whole number reads as 0 (and a
// method's so given is left out), so that a simulator older or newer than kysnap still gives
// a summary.
SimulatorCounters readCounters(const nlohmann::json& counters);

// The text demo's summary lines, on `out`.
void printCounters(FILE* out, const SimulatorCounters& counters);

// {"requests", "methods": [{"method", "requests"}...], "connections", "tlsHandshakes",
//  "fullTlsHandshakes", "failedAnswers", "hostViewQueries"}
JsonDocument countersJson(const SimulatorCounters& counters);

}  // namespace kysnap
