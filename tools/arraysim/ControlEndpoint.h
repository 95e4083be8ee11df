// SPDX-License-Identifier: Apache-2.0
// ControlEndpoint: the simulator's own routes under /control/, beside the array's REST API on
// the same port, for tests, benchmarks and the CLI's simulated host. No credentials are asked
// (the simulator listens on loopback). Bodies and answers are JSON objects; failures are
// {"code", "message", ...} like the array's, with status 400 (bad body), 404 (no such route or
// object) or 405 (wrong HTTP method). The routes are listed in docs/arraysim.md.
#pragma once

#include <string>

#include "Reply.h"
#include "SimulatorState.h"

namespace arraysim {

// `route` is the path after "/control/", e.g. "faults/clear"; `httpMethod` is "GET" or "POST".
Reply handleControlRequest(SimulatorState& state, const std::string& httpMethod,
                           const std::string& route, const std::string& body);

}  // namespace arraysim
