// SPDX-License-Identifier: Apache-2.0
// `kysnap monitor`: the age of each device's newest good snapshot (Freshness.h), as a Nagios
// plug-in reports it: the status line first, one line per device after it, and the exit status
// Nagios reads, not kysnap's usual ones: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN. A command line
// it cannot take (a missing or malformed --warn or --crit, --warn not below --crit) is UNKNOWN
// too, as Nagios plug-ins answer invalid arguments. With --prom-textfile FILE it also writes
// the metrics (PromTextfile.h) to FILE atomically.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "Options.h"
#include "Session.h"

namespace kysnap {

// What is judged: devices, and the policy they are the devices of ("" for none).
struct MonitorSubject {
    std::string policy;
    std::vector<std::string> devices;
};

// Runs the monitor at the real time.
int runMonitor(const Options& options, const Session::Needs& needs);

// Runs the monitor as if it were `now`; returns the Nagios exit status.
int runMonitorAt(const Options& options, const Session::Needs& needs, std::time_t now);

}  // namespace kysnap
