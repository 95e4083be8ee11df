// ApiEndpoint: one call of POST /zebi/api/v2/<method>, independent of the HTTP library.
// In order: the call is counted; credentials (HTTP basic) are checked against the seeded users
// (refused: 401 "Access Denied", no fault consumed); an unknown method is refused (404); the
// faults for the method are taken (latency waited out without holding any lock); then the
// handler runs under the model lock, unless a fault acts before it. A handler that throws is
// answered with 500; nothing escapes.
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

ApiOutcome handleApiRequest(SimulatorState& state, const std::string& method,
                            const std::string& body, const std::string& authorization);

// Whether an "Authorization: Basic ..." value names a seeded user with the right password.
bool credentialsAccepted(const Model& model, const std::string& authorization);

}  // namespace arraysim
