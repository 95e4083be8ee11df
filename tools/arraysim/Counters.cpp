// SPDX-License-Identifier: Apache-2.0
#include "Counters.h"

namespace arraysim {

namespace {

jsonxx::Number n(uint64_t value) {
    return static_cast<jsonxx::Number>(value);
}

}  // namespace

void Counters::request(const std::string& method) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++requests_[method];
}

void Counters::failure(const std::string& method) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++failures_[method];
}

uint64_t Counters::requests(const std::string& method) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = requests_.find(method);
    return it == requests_.end() ? 0 : it->second;
}

uint64_t Counters::totalRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t total = 0;
    for (const auto& entry : requests_) {
        total += entry.second;
    }
    return total;
}

jsonxx::Object Counters::json() const {
    jsonxx::Object out;
    jsonxx::Object methods;
    jsonxx::Object failures;
    uint64_t total = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& entry : requests_) {
            methods.import(entry.first, n(entry.second));
            total += entry.second;
        }
        for (const auto& entry : failures_) {
            failures.import(entry.first, n(entry.second));
        }
    }
    out.import("requests", n(total));
    out.import("changingRequests", n(changingRequests_));
    out.import("methods", methods);
    out.import("failures", failures);
    out.import("connections", n(connections_));
    out.import("tlsHandshakes", n(handshakes_));
    out.import("fullTlsHandshakes", n(fullHandshakes_));
    out.import("authFailures", n(authFailures_));
    out.import("faultsInjected", n(faults_));
    out.import("hostViewQueries", n(hostViewQueries_));
    out.import("controlRequests", n(controlRequests_));
    out.import("serviceNanoseconds", n(serviceNanoseconds_));
    return out;
}

void Counters::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
    failures_.clear();
    changingRequests_ = 0;
    connections_ = 0;
    handshakes_ = 0;
    fullHandshakes_ = 0;
    authFailures_ = 0;
    faults_ = 0;
    hostViewQueries_ = 0;
    controlRequests_ = 0;
    serviceNanoseconds_ = 0;
}

}  // namespace arraysim
