// SPDX-License-Identifier: Apache-2.0
// CallScope: what one plug-in call shares and counts on its thread. While one lives, every
// KYLibCurl initialised on the thread shares one pool of connections and one TLS session cache
// with the others, so that all the clients a call makes for one array (the storage server's,
// those of array discovery and initiator choice) use one connection and make at most one full
// TLS handshake; and the call's HTTP requests, connections, full handshakes and sleeps are
// counted, for the summary line the plug-in writes at the end of the call. Nothing is kept
// when the scope ends: its connections close once the last client made under it is gone.
//
// Scopes nest; an inner scope joins the outer one. Outside any scope clients keep their own
// connections and nothing is counted.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "KyPlatformExport.h"

namespace kyplatform {

struct CallStatistics {
    struct Method {
        uint64_t requests = 0;
        uint64_t failures = 0;  // no complete answer, or a status of 400 or above
    };
    std::map<std::string, Method> methods;  // by the last segment of the URL's path
    uint64_t connections = 0;               // new connections opened
    uint64_t fullHandshakes = 0;            // TLS handshakes that resumed no session
    uint64_t sleeps = 0;
    uint64_t sleptMs = 0;
};

class KYPLATFORM_API CallScope {
public:
    CallScope();
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    // What the thread's scope has counted so far.
    CallStatistics statistics() const;
};

}  // namespace kyplatform
