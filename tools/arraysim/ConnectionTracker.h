// SPDX-License-Identifier: Apache-2.0
// ConnectionTracker: watches the server's TLS connections through OpenSSL. It counts completed
// TLS handshakes (and which of them resumed no session), and it knows the socket of every
// connection whose handshake has started, so that shutdownAll() can cut connections at once,
// also one a worker is answering on; a handshake that starts after shutdownAll() is cut as it
// starts.
//
// A socket is forgotten when its SSL object is freed, which the server does before closing
// the socket, so shutdownAll() never touches a descriptor that was already reused. The
// tracker must outlive the server whose SSL_CTX it is installed in.
#pragma once

#include <openssl/ssl.h>

#include <map>
#include <mutex>

#include "Counters.h"

namespace arraysim {

class ConnectionTracker {
public:
    explicit ConnectionTracker(Counters& counters) : counters_(counters) {}
    ConnectionTracker(const ConnectionTracker&) = delete;
    ConnectionTracker& operator=(const ConnectionTracker&) = delete;

    // Hooks the tracker into a server context (info callback and application data).
    void install(SSL_CTX* context);
    // Shuts down (both directions) the socket of every live TLS connection, and of every one
    // that starts its handshake later.
    void shutdownAll();

private:
    static void infoCallback(const SSL* ssl, int where, int ret);
    static void freeCallback(void* parent, void* pointer, CRYPTO_EX_DATA* data, int index,
                             long argl, void* argp);
    static int exDataIndex();
    void forget(const SSL* ssl);

    Counters& counters_;
    std::mutex mutex_;
    std::map<const SSL*, int> live_;
    bool stopping_ = false;
};

// Cuts the connection that carries `ssl` (both directions); the HTTP server then fails to
// write its answer and closes it.
void dropConnection(const SSL* ssl);

}  // namespace arraysim
