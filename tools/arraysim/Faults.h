// SPDX-License-Identifier: Apache-2.0
// Faults: misbehaviour injected into the REST methods, from the seed or at run time.
//
// A fault is described in JSON:
//   {"method": "createVolumeSnapshot" | "*", "action": "fail" | "latency" | "drop" |
//    "malformed" | "truncate" | "respond", "count": 1, ...}
// count is how many calls it affects (-1: every call until cleared), after "skip" matching
// calls (default 0) have passed untouched. Per action:
//   fail      answer {status (500), code ("EZEBI_INJECTED"), message ("Injected failure")}
//   latency   wait "ms" milliseconds before answering (combines with any other fault), and
//             "perListedUs" microseconds more for every object the answer lists, after the
//             call is carried out (an array takes longer to list more)
//   drop      close the connection without an answer
//   malformed answer 200 with text that is not JSON
//   truncate  answer 200 with the first half of the real answer
//   respond   answer {status (200), body (""), contentType ("application/json")} as given
// "process" (bool) says whether the array still carries the call out before the fault acts;
// the default is false for fail, drop, respond and latency, true for malformed and truncate. A
// latency with "process" waits after carrying the call out, before answering: an array that
// has done the work but answers late.
//
// Thread-safe: every member locks the set.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "jsonxx.h"

namespace arraysim {

enum class FaultAction { Fail, Latency, Drop, Malformed, Truncate, Respond };

struct Fault {
    std::string method = "*";
    FaultAction action = FaultAction::Fail;
    int remaining = 1;  // -1: unlimited
    int skip = 0;       // matching calls let through untouched before the fault acts
    int status = 500;
    std::string code = "EZEBI_INJECTED";
    std::string message = "Injected failure";
    std::string body;
    std::string contentType = "application/json";
    int latencyMs = 0;
    int perListedUs = 0;
    bool process = false;
};

// What to do with one call.
struct FaultDecision {
    int latencyMs = 0;       // before the call is carried out
    int latencyAfterMs = 0;  // after it, before the answer
    int perListedUs = 0;     // after it, for each object the answer lists
    bool act = false;        // `fault` applies
    Fault fault;
};

// Reads one fault description (a JSON object); false with `error` set when it is not valid.
bool parseFault(const nlohmann::json& description, Fault& fault, std::string& error);
jsonxx::Object faultJson(const Fault& fault);

class FaultSet {
public:
    void add(const Fault& fault);
    // Adds an object or an array of objects; nothing is added when any entry is invalid.
    bool addJson(const nlohmann::json& description, std::string& error);
    // Consumes the faults that apply to one call of `method`: every latency fault adds its
    // wait, and the first other fault in order of addition acts.
    FaultDecision take(const std::string& method);
    void clear();
    jsonxx::Array describe() const;

private:
    mutable std::mutex mutex_;
    std::vector<Fault> faults_;
};

// The texts answered by the malformed and truncate actions.
std::string malformedBody();
std::string truncatedBody(const std::string& body);

}  // namespace arraysim
