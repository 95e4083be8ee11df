// SPDX-License-Identifier: Apache-2.0
// ConnectionLoop: the simulator's TLS connections, served so that slow or idle clients cannot
// lock others out.
//
// One thread (the loop, epoll over non-blocking sockets) listens, accepts, performs each TLS
// handshake and receives each request: a connection that is idle, still in its handshake or
// still sending its request costs no worker. Once a request has arrived whole (its head and
// its body; only its head when it is answered before its body is read, see RefusedBeforeBody)
// the connection goes to one of at most `workers` worker threads, which let the HTTP server
// read that request from memory and write the answer; then it comes back to the loop while
// kept alive. A worker thus never waits for a client's request; it waits only on a client
// that does not take its answer, at most `writeTimeout` per write.
//
// Deadlines: the TLS handshake must end within `requestDeadline` of the connection's accept,
// and each request must arrive whole within `requestDeadline` of its first byte (the first
// request: of the handshake's end) however it trickles in; a connection kept alive is closed
// after `keepAlive` without a byte. A connection that misses a deadline is closed unanswered.
// A client waiting for "100 Continue" gets it from the loop once its head has arrived.
//
// Connections and TLS handshakes are counted in `counters` (handshakes through the context's
// callback, see ConnectionTracker). stop() closes every connection the loop holds, makes
// workers close theirs once their answer is written and joins all threads; the caller cuts
// the sockets of connections in a worker first (ConnectionTracker::shutdownAll) when it needs
// that to be prompt.
#pragma once

#include <httplib.h>
#include <openssl/ssl.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "Counters.h"

namespace arraysim {

class ConnectionLoop {
public:
    struct Settings {
        size_t workers = 64;
        std::chrono::milliseconds requestDeadline{5000};
        std::chrono::milliseconds keepAlive{5000};
        std::chrono::milliseconds writeTimeout{5000};
        size_t maxRequestsPerConnection = 100;
        size_t maxBodyBytes = 1 << 20;
    };
    // Whether the server answers this request (its head parsed) before reading its body; the
    // loop then hands the connection over without waiting for the body.
    using RefusedBeforeBody = std::function<bool(const httplib::Request&)>;
    // Reads one request from `stream`, answers it, and says whether the connection may go on;
    // `setup` is to be applied to the request once its head is parsed (Server::process_request).
    using Serve =
        std::function<bool(httplib::Stream& stream, bool closeConnection, bool& connectionClosed,
                           const std::function<void(httplib::Request&)>& setup)>;

    // `context` (a server context) must outlive the loop.
    ConnectionLoop(SSL_CTX* context, Counters& counters, Settings settings,
                   RefusedBeforeBody refusedBeforeBody, Serve serve);
    ~ConnectionLoop();
    ConnectionLoop(const ConnectionLoop&) = delete;
    ConnectionLoop& operator=(const ConnectionLoop&) = delete;

    // Binds and listens (SO_REUSEADDR only, backlog `backlog`); port 0 picks a free one.
    // Returns the port, or 0 with `error` set.
    int listen(const std::string& address, int port, int backlog, std::string& error);
    // Starts the loop thread; after listen().
    void start();
    // Idempotent.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace arraysim
