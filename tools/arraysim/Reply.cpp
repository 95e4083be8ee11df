#include "Reply.h"

#include "jsonxx.h"

namespace arraysim {

Reply jsonReply(const jsonxx::Array& value) {
    Reply reply;
    reply.body = value.json();
    return reply;
}

Reply jsonReply(const jsonxx::Object& value) {
    Reply reply;
    reply.body = value.json();
    return reply;
}

Reply textReply(const std::string& text) {
    Reply reply;
    reply.body = text;
    reply.contentType = "text/plain";
    return reply;
}

Reply errorReply(const ApiError& error) {
    jsonxx::Object body;
    body.import("code", error.code);
    body.import("message", error.message);
    if (error.details.empty()) {
        body.import("details", jsonxx::Value());
    } else {
        body.import("details", error.details);
    }
    body.import("extendedData", jsonxx::Value());
    Reply reply;
    reply.status = error.status;
    reply.body = body.json();
    return reply;
}

namespace errors {

namespace {
ApiError make(int status, const std::string& code, const std::string& message) {
    ApiError error;
    error.status = status;
    error.code = code;
    error.message = message;
    return error;
}
}  // namespace

ApiError accessDenied() {
    return make(401, "EZEBI_ACCESS_DENIED", "Access Denied");
}

ApiError badRequest(const std::string& message) {
    return make(400, "EZEBI_INVALID_ARGUMENT", message);
}

ApiError unknownMethod(const std::string& method) {
    return make(404, "EZEBI_METHOD_NOT_FOUND", "Unknown method '" + method + "'");
}

ApiError noSuchVolume(const std::string& path) {
    return make(404, "EZEBI_VOLUME_NOT_FOUND", "No such volume exists: " + path);
}

ApiError noSuchShare(const std::string& path) {
    return make(404, "EZEBI_SHARE_NOT_FOUND", "No such share exist: " + path);
}

ApiError noSuchSnapshot(const std::string& path) {
    return make(404, "EZEBI_SNAPSHOT_NOT_FOUND", "Snapshot " + path + " does not exist");
}

ApiError noSuchDataset(const std::string& path) {
    return make(404, "EZEBI_DATASET_NOT_FOUND", "Dataset " + path + " does not exist");
}

ApiError noSuchProject(const std::string& pool, const std::string& project) {
    return make(404, "EZEBI_PROJECT_NOT_FOUND",
                "Project " + project + " in pool " + pool + " does not exist");
}

ApiError noSuchInitiator(const std::string& name) {
    return make(404, "EZEBI_INITIATOR_NOT_FOUND", "Initiator " + name + " does not exist");
}

ApiError noSuchInitiatorGroup(const std::string& name) {
    return make(404, "EZEBI_INITIATOR_GROUP_NOT_FOUND", "No such initiator group: " + name);
}

ApiError noSuchTargetGroup(const std::string& name) {
    return make(404, "EZEBI_TARGET_GROUP_NOT_FOUND", "No such target group: " + name);
}

ApiError alreadyExists(const std::string& what) {
    return make(409, "EZEBI_ALREADY_EXISTS", what + " already exists");
}

ApiError mappingConflict(const std::string& message) {
    return make(409, "EZEBI_STMF_ERROR", "STMF_ERROR_VE_CONFLICT: " + message);
}

ApiError busy(const std::string& code, const std::string& message) {
    return make(409, code, message);
}

ApiError notFound(const std::string& code, const std::string& message) {
    return make(404, code, message);
}

}  // namespace errors
}  // namespace arraysim
