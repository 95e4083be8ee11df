// SPDX-License-Identifier: Apache-2.0
// Counters: what the simulated array has seen, for tests and benchmarks to assert on. Counts
// API requests per method (names the array does not know are counted under "<unknown>"),
// failures per method (answers other than 200), TCP connections accepted, TLS handshakes
// completed, rejected credentials, injected faults, host-view queries and control requests,
// and the time spent answering API requests (so a benchmark can tell the array's share of a
// call's wall time from the client's).
//
// Thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "jsonxx.h"

namespace arraysim {

class Counters {
public:
    void request(const std::string& method);
    // A request that reached a method that may change the array (counted beside request()).
    void changingRequest() { ++changingRequests_; }
    void failure(const std::string& method);
    void connection() { ++connections_; }
    // A completed TLS handshake; `full` unless it resumed an earlier session.
    void handshake(bool full) {
        ++handshakes_;
        if (full) {
            ++fullHandshakes_;
        }
    }
    void authFailure() { ++authFailures_; }
    void faultInjected() { ++faults_; }
    void hostViewQuery() { ++hostViewQueries_; }
    void controlRequest() { ++controlRequests_; }
    void serviced(std::chrono::nanoseconds time) { serviceNanoseconds_ += time.count(); }

    uint64_t requests(const std::string& method) const;
    uint64_t totalRequests() const;
    uint64_t connections() const { return connections_; }
    uint64_t handshakes() const { return handshakes_; }
    uint64_t fullHandshakes() const { return fullHandshakes_; }

    // {"requests": n, "changingRequests": n, "methods": {name: n}, "failures": {name: n},
    //  "connections": n,
    //  "tlsHandshakes": n, "fullTlsHandshakes": n (those that resumed no session), "authFailures":
    //  n, "faultsInjected": n, "hostViewQueries": n, "controlRequests": n,
    //  "serviceNanoseconds": n}
    jsonxx::Object json() const;
    void reset();

private:
    mutable std::mutex mutex_;
    std::map<std::string, uint64_t> requests_;
    std::map<std::string, uint64_t> failures_;
    std::atomic<uint64_t> changingRequests_{0};
    std::atomic<uint64_t> connections_{0};
    std::atomic<uint64_t> handshakes_{0};
    std::atomic<uint64_t> fullHandshakes_{0};
    std::atomic<uint64_t> authFailures_{0};
    std::atomic<uint64_t> faults_{0};
    std::atomic<uint64_t> hostViewQueries_{0};
    std::atomic<uint64_t> controlRequests_{0};
    std::atomic<uint64_t> serviceNanoseconds_{0};
};

// Adds the time between its construction and its destruction to the service time.
class ServiceTimer {
public:
    explicit ServiceTimer(Counters& counters)
        : counters_(counters), start_(std::chrono::steady_clock::now()) {}
    ~ServiceTimer() { counters_.serviced(std::chrono::steady_clock::now() - start_); }
    ServiceTimer(const ServiceTimer&) = delete;
    ServiceTimer& operator=(const ServiceTimer&) = delete;

private:
    Counters& counters_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace arraysim
