// SPDX-License-Identifier: Apache-2.0
#include "DemoCounters.h"

#include <climits>
#include <cstdint>

#include "StrictJson.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// A count: a whole number from 0, else nothing.
bool wholeCount(const nlohmann::json& value, long& count) {
    int64_t whole = 0;
    if (!strictjson::wholeNumber(value, 0, LONG_MAX, whole)) {
        return false;
    }
    count = static_cast<long>(whole);
    return true;
}

long countOf(const nlohmann::json& object, const char* key) {
    long count = 0;
    const auto found = object.find(key);
    return found != object.end() && wholeCount(*found, count) ? count : 0;
}

}  // namespace

SimulatorCounters readCounters(const nlohmann::json& counters) {
    SimulatorCounters read;
    if (!counters.is_object()) {
        return read;
    }
    read.requests = countOf(counters, "requests");
    read.connections = countOf(counters, "connections");
    read.tlsHandshakes = countOf(counters, "tlsHandshakes");
    read.fullTlsHandshakes = countOf(counters, "fullTlsHandshakes");
    read.hostViewQueries = countOf(counters, "hostViewQueries");
    if (const auto methods = counters.find("methods");
        methods != counters.end() && methods->is_object()) {
        for (const auto& [method, value] : methods->items()) {
            long count = 0;
            if (wholeCount(value, count)) {
                read.methods.push_back({method, count});
            }
        }
    }
    if (const auto failures = counters.find("failures");
        failures != counters.end() && failures->is_object()) {
        for (const auto& entry : failures->items()) {
            long count = 0;
            read.failedAnswers += wholeCount(entry.value(), count) ? count : 0;
        }
    }
    return read;
}

void printCounters(FILE* out, const SimulatorCounters& counters) {
    std::fprintf(out, "REST requests to the array: %ld\n", counters.requests);
    for (const SimulatorCounters::Method& method : counters.methods) {
        std::fprintf(out, "  %-34s %ld\n", visibleText(method.method).c_str(), method.requests);
    }
    std::fprintf(out,
                 "TLS connections: %ld (handshakes %ld, of which full %ld); answers other than "
                 "200: %ld\n",
                 counters.connections, counters.tlsHandshakes, counters.fullTlsHandshakes,
                 counters.failedAnswers);
    std::fprintf(out,
                 "host-view queries (the simulated host's rescans, one full handshake each): %ld\n",
                 counters.hostViewQueries);
    std::fflush(out);
}

JsonDocument countersJson(const SimulatorCounters& counters) {
    JsonDocument methods = JsonDocument::array();
    for (const SimulatorCounters::Method& method : counters.methods) {
        methods.push_back({{"method", visibleText(method.method)}, {"requests", method.requests}});
    }
    return {{"requests", counters.requests},
            {"methods", methods},
            {"connections", counters.connections},
            {"tlsHandshakes", counters.tlsHandshakes},
            {"fullTlsHandshakes", counters.fullTlsHandshakes},
            {"failedAnswers", counters.failedAnswers},
            {"hostViewQueries", counters.hostViewQueries}};
}

}  // namespace kysnap
