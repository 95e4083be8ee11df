// SPDX-License-Identifier: Apache-2.0
#include "ControlEndpoint.h"

#include <cctype>
#include <map>
#include <set>

#include "HostView.h"
#include "Limits.h"
#include "ModelJson.h"
#include "Params.h"
#include "RequestJson.h"

namespace arraysim {

namespace {

struct Request {
    SimulatorState& state;
    const std::string& body;
};

using RouteHandler = Reply (*)(Request& request);

struct Route {
    const char* httpMethod;
    RouteHandler handler;
};

Reply controlError(int status, const std::string& message) {
    ApiError error;
    error.status = status;
    error.code = status == 404   ? "EZEBI_RESOURCE_NOT_FOUND"
                 : status == 405 ? "EZEBI_METHOD_NOT_ALLOWED"
                 : status >= 500 ? "EZEBI_INTERNAL_ERROR"
                                 : "EZEBI_INVALID_ARGUMENT";
    error.message = message;
    return errorReply(error);
}

// The body as an object holding no members but `allowed`; an empty body is an empty object.
bool bodyObject(const std::string& body, const std::set<std::string>& allowed,
                nlohmann::json& object, Reply& failure) {
    object = nlohmann::json::object();
    if (body.find_first_not_of(" \t\r\n") == std::string::npos) {
        return true;
    }
    std::string why;
    if (!parseRequestJson(body, object, why) || !object.is_object()) {
        failure =
            controlError(400, "the body must be a JSON object" + (why.empty() ? "" : "; " + why));
        return false;
    }
    for (auto member = object.begin(); member != object.end(); ++member) {
        if (allowed.count(member.key()) == 0) {
            failure = controlError(400, "unknown member \"" + member.key().substr(0, 64) + "\"");
            return false;
        }
    }
    return true;
}

// A text member of 1 to `limit` characters when present; false (with `failure`) otherwise.
bool textMember(const nlohmann::json& object, const std::string& key, size_t limit,
                std::string& out, Reply& failure) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    if (!it->is_string() || it->get_ref<const std::string&>().empty() ||
        it->get_ref<const std::string&>().size() > limit) {
        failure = controlError(
            400, "\"" + key + "\" must be a text of 1 to " + std::to_string(limit) + " characters");
        return false;
    }
    out = it->get<std::string>();
    return true;
}

// Version texts: digits, letters, '.' and '-'.
bool versionText(const std::string& text) {
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') {
            return false;
        }
    }
    return true;
}

Reply counters(Request& request) {
    return jsonReply(request.state.counters.json());
}

Reply resetCounters(Request& request) {
    jsonxx::Object before = request.state.counters.json();
    request.state.counters.reset();
    return jsonReply(before);
}

Reply state(Request& request) {
    std::lock_guard<std::mutex> lock(request.state.modelMutex);
    return jsonReply(stateJson(request.state.model));
}

Reply listFaults(Request& request) {
    jsonxx::Object answer;
    answer.import("faults", request.state.faults.describe());
    return jsonReply(answer);
}

Reply addFaults(Request& request) {
    nlohmann::json description;
    std::string why;
    if (!parseRequestJson(request.body, description, why) ||
        (!description.is_object() && !description.is_array())) {
        return controlError(400, "the body must be a fault object or a list of them" +
                                     (why.empty() ? "" : "; " + why));
    }
    std::string error;
    if (!request.state.faults.addJson(description, error)) {
        return controlError(400, error);
    }
    return listFaults(request);
}

Reply clearFaults(Request& request) {
    request.state.faults.clear();
    return listFaults(request);
}

Reply config(Request& request) {
    nlohmann::json body;
    Reply failure;
    if (!bodyObject(request.body,
                    {"snapshotPendingPolls", "mappingVisibilityDelay", "listSnapshotsWholeName",
                     "apiVersion", "apiMinorVersion"},
                    body, failure)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(request.state.modelMutex);
    Model& model = request.state.model;
    Behaviour behaviour = model.behaviour;
    SystemInfo system = model.system;
    for (auto member = body.begin(); member != body.end(); ++member) {
        const std::string& key = member.key();
        long long number = 0;
        bool flag = false;
        if (key == "snapshotPendingPolls" || key == "mappingVisibilityDelay") {
            if (!readInteger(member.value(), number) || number < 0 || number > 1000000) {
                return controlError(400, key + " must be a count");
            }
            (key == "snapshotPendingPolls" ? behaviour.snapshotPendingPolls
                                           : behaviour.mappingVisibilityDelay) =
                static_cast<int>(number);
        } else if (key == "listSnapshotsWholeName") {
            if (!readFlag(member.value(), flag)) {
                return controlError(400, key + " must be true or false");
            }
            behaviour.listSnapshotsWholeName = flag;
        } else {
            std::string text;
            if (!textMember(body, key, 32, text, failure)) {
                return failure;
            }
            if (!versionText(text)) {
                return controlError(400, key + " must hold only digits, letters, '.' and '-'");
            }
            (key == "apiVersion" ? system.apiVersion : system.apiMinorVersion) = text;
        }
    }
    model.behaviour = behaviour;
    model.system = system;
    jsonxx::Object full = stateJson(model);
    jsonxx::Object answer;
    answer.import("behaviour", full.get<jsonxx::Object>("behaviour"));
    answer.import("system", full.get<jsonxx::Object>("system"));
    return jsonReply(answer);
}

// "initiators": a list of FC port names (any usual spelling) and iSCSI names.
bool initiatorList(const nlohmann::json& body, std::vector<std::string>& out, Reply& failure) {
    const std::string wanted = "\"initiators\" must be a list of at most " +
                               std::to_string(kMaxControlList) +
                               " FC port names and iSCSI initiator names";
    const auto list = body.find("initiators");
    if (list == body.end() || !list->is_array() || list->size() > kMaxControlList) {
        failure = controlError(400, wanted);
        return false;
    }
    for (const nlohmann::json& value : *list) {
        if (!value.is_string() || (!validPortName(value.get<std::string>()) &&
                                   !validIscsiName(value.get<std::string>()))) {
            failure = controlError(400, wanted);
            return false;
        }
        out.push_back(value.get<std::string>());
    }
    return true;
}

Reply hostViewRoute(Request& request) {
    nlohmann::json body;
    Reply failure;
    std::vector<std::string> initiators;
    if (!bodyObject(request.body, {"initiators"}, body, failure) ||
        !initiatorList(body, initiators, failure)) {
        return failure;
    }
    request.state.counters.hostViewQuery();
    std::lock_guard<std::mutex> lock(request.state.modelMutex);
    return jsonReply(hostView(request.state.model, initiators, request.state.data.get()));
}

// {"datasetPath", "replication": [{"name", "remoteHost", "remotePool", "remoteProject",
// "lastReplicatedSnapshot"}]}: replaces the dataset's replication configurations (an empty list
// removes them). The last replicated snapshot, when given, is one of the dataset's snapshots.
Reply replication(Request& request) {
    nlohmann::json body;
    Reply failure;
    std::string path;
    if (!bodyObject(request.body, {"datasetPath", "replication"}, body, failure) ||
        !textMember(body, "datasetPath", kMaxPathLength, path, failure)) {
        return failure;
    }
    const auto list = body.find("replication");
    if (path.empty() || list == body.end() || !list->is_array()) {
        return controlError(400, "needs \"datasetPath\" and a list \"replication\"");
    }
    std::vector<ReplicationConfig> configs;
    for (const nlohmann::json& entry : *list) {
        ReplicationConfig config;
        if (!entry.is_object()) {
            return controlError(400, "each replication configuration is an object");
        }
        for (auto member = entry.begin(); member != entry.end(); ++member) {
            const std::map<std::string, std::string ReplicationConfig::*> fields = {
                {"name", &ReplicationConfig::name},
                {"remoteHost", &ReplicationConfig::remoteHost},
                {"remotePool", &ReplicationConfig::remotePool},
                {"remoteProject", &ReplicationConfig::remoteProject},
                {"lastReplicatedSnapshot", &ReplicationConfig::lastReplicatedSnapshot}};
            const auto field = fields.find(member.key());
            if (field == fields.end() || !member->is_string() ||
                member->get_ref<const std::string&>().size() > kMaxPathLength) {
                return controlError(400,
                                    "a replication configuration holds only texts name, "
                                    "remoteHost, remotePool, remoteProject and "
                                    "lastReplicatedSnapshot");
            }
            config.*(field->second) = member->get<std::string>();
        }
        if (config.name.empty()) {
            return controlError(400, "a replication configuration needs a \"name\"");
        }
        configs.push_back(config);
    }
    std::lock_guard<std::mutex> lock(request.state.modelMutex);
    Dataset* dataset = request.state.model.findDataset(path);
    if (dataset == nullptr) {
        return controlError(404, "no dataset " + path);
    }
    jsonxx::Array described;
    for (const ReplicationConfig& config : configs) {
        if (!config.lastReplicatedSnapshot.empty() &&
            dataset->findSnapshot(config.lastReplicatedSnapshot) == nullptr) {
            return controlError(404,
                                "no snapshot " + config.lastReplicatedSnapshot + " of " + path);
        }
        described.append(replicationJson(*dataset, config));
    }
    dataset->replications = configs;
    jsonxx::Object answer;
    answer.import("replication", described);
    return jsonReply(answer);
}

Reply visibility(Request& request) {
    nlohmann::json body;
    Reply failure;
    std::string path;
    std::string group;
    if (!bodyObject(request.body, {"datasetPath", "queries", "initiatorGroup"}, body, failure) ||
        !textMember(body, "datasetPath", kMaxPathLength, path, failure) ||
        !textMember(body, "initiatorGroup", kMaxGroupNameLength, group, failure)) {
        return failure;
    }
    long long queries = 0;
    const auto it = body.find("queries");
    if (path.empty() || it == body.end() || !readInteger(*it, queries) || queries < 0 ||
        queries > 1000000) {
        return controlError(400, "needs \"datasetPath\" and a count \"queries\"");
    }
    std::lock_guard<std::mutex> lock(request.state.modelMutex);
    jsonxx::Array changed;
    for (Mapping* mapping : request.state.model.mappingsOf(path)) {
        if (group.empty() || mapping->initiatorGroup == group) {
            mapping->hiddenForQueries = static_cast<int>(queries);
            changed.append(mappingJson(*mapping));
        }
    }
    if (changed.empty()) {
        return controlError(404, "no mapping of " + path);
    }
    jsonxx::Object answer;
    answer.import("mappings", changed);
    return jsonReply(answer);
}

Reply initiators(Request& request) {
    nlohmann::json body;
    Reply failure;
    std::vector<std::string> names;
    if (!bodyObject(request.body, {"initiators"}, body, failure) ||
        !initiatorList(body, names, failure)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(request.state.modelMutex);
    for (const std::string& name : names) {
        request.state.model.knownInitiators.insert(normalizeInitiator(name));
    }
    jsonxx::Array known;
    for (const std::string& name : request.state.model.knownInitiators) {
        known.append(name);
    }
    jsonxx::Object answer;
    answer.import("initiators", known);
    return jsonReply(answer);
}

Reply shutdown(Request& request) {
    if (request.state.onShutdownRequest) {
        request.state.onShutdownRequest();
    }
    jsonxx::Object answer;
    answer.import("shutdown", static_cast<bool>(request.state.onShutdownRequest));
    return jsonReply(answer);
}

const std::map<std::string, Route>& routes() {
    static const std::map<std::string, Route> table = {
        {"counters", {"GET", counters}},
        {"counters/reset", {"POST", resetCounters}},
        {"state", {"GET", state}},
        {"faults", {"GET", listFaults}},
        {"faults/add", {"POST", addFaults}},
        {"faults/clear", {"POST", clearFaults}},
        {"config", {"POST", config}},
        {"hostview", {"POST", hostViewRoute}},
        {"visibility", {"POST", visibility}},
        {"replication", {"POST", replication}},
        {"initiators", {"POST", initiators}},
        {"shutdown", {"POST", shutdown}},
    };
    return table;
}

}  // namespace

Reply handleControlRequest(SimulatorState& state, const std::string& httpMethod,
                           const std::string& route, const std::string& body) {
    state.counters.controlRequest();
    std::string key = route;
    // POST /control/faults adds, like POST /control/faults/add.
    if (key == "faults" && httpMethod == "POST") {
        key = "faults/add";
    }
    auto it = routes().find(key);
    if (it == routes().end()) {
        return withDetails(controlError(404, "no control route /control/" + route),
                           httpMethod + " /control/" + route);
    }
    if (httpMethod != it->second.httpMethod) {
        return withDetails(
            controlError(405, "/control/" + route + " takes " + it->second.httpMethod),
            httpMethod + " /control/" + route);
    }
    Request request{state, body};
    const std::string where = httpMethod + " /control/" + route;
    try {
        return withDetails(it->second.handler(request), where);
    } catch (const std::exception& e) {
        return withDetails(controlError(500, std::string("internal error: ") + e.what()), where);
    }
}

}  // namespace arraysim
