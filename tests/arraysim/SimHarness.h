// SPDX-License-Identifier: Apache-2.0
// SimHarness: an array simulator running in-process on a free loopback port, and an HTTPS
// client that calls it the way the plug-in does (POST, basic credentials, one kept-alive
// connection, the simulator's CA trusted).
#pragma once

#include <httplib.h>
#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "ArraySimulator.h"
#include "jsonxx.h"

namespace arraysim_test {

struct CallResult {
    int status = 0;  // 0: no HTTP answer at all
    std::string body;
    std::string authenticateHeader;
};

std::string sampleSeedText();
// Where the tests keep their generated certificates (shared by all test processes).
std::string certDirectory();

// What came back for a request sent byte for byte.
struct RawAnswer {
    int status = 0;  // 0: no complete answer
    std::string headers;
    std::string body;
    bool closed = false;  // the simulator closed the connection after the answer
};

// A TLS connection to the simulator (its CA trusted) that sends exactly the bytes it is given;
// each call waits at most `timeoutMs` for the socket.
class TlsConnection {
public:
    TlsConnection(int port, const std::string& caFile, int timeoutMs = 3000);
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    bool ready() const { return ready_; }  // connected, and the handshake done
    // False when not all could be sent (the simulator may have answered and closed).
    bool send(const std::string& bytes);
    // Reads one answer, waiting at most `timeoutMs` in all; then, with `probeClose`, waits
    // briefly to see whether the simulator closes the connection.
    RawAnswer readAnswer(int timeoutMs, bool probeClose = true);
    // Whether the simulator has closed the connection, looking for at most `waitMs`.
    bool closedBySimulator(int waitMs);

private:
    int fd_ = -1;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    bool ready_ = false;
};

// A TCP connection to the simulator's port on 127.0.0.1 that sends nothing (no TLS
// handshake); -1 when it cannot connect.
int plainConnection(int port);

// Sends `request` exactly as given over a new TLS connection and reads one answer, waiting at
// most `timeoutMs` in all.
RawAnswer rawExchange(int port, const std::string& caFile, const std::string& request,
                      int timeoutMs = 3000);
// A raw POST of `body` to the API with the sample seed's credentials and a Content-Length.
std::string rawApiPost(const std::string& method, const std::string& body);

class SimHarness {
public:
    explicit SimHarness(const std::string& seedText = sampleSeedText(),
                        const std::string& apiVersion = "");
    ~SimHarness();

    bool started() const { return started_; }
    const std::string& startError() const { return startError_; }
    arraysim::ArraySimulator& simulator() { return *simulator_; }

    CallResult call(const std::string& method, const std::string& body);
    // GET of a method (with the credentials).
    CallResult get(const std::string& method);
    CallResult callAs(const std::string& user, const std::string& password,
                      const std::string& method, const std::string& body);
    CallResult control(const std::string& httpMethod, const std::string& route,
                       const std::string& body = "");
    RawAnswer raw(const std::string& request, int timeoutMs = 3000) {
        return rawExchange(simulator_->port(), simulator_->caFile(), request, timeoutMs);
    }
    // A new client with its own connection.
    std::unique_ptr<httplib::SSLClient> newClient() const;

private:
    std::unique_ptr<arraysim::ArraySimulator> simulator_;
    std::unique_ptr<httplib::SSLClient> client_;
    bool started_ = false;
    std::string startError_;
};

// Parse helpers: a test fails (ADD_FAILURE) when the text is not the expected container.
jsonxx::Array asArray(const std::string& text);
jsonxx::Object asObject(const std::string& text);
// The names in a JSON array of strings.
std::vector<std::string> asNames(const std::string& text);
bool contains(const std::string& text, const std::string& part);
// A member of an object, or the fallback when it is absent or of another type.
std::string textOf(const jsonxx::Object& object, const std::string& key);
double numberOf(const jsonxx::Object& object, const std::string& key, double fallback);

}  // namespace arraysim_test
