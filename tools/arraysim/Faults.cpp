// SPDX-License-Identifier: Apache-2.0
#include "Faults.h"

#include <cctype>
#include <set>

#include "Limits.h"
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

// Reads an integer member in [min, max] when present.
bool readInt(const nlohmann::json& object, const std::string& key, long long min, long long max,
             int& out, std::string& error) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    long long value = 0;
    if (!readInteger(*it, value) || value < min || value > max) {
        error = "fault member \"" + key + "\" must be an integer from " + std::to_string(min) +
                " to " + std::to_string(max);
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

// Reads a text member of at most `limit` bytes when present; `allowed` (when given) says which
// characters it may hold.
bool readText(const nlohmann::json& object, const std::string& key, size_t limit,
              bool (*allowed)(char), std::string& out, std::string& error) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    if (!it->is_string()) {
        error = "fault member \"" + key + "\" must be a text";
        return false;
    }
    const std::string& text = it->get_ref<const std::string&>();
    bool clean = true;
    for (char c : text) {
        clean = clean && (allowed == nullptr || allowed(c));
    }
    if (text.size() > limit || !clean) {
        error = "fault member \"" + key + "\" must be a text of at most " + std::to_string(limit) +
                " characters" + (allowed != nullptr ? " without control characters or blanks" : "");
        return false;
    }
    out = text;
    return true;
}

bool nameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '*' || c == '_' || c == '-';
}

bool headerCharacter(char c) {
    return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
}

const std::set<std::string> kMembers = {"method", "action",  "count", "status",
                                        "code",   "message", "body",  "contentType",
                                        "ms",     "process", "skip",  "perListedUs"};

}  // namespace

bool parseFault(const nlohmann::json& description, Fault& fault, std::string& error) {
    if (!description.is_object()) {
        error = "a fault is a JSON object";
        return false;
    }
    for (auto member = description.begin(); member != description.end(); ++member) {
        if (kMembers.count(member.key()) == 0) {
            error = "unknown fault member \"" + member.key().substr(0, 64) + "\"";
            return false;
        }
    }
    Fault parsed;
    const auto named = description.find("action");
    if (named == description.end() || !named->is_string()) {
        error = "fault needs an \"action\"";
        return false;
    }
    const std::string& action = named->get_ref<const std::string&>();
    bool known = false;
    for (const ActionName& entry : kActions) {
        if (action == entry.name) {
            parsed.action = entry.action;
            known = true;
        }
    }
    if (!known) {
        error = "unknown fault action '" + action.substr(0, 64) +
                "' (fail, latency, drop, malformed, truncate, respond)";
        return false;
    }
    parsed.process =
        parsed.action == FaultAction::Malformed || parsed.action == FaultAction::Truncate;
    if (parsed.action == FaultAction::Respond) {
        parsed.status = 200;
    }
    const auto process = description.find("process");
    if (process != description.end() && !readFlag(*process, parsed.process)) {
        error = "fault member \"process\" must be true or false";
        return false;
    }
    if (!readInt(description, "count", -1, 1000000000, parsed.remaining, error) ||
        !readInt(description, "status", 100, 599, parsed.status, error) ||
        !readInt(description, "ms", 0, kMaxLatencyMs, parsed.latencyMs, error) ||
        !readInt(description, "perListedUs", 0, 1000000, parsed.perListedUs, error) ||
        !readInt(description, "skip", 0, 1000000000, parsed.skip, error) ||
        !readText(description, "method", 64, nameCharacter, parsed.method, error) ||
        !readText(description, "code", 64, nameCharacter, parsed.code, error) ||
        !readText(description, "message", kMaxControlText, nullptr, parsed.message, error) ||
        !readText(description, "body", kMaxControlBody, nullptr, parsed.body, error) ||
        !readText(description, "contentType", 128, headerCharacter, parsed.contentType, error)) {
        return false;
    }
    if (parsed.remaining == 0) {
        error = "fault member \"count\" must be -1 (until cleared) or positive";
        return false;
    }
    fault = parsed;
    return true;
}

jsonxx::Object faultJson(const Fault& fault) {
    jsonxx::Object object;
    object.import("method", fault.method);
    object.import("action", actionName(fault.action));
    object.import("count", static_cast<jsonxx::Number>(fault.remaining));
    object.import("skip", static_cast<jsonxx::Number>(fault.skip));
    object.import("process", fault.process);
    switch (fault.action) {
        case FaultAction::Fail:
            object.import("status", static_cast<jsonxx::Number>(fault.status));
            object.import("code", fault.code);
            object.import("message", fault.message);
            break;
        case FaultAction::Latency:
            object.import("ms", static_cast<jsonxx::Number>(fault.latencyMs));
            object.import("perListedUs", static_cast<jsonxx::Number>(fault.perListedUs));
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

bool FaultSet::addJson(const nlohmann::json& description, std::string& error) {
    std::vector<Fault> parsed;
    if (description.is_array() && description.size() > kMaxControlList) {
        error = "at most " + std::to_string(kMaxControlList) + " faults can be added at once";
        return false;
    }
    if (description.is_object()) {
        Fault fault;
        if (!parseFault(description, fault, error)) {
            return false;
        }
        parsed.push_back(fault);
    } else if (description.is_array()) {
        for (const nlohmann::json& entry : description) {
            Fault fault;
            if (!entry.is_object()) {
                error = "a fault list holds objects only";
                return false;
            }
            if (!parseFault(entry, fault, error)) {
                return false;
            }
            parsed.push_back(fault);
        }
    } else {
        error = "a fault is a JSON object or a list of them";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (faults_.size() + parsed.size() > kMaxFaults) {
        error = "at most " + std::to_string(kMaxFaults) + " faults can be pending";
        return false;
    }
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
        if (fault.skip > 0) {
            --fault.skip;
            continue;
        }
        if (fault.action == FaultAction::Latency) {
            (fault.process ? decision.latencyAfterMs : decision.latencyMs) += fault.latencyMs;
            decision.perListedUs += fault.perListedUs;
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
