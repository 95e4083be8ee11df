// SPDX-License-Identifier: Apache-2.0
// ScriptedHttpsServer: an HTTPS server on 127.0.0.1 (port chosen by the system) for tests of
// anything that talks HTTP. It answers from a script, records every request it receives and
// counts the TCP connections it accepts, so that a test can check what a client sent, how it
// authenticated and whether it kept its connection alive.
//
//   test::ScriptedHttpsServer server;                 // listening once constructed
//   ASSERT_TRUE(server.ok()) << server.error();
//   setenv("KYSNAP_TLS_CA_FILE", server.caFile().c_str(), 1);
//   server.reply("/zebi/api/v2/listVolumes", 200, R"([{"name":"vol1"}])");
//   server.reply("/zebi/api/v2/listVolumes", test::Reply(500, "Access Denied"));
//   ... client posts to server.baseUrl() + "/zebi/api/v2/listVolumes" (host(): "127.0.0.1:PORT")
//   EXPECT_EQ(server.requestsTo("/zebi/api/v2/listVolumes").at(0).body, "[]");
//   EXPECT_EQ(server.connectionsAccepted(), 1);
//
// Replies for a path are used in the order queued; when a path's queue is empty its standing
// reply (always()) answers, and failing that the default reply (404, empty body). Every method
// (GET, POST, PUT, DELETE) is answered the same way. All operations are thread-safe.
//
// Note for hang-ups (Reply::hangUp()): when the hang-up ends a kept-alive connection, libcurl
// sends the same request once more on a new connection, so it is recorded twice and takes the
// next reply of its path as well.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace test {

struct Reply {
    Reply() = default;
    Reply(int status, std::string body) : status(status), body(std::move(body)) {}

    // The answer is sent only after this delay (to make a client's time-out expire).
    Reply& after(std::chrono::milliseconds wait) {
        delay = wait;
        return *this;
    }
    // The server closes the connection instead of answering (after the delay, if any).
    static Reply hangUp() {
        Reply reply;
        reply.closeWithoutAnswer = true;
        return reply;
    }

    // The server writes exactly `bytes` on the connection (no status line or header of its
    // own) and closes it: for answers that break off or break the protocol.
    static Reply raw(std::string bytes) {
        Reply reply;
        reply.rawBytes = std::move(bytes);
        reply.sendRaw = true;
        return reply;
    }

    int status = 200;
    std::string body;  // any bytes, sent unchanged
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};
    bool closeWithoutAnswer = false;
    bool sendRaw = false;
    std::string rawBytes;
};

struct RecordedRequest {
    std::string method;
    std::string path;  // without the query
    std::string body;
    std::multimap<std::string, std::string> headers;  // names as the client sent them
    // From an "Authorization: Basic ..." header; `hasBasicAuth` false when there was none or it
    // could not be decoded.
    bool hasBasicAuth = false;
    std::string user;
    std::string password;
    // 1 for the first TCP connection the server accepted, 2 for the next, ...
    int connection = 0;
    std::string remoteAddress;
    int remotePort = 0;

    // The first value of a header (name compared without case), or "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

struct ServerOptions {
    // How long an idle kept-alive connection stays open on the server side.
    std::chrono::seconds keepAliveTimeout{30};
    // Names the certificate is issued for.
    std::vector<std::string> certificateHosts{"127.0.0.1", "localhost"};
};

class ScriptedHttpsServer {
public:
    // Creates a certificate in a fresh temporary directory and starts listening. Check ok().
    ScriptedHttpsServer();
    explicit ScriptedHttpsServer(const ServerOptions& options);
    // Stops the server (open connections are cut, pending delays end) and removes the
    // temporary directory.
    ~ScriptedHttpsServer();
    ScriptedHttpsServer(const ScriptedHttpsServer&) = delete;
    ScriptedHttpsServer& operator=(const ScriptedHttpsServer&) = delete;

    bool ok() const;
    const std::string& error() const;

    int port() const;
    std::string host() const;     // "127.0.0.1:PORT"
    std::string baseUrl() const;  // "https://127.0.0.1:PORT"
    // The CA certificate (PEM) that signed the server's certificate.
    const std::string& caFile() const;
    // A file with the server's own certificate, for clients that pin it.
    const std::string& certFile() const;

    // ---- script ----
    // Queues one reply for `path` (the request target without query).
    ScriptedHttpsServer& reply(const std::string& path, int status, const std::string& body);
    ScriptedHttpsServer& reply(const std::string& path, const Reply& reply);
    // The reply for `path` whenever its queue is empty.
    ScriptedHttpsServer& always(const std::string& path, const Reply& reply);
    // The reply for paths with neither queued nor standing replies (initially 404, empty).
    ScriptedHttpsServer& setDefault(const Reply& reply);
    // Replies still queued for `path`.
    size_t pendingReplies(const std::string& path) const;

    // ---- what happened ----
    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(const std::string& path) const;
    size_t requestCount() const;
    // TCP connections on which a TLS handshake started.
    int connectionsAccepted() const;
    // Forgets the recorded requests (the connection count stays).
    void clearRequests();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace test
