#include "ControlEndpoint.h"

#include <map>

#include "HostView.h"
#include "ModelJson.h"
#include "Params.h"

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
    error.code = status == 404   ? "EZEBI_NOT_FOUND"
                 : status == 405 ? "EZEBI_METHOD_NOT_ALLOWED"
                 : status >= 500 ? "EZEBI_INTERNAL"
                                 : "EZEBI_INVALID_ARGUMENT";
    error.message = message;
    return errorReply(error);
}

// The body as an object; an empty body is an empty object.
bool bodyObject(const std::string& body, jsonxx::Object& object, Reply& failure) {
    if (body.find_first_not_of(" \t\r\n") == std::string::npos) {
        return true;
    }
    if (body[body.find_first_not_of(" \t\r\n")] != '{' || !object.parse(body)) {
        failure = controlError(400, "the body must be a JSON object");
        return false;
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
    jsonxx::Value description;
    if (!description.parse(request.body) ||
        (!description.is<jsonxx::Object>() && !description.is<jsonxx::Array>())) {
        return controlError(400, "the body must be a fault object or a list of them");
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
    jsonxx::Object body;
    Reply failure;
    if (!bodyObject(request.body, body, failure)) {
        return failure;
    }
    std::lock_guard<std::mutex> lock(request.state.modelMutex);
    Model& model = request.state.model;
    Behaviour behaviour = model.behaviour;
    SystemInfo system = model.system;
    for (const auto& member : body.kv_map()) {
        const std::string& key = member.first;
        long long number = 0;
        bool flag = false;
        if (key == "snapshotPendingPolls" || key == "mappingVisibilityDelay") {
            if (!readInteger(member.second, number) || number < 0 || number > 1000000) {
                return controlError(400, key + " must be a count");
            }
            (key == "snapshotPendingPolls" ? behaviour.snapshotPendingPolls
                                           : behaviour.mappingVisibilityDelay) =
                static_cast<int>(number);
        } else if (key == "listSnapshotsWholeName") {
            if (!readFlag(member.second, flag)) {
                return controlError(400, key + " must be true or false");
            }
            behaviour.listSnapshotsWholeName = flag;
        } else if (key == "apiVersion" || key == "apiMinorVersion") {
            if (!member.second.is<std::string>()) {
                return controlError(400, key + " must be a text");
            }
            (key == "apiVersion" ? system.apiVersion : system.apiMinorVersion) =
                member.second.get<std::string>();
        } else {
            return controlError(400, "unknown setting " + key);
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

bool initiatorList(const jsonxx::Object& body, std::vector<std::string>& out, Reply& failure) {
    if (!body.has<jsonxx::Array>("initiators")) {
        failure = controlError(400, "\"initiators\" must be a list of names");
        return false;
    }
    for (const jsonxx::Value& value : body.get<jsonxx::Array>("initiators").values()) {
        if (!value.is<std::string>()) {
            failure = controlError(400, "\"initiators\" must be a list of names");
            return false;
        }
        out.push_back(value.get<std::string>());
    }
    return true;
}

Reply hostViewRoute(Request& request) {
    jsonxx::Object body;
    Reply failure;
    std::vector<std::string> initiators;
    if (!bodyObject(request.body, body, failure) || !initiatorList(body, initiators, failure)) {
        return failure;
    }
    request.state.counters.hostViewQuery();
    std::lock_guard<std::mutex> lock(request.state.modelMutex);
    return jsonReply(hostView(request.state.model, initiators));
}

Reply visibility(Request& request) {
    jsonxx::Object body;
    Reply failure;
    if (!bodyObject(request.body, body, failure)) {
        return failure;
    }
    long long queries = 0;
    auto it = body.kv_map().find("queries");
    if (!body.has<std::string>("datasetPath") || it == body.kv_map().end() ||
        !readInteger(it->second, queries) || queries < 0 || queries > 1000000) {
        return controlError(400, "needs \"datasetPath\" and a count \"queries\"");
    }
    const std::string& path = body.get<std::string>("datasetPath");
    const std::string group =
        body.has<std::string>("initiatorGroup") ? body.get<std::string>("initiatorGroup") : "";
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
    jsonxx::Object body;
    Reply failure;
    std::vector<std::string> names;
    if (!bodyObject(request.body, body, failure) || !initiatorList(body, names, failure)) {
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
        return controlError(404, "no control route /control/" + route);
    }
    if (httpMethod != it->second.httpMethod) {
        return controlError(405, "/control/" + route + " takes " + it->second.httpMethod);
    }
    Request request{state, body};
    try {
        return it->second.handler(request);
    } catch (const std::exception& e) {
        return controlError(500, std::string("internal error: ") + e.what());
    }
}

}  // namespace arraysim
