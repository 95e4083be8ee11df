// SPDX-License-Identifier: Apache-2.0
// ApiEndpoint: one call of /zebi/api/v2/<method>, independent of the HTTP library.
// In order: the call is counted; credentials (HTTP basic) are checked against the seeded users
// (refused: 401 "Access Denied", no fault consumed); an unknown method is refused (404), and so
// is a GET of a method that takes parameters (405); the faults for the method are taken
// (latency waited out without holding any lock, cut short when the simulator stops); then the
// handler runs under the model lock, unless a fault acts before it. A handler that throws is
// answered with 500; nothing escapes. Every error answer names the call in its "details".
#pragma once

#include <string>

#include "Reply.h"
#include "SimulatorState.h"

namespace arraysim {

struct ApiOutcome {
    Reply reply;
    bool dropConnection = false;  // close the connection instead of answering
    bool challenge = false;       // add a WWW-Authenticate header (credentials refused)
};

// `httpMethod` is "GET" or "POST".
ApiOutcome handleApiRequest(SimulatorState& state, const std::string& httpMethod,
                            const std::string& method, const std::string& body,
                            const std::string& authorization);

// A call refused before its body is read (credentials, size, encoding), counted like any
// failed call of `method`. A 401 carries the challenge.
ApiOutcome refuseApiRequest(SimulatorState& state, const std::string& httpMethod,
                            const std::string& method, const ApiError& error);

// Whether an "Authorization: Basic ..." value names a seeded user with the right password.
bool credentialsAccepted(const Model& model, const std::string& authorization);
bool credentialsAccepted(SimulatorState& state, const std::string& authorization);  // locks

}  // namespace arraysim
