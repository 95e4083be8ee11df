#include "CallScope.h"

#include "CallRecorder.h"
#include "CurlShare.h"

namespace kyplatform {
namespace {
// The calling thread's open scopes, the share they hand out (made on first use) and what they
// count.
struct ThreadCall {
    std::shared_ptr<CurlShare> share;
    CallStatistics statistics;
};
thread_local int t_depth = 0;
thread_local ThreadCall* t_call = nullptr;
}  // namespace

CallScope::CallScope() {
    if (t_depth++ == 0) {
        t_call = new ThreadCall();
    }
}

CallScope::~CallScope() {
    if (--t_depth == 0) {
        // Clients still alive keep the share until they go.
        delete t_call;
        t_call = nullptr;
    }
}

CallStatistics CallScope::statistics() const {
    return t_call != nullptr ? t_call->statistics : CallStatistics();
}

std::shared_ptr<CurlShare> currentCurlShare() {
    if (t_call == nullptr) {
        return nullptr;
    }
    if (!t_call->share) {
        t_call->share = CurlShare::create();
    }
    return t_call->share;
}

namespace record {

void request(const std::string& method, bool failed) {
    if (t_call != nullptr) {
        CallStatistics::Method& entry = t_call->statistics.methods[method];
        ++entry.requests;
        entry.failures += failed ? 1 : 0;
    }
}

void connections(uint64_t opened) {
    if (t_call != nullptr) {
        t_call->statistics.connections += opened;
    }
}

void fullHandshake() {
    if (t_call != nullptr) {
        ++t_call->statistics.fullHandshakes;
    }
}

void sleep(unsigned int milliseconds) {
    if (t_call != nullptr) {
        ++t_call->statistics.sleeps;
        t_call->statistics.sleptMs += milliseconds;
    }
}

}  // namespace record
}  // namespace kyplatform
