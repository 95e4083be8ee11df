// Reply: one HTTP answer of the simulated array, and the error texts it uses.
//
// A failure is a non-200 status with a JSON body {"code": "EZEBI_...", "message": "...",
// "details": ..., "extendedData": ...}. The plug-in searches the whole answer text for
// phrases such as "does not exist" or "already exists", so the messages below are worded with
// care: a text meant for one situation must not contain the phrase the plug-in reads as another.
#pragma once

#include <string>

namespace jsonxx {
class Array;
class Object;
}  // namespace jsonxx

namespace arraysim {

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
};

// A failed call, before it becomes a Reply.
struct ApiError {
    int status = 500;
    std::string code;
    std::string message;
    std::string details;  // empty: written as null
};

Reply jsonReply(const jsonxx::Array& value);
Reply jsonReply(const jsonxx::Object& value);
// Bare text answers ("0", "true", a quoted group name, or nothing at all).
Reply textReply(const std::string& text);
Reply errorReply(const ApiError& error);

// The array's error vocabulary. Each returns a complete ApiError.
namespace errors {
ApiError accessDenied();
ApiError badRequest(const std::string& message);
ApiError unknownMethod(const std::string& method);
ApiError noSuchVolume(const std::string& path);    // "No such volume exists"
ApiError noSuchShare(const std::string& path);     // "No such share exist"
ApiError noSuchSnapshot(const std::string& path);  // "... does not exist"
ApiError noSuchDataset(const std::string& path);   // "... does not exist"
ApiError noSuchProject(const std::string& pool, const std::string& project);
ApiError noSuchInitiator(const std::string& name);       // "Initiator <name> does not exist"
ApiError noSuchInitiatorGroup(const std::string& name);  // avoids "Initiator ... does not exist"
ApiError noSuchTargetGroup(const std::string& name);
ApiError alreadyExists(const std::string& what);       // "<what> already exists"
ApiError mappingConflict(const std::string& message);  // "STMF_ERROR_VE_CONFLICT: ..."
ApiError busy(const std::string& code, const std::string& message);  // 409 refusals
ApiError notFound(const std::string& code, const std::string& message);
}  // namespace errors

}  // namespace arraysim
