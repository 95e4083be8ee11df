#include "Faults.h"

#include "Params.h"

namespace arraysim {

namespace {

struct ActionName {
    const char* name;
    FaultAction action;
};

constexpr ActionName kActions[] = {
    {"fail", FaultAction::Fail},         {"latency", FaultAction::Latency},
    {"drop", FaultAction::Drop},         {"malformed", FaultAction::Malformed},
    {"truncate", FaultAction::Truncate}, {"respond", FaultAction::Respond},
};

const char* actionName(FaultAction action) {
    for (const ActionName& entry : kActions) {
        if (entry.action == action) {
            return entry.name;
        }
    }
    return "?";
}

bool readInt(const jsonxx::Object& object, const std::string& key, int& out, std::string& error) {
    auto it = object.kv_map().find(key);
    if (it == object.kv_map().end()) {
        return true;
    }
    long long value = 0;
    if (!readInteger(it->second, value) || value < -1 || value > 1000000000) {
        error = "fault member \"" + key + "\" must be an integer";
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

}  // namespace

bool parseFault(const jsonxx::Object& description, Fault& fault, std::string& error) {
    Fault parsed;
    if (description.has<std::string>("method")) {
        parsed.method = description.get<std::string>("method");
    }
    if (!description.has<std::string>("action")) {
        error = "fault needs an \"action\"";
        return false;
    }
    const std::string& action = description.get<std::string>("action");
    bool known = false;
    for (const ActionName& entry : kActions) {
        if (action == entry.name) {
            parsed.action = entry.action;
            known = true;
        }
    }
    if (!known) {
        error = "unknown fault action '" + action +
                "' (fail, latency, drop, malformed, truncate, respond)";
        return false;
    }
    parsed.process =
        parsed.action == FaultAction::Malformed || parsed.action == FaultAction::Truncate;
    if (parsed.action == FaultAction::Respond) {
        parsed.status = 200;
    }
    if (!readInt(description, "count", parsed.remaining, error) ||
        !readInt(description, "status", parsed.status, error) ||
        !readInt(description, "ms", parsed.latencyMs, error)) {
        return false;
    }
    if (parsed.remaining == 0 || parsed.status < 100 || parsed.status > 599 ||
        parsed.latencyMs < 0) {
        error = "fault count must be -1 or positive, status 100 to 599, ms not negative";
        return false;
    }
    if (description.has<std::string>("code")) {
        parsed.code = description.get<std::string>("code");
    }
    if (description.has<std::string>("message")) {
        parsed.message = description.get<std::string>("message");
    }
    if (description.has<std::string>("body")) {
        parsed.body = description.get<std::string>("body");
    }
    if (description.has<std::string>("contentType")) {
        parsed.contentType = description.get<std::string>("contentType");
    }
    if (description.has<bool>("process")) {
        parsed.process = description.get<bool>("process");
    }
    fault = parsed;
    return true;
}

jsonxx::Object faultJson(const Fault& fault) {
    jsonxx::Object object;
    object.import("method", fault.method);
    object.import("action", actionName(fault.action));
    object.import("count", static_cast<jsonxx::Number>(fault.remaining));
    object.import("process", fault.process);
    switch (fault.action) {
        case FaultAction::Fail:
            object.import("status", static_cast<jsonxx::Number>(fault.status));
            object.import("code", fault.code);
            object.import("message", fault.message);
            break;
        case FaultAction::Latency:
            object.import("ms", static_cast<jsonxx::Number>(fault.latencyMs));
            break;
        case FaultAction::Respond:
            object.import("status", static_cast<jsonxx::Number>(fault.status));
            object.import("body", fault.body);
            object.import("contentType", fault.contentType);
            break;
        default:
            break;
    }
    return object;
}

void FaultSet::add(const Fault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back(fault);
}

bool FaultSet::addJson(const jsonxx::Value& description, std::string& error) {
    std::vector<Fault> parsed;
    if (description.is<jsonxx::Object>()) {
        Fault fault;
        if (!parseFault(description.get<jsonxx::Object>(), fault, error)) {
            return false;
        }
        parsed.push_back(fault);
    } else if (description.is<jsonxx::Array>()) {
        for (const jsonxx::Value& entry : description.get<jsonxx::Array>().values()) {
            Fault fault;
            if (!entry.is<jsonxx::Object>()) {
                error = "a fault list holds objects only";
                return false;
            }
            if (!parseFault(entry.get<jsonxx::Object>(), fault, error)) {
                return false;
            }
            parsed.push_back(fault);
        }
    } else {
        error = "a fault is a JSON object or a list of them";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.insert(faults_.end(), parsed.begin(), parsed.end());
    return true;
}

FaultDecision FaultSet::take(const std::string& method) {
    std::lock_guard<std::mutex> lock(mutex_);
    FaultDecision decision;
    for (Fault& fault : faults_) {
        if (fault.remaining == 0 || (fault.method != "*" && fault.method != method)) {
            continue;
        }
        if (fault.action == FaultAction::Latency) {
            decision.latencyMs += fault.latencyMs;
        } else if (!decision.act) {
            decision.act = true;
            decision.fault = fault;
        } else {
            continue;
        }
        if (fault.remaining > 0) {
            --fault.remaining;
        }
    }
    std::vector<Fault> kept;
    for (const Fault& fault : faults_) {
        if (fault.remaining != 0) {
            kept.push_back(fault);
        }
    }
    faults_.swap(kept);
    return decision;
}

void FaultSet::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

jsonxx::Array FaultSet::describe() const {
    std::lock_guard<std::mutex> lock(mutex_);
    jsonxx::Array list;
    for (const Fault& fault : faults_) {
        list.append(faultJson(fault));
    }
    return list;
}

std::string malformedBody() {
    return "{\"result\": [\"unterminated, \"status\" :: ok}";
}

std::string truncatedBody(const std::string& body) {
    return body.substr(0, body.size() / 2);
}

}  // namespace arraysim
