// SPDX-License-Identifier: Apache-2.0
#include "ApiEndpoint.h"

#include <cstdio>

#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

namespace arraysim {

namespace {

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

bool base64Decode(const std::string& text, std::string& out) {
    out.clear();
    unsigned int buffer = 0;
    int bits = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] != '='; ++i) {
        int value = base64Value(text[i]);
        if (value < 0) {
            return false;
        }
        buffer = (buffer << 6) | static_cast<unsigned int>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xff);
        }
    }
    for (; i < text.size(); ++i) {
        if (text[i] != '=') {
            return false;
        }
    }
    return true;
}

std::string callName(const std::string& httpMethod, const std::string& method) {
    return httpMethod + " /zebi/api/v2/" + method;
}

Reply faultReply(const Fault& fault, const Reply& real) {
    Reply reply;
    switch (fault.action) {
        case FaultAction::Fail: {
            ApiError error;
            error.status = fault.status;
            error.code = fault.code;
            error.message = fault.message;
            return errorReply(error);
        }
        case FaultAction::Respond:
            reply.status = fault.status;
            reply.body = fault.body;
            reply.contentType = fault.contentType;
            return reply;
        case FaultAction::Malformed:
            reply.body = malformedBody();
            return reply;
        case FaultAction::Truncate:
            reply = real;
            reply.body = truncatedBody(real.body);
            return reply;
        default:
            return real;
    }
}

Reply dispatch(SimulatorState& state, MethodHandler handler, const std::string& method,
               const std::string& body) {
    try {
        std::lock_guard<std::mutex> lock(state.modelMutex);
        Params params;
        ApiError error;
        if (!Params::parse(method, body, params, error)) {
            return errorReply(error);
        }
        Reply reply = handler(state.model, params);
        // The bytes follow before the answer leaves: a snapshot holds what the volume held
        // when the array carried out the call.
        std::string dataError;
        if (state.data && reply.status == 200 && state.methods.changes(method) &&
            !state.data->sync(state.model, dataError)) {
            std::fprintf(stderr, "arraysim: data: %s: %s\n", method.c_str(), dataError.c_str());
            ApiError error;
            error.code = "EZEBI_INTERNAL_ERROR";
            error.message = "Internal error: the data of the call could not be kept: " + dataError;
            return errorReply(error);
        }
        return reply;
    } catch (const std::exception& e) {
        ApiError error;
        error.code = "EZEBI_INTERNAL_ERROR";
        error.message = std::string("Internal error: ") + e.what();
        return errorReply(error);
    } catch (...) {
        ApiError error;
        error.code = "EZEBI_INTERNAL_ERROR";
        error.message = "Internal error";
        return errorReply(error);
    }
}

}  // namespace

bool credentialsAccepted(const Model& model, const std::string& authorization) {
    const std::string scheme = "Basic ";
    if (authorization.compare(0, scheme.size(), scheme) != 0) {
        return false;
    }
    std::string decoded;
    if (!base64Decode(authorization.substr(scheme.size()), decoded)) {
        return false;
    }
    size_t colon = decoded.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    auto it = model.users.find(decoded.substr(0, colon));
    return it != model.users.end() && it->second == decoded.substr(colon + 1);
}

bool credentialsAccepted(SimulatorState& state, const std::string& authorization) {
    std::lock_guard<std::mutex> lock(state.modelMutex);
    return credentialsAccepted(state.model, authorization);
}

ApiOutcome refuseApiRequest(SimulatorState& state, const std::string& httpMethod,
                            const std::string& method, const ApiError& error) {
    const std::string counted = state.methods.find(method) != nullptr ? method : "<unknown>";
    state.counters.request(counted);
    state.counters.failure(counted);
    ApiOutcome outcome;
    if (error.status == 401) {
        state.counters.authFailure();
        outcome.challenge = true;
    }
    outcome.reply = withDetails(errorReply(error), callName(httpMethod, method));
    return outcome;
}

ApiOutcome handleApiRequest(SimulatorState& state, const std::string& httpMethod,
                            const std::string& method, const std::string& body,
                            const std::string& authorization) {
    const ServiceTimer timer(state.counters);
    if (!credentialsAccepted(state, authorization)) {
        return refuseApiRequest(state, httpMethod, method, errors::accessDenied());
    }
    MethodHandler handler = state.methods.find(method);
    if (handler == nullptr) {
        return refuseApiRequest(state, httpMethod, method, errors::unknownMethod(method));
    }
    if (httpMethod != "POST" && !state.methods.acceptsGet(method)) {
        ApiError error;
        error.status = 405;
        error.code = "EZEBI_METHOD_NOT_ALLOWED";
        error.message = method + " takes its parameters in the body of a POST";
        return refuseApiRequest(state, httpMethod, method, error);
    }
    ApiOutcome outcome;
    state.counters.request(method);
    if (state.methods.changes(method)) {
        state.counters.changingRequest();
    }

    FaultDecision decision = state.faults.take(method);
    if (decision.latencyMs > 0) {
        state.stopping.sleepFor(decision.latencyMs);
    }
    const bool before = decision.act && !decision.fault.process;
    if (decision.act) {
        state.counters.faultInjected();
    }
    if (before && decision.fault.action == FaultAction::Drop) {
        outcome.dropConnection = true;
        state.counters.failure(method);
        return outcome;
    }
    Reply real;
    if (!before) {
        real = dispatch(state, handler, method, body);
    }
    const long long after =
        static_cast<long long>(decision.latencyAfterMs) * 1000 +
        static_cast<long long>(decision.perListedUs) * static_cast<long long>(real.listed);
    if (after > 0) {
        state.stopping.sleepForUs(after);
    }
    outcome.reply = withDetails(decision.act ? faultReply(decision.fault, real) : real,
                                callName(httpMethod, method));
    outcome.dropConnection = decision.act && decision.fault.action == FaultAction::Drop;
    if (outcome.dropConnection || outcome.reply.status != 200) {
        state.counters.failure(method);
    }
    return outcome;
}

}  // namespace arraysim
