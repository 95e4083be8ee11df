// SPDX-License-Identifier: Apache-2.0
// ArraySimulator: the simulated IntelliFlash array as an HTTPS service on a loopback address.
// It answers /zebi/api/v2/<method> (the array's REST API) and /control/... (the simulator's
// own routes) on one port, over a model seeded from JSON.
//
// Before a body is read, a request is refused (with the array's error model and its own
// message) when its credentials are wrong (API only), its body is larger than maxBodyBytes, it
// carries a Content-Encoding or a Transfer-Encoding other than chunked, a POST has no length,
// it goes to another path or uses another HTTP method, or its framing is ambiguous (see
// framingProblem() in RequestFraming.h); a refused request whose body was not read, or whose
// framing is ambiguous, ends its connection after the answer.
//
// Use: construct with options, start(), talk to https://<address>:<port()>/ trusting
// caFile(), stop() (also done by the destructor). start() may be called once. Several
// simulators can run in one process. Starting ignores SIGPIPE for the whole process: a client
// that goes away mid-answer must not end it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataStore.h"
#include "Limits.h"
#include "jsonxx.h"

namespace arraysim {

class Model;
class FaultSet;

struct SimulatorOptions {
    std::string address = "127.0.0.1";
    int port = 0;  // 0: any free port
    // The seed: `seedText` when not empty, else the file `seedFile`.
    std::string seedText;
    std::string seedFile;
    // Overrides the seed's API version when not empty ("2.0", "2.1", ...); the minor version
    // becomes the part after the first '.'.
    std::string apiVersion;
    // TLS: a given certificate and key (PEM), with the CA file clients should trust (the
    // certificate itself when empty); or else certificates kept in `certDirectory` (created on
    // first start; default: defaultCertDirectory(), the user's state directory).
    std::string certFile;
    std::string keyFile;
    std::string caFile;
    std::string certDirectory;
    // When not empty: present a self-signed certificate for these names (kept in
    // `certDirectory`), as an array does that made its own, rather than one issued by the
    // directory's CA for `address`. `expiredCertificate` makes it one whose validity ended.
    std::vector<std::string> selfSignedNames;
    bool expiredCertificate = false;
    int threads = 64;          // most requests answered at once (one worker each)
    int keepAliveSeconds = 5;  // an idle kept-alive connection is closed after this
    // The TLS handshake, and each request from its first byte to its last, must be done
    // within this; else the connection is closed unanswered.
    int readTimeoutSeconds = 5;
    int keepAliveMaxRequests = 100;
    size_t maxBodyBytes = kDefaultMaxBodyBytes;
    // When not empty, the array keeps its bytes in this directory (made when missing): an
    // image file per volume, snapshot and clone, a tree per share (see DataStore.h). Images
    // are as large as their volumes, but at most `dataImageCap` bytes.
    std::string dataDirectory;
    uint64_t dataImageCap = kDefaultImageCap;
    // Called from a server thread when POST /control/shutdown arrives.
    std::function<void()> onShutdownRequest;
};

class ArraySimulator {
public:
    explicit ArraySimulator(SimulatorOptions options);
    ~ArraySimulator();
    ArraySimulator(const ArraySimulator&) = delete;
    ArraySimulator& operator=(const ArraySimulator&) = delete;

    // Loads the seed, prepares TLS and starts serving. False with `error` set when the seed,
    // the certificates or the address cannot be used; nothing is then left running.
    bool start(std::string& error);
    // Stops serving and waits for the server threads, cutting kept-alive connections.
    // Idempotent.
    void stop();

    int port() const;
    const std::string& caFile() const;
    std::string url() const;  // "https://<address>:<port>" ("https://[<address>]:<port>" for IPv6)

    // In-process access for tests and hosts. counters() is the JSON of the control endpoint.
    jsonxx::Object counters() const;
    FaultSet& faults();
    // Runs `action` on the model under the model lock.
    void withModel(const std::function<void(Model&)>& action);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace arraysim
