// SPDX-License-Identifier: Apache-2.0
// Reply: one HTTP answer of the simulated array, and the error texts it uses.
//
// A failure is a non-200 status with the array's error model as JSON body:
//   {"code": "EZEBI_...", "message": "...", "details": "...",
//    "extendedData": {"EX_CAUSE_MESSAGE": "..."}}
// where "details" is always a string and "extendedData" always an object. The plug-in searches
// the whole answer text for phrases such as "does not exist" or "already exists", so the
// messages below are worded with care: a text meant for one situation must not contain the
// phrase the plug-in reads as another.
//
// Every body built here is valid UTF-8: a byte of client text that is no part of a valid
// UTF-8 sequence is written as the four characters \xNN.
#pragma once

#include <cstddef>
#include <string>

namespace jsonxx {
class Array;
class Object;
}  // namespace jsonxx

namespace arraysim {

// A failed call, before it becomes a Reply.
struct ApiError {
    int status = 500;
    std::string code;
    std::string message;
    std::string details;  // where the call went wrong, e.g. "POST /zebi/api/v2/deleteVolume"
};

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    bool failed = false;  // built by errorReply from `error`
    // Objects the answer lists: the elements of an array answer, or of the arrays an object
    // answer holds.
    size_t listed = 0;
    ApiError error;
};

Reply jsonReply(const jsonxx::Array& value);
Reply jsonReply(const jsonxx::Object& value);
// Methods documented to return nothing: 200 with an empty body.
Reply emptyReply();
// Methods documented to return a command status: the bare number.
Reply statusReply(int commandStatus);
// Bare text answers ("true", a quoted group name, or nothing at all).
Reply textReply(const std::string& text);
Reply errorReply(const ApiError& error);
// An error reply with its details set to `where` when it has none yet; other replies unchanged.
Reply withDetails(const Reply& reply, const std::string& where);

// `text` with every byte that is not part of valid UTF-8 written as "\xNN".
std::string escapeInvalidUtf8(const std::string& text);

// The length of the valid UTF-8 sequence that starts at text[i] (1 for ASCII), or 0 when none
// does: no overlong forms, no surrogates, nothing above U+10FFFF. `i` must be below the size.
size_t utf8SequenceLength(const std::string& text, size_t i);

// The array's error vocabulary. Each returns a complete ApiError (details left empty).
namespace errors {
ApiError accessDenied();                          // 401 EZEBI_PERMISSION_DENIED "Access Denied"
ApiError badRequest(const std::string& message);  // 400 EZEBI_INVALID_ARGUMENT
ApiError unknownMethod(const std::string& method);
ApiError noSuchVolume(const std::string& path);    // "No such volume exists"
ApiError noSuchShare(const std::string& path);     // "No such share exist"
ApiError noSuchSnapshot(const std::string& path);  // "... does not exist"
ApiError noSuchDataset(const std::string& path);   // "... does not exist"
ApiError noSuchProject(const std::string& pool, const std::string& project);
ApiError noSuchInitiator(const std::string& name);       // "Initiator <name> does not exist"
ApiError noSuchInitiatorGroup(const std::string& name);  // avoids "Initiator ... does not exist"
ApiError noSuchTargetGroup(const std::string& name);
ApiError notFound(const std::string& message);         // 404 EZEBI_RESOURCE_NOT_FOUND
ApiError alreadyExists(const std::string& what);       // 409 EZEBI_RESOURCE_EXIST
ApiError mappingConflict(const std::string& message);  // "STMF_ERROR_VE_CONFLICT: ..."
ApiError inUse(const std::string& message);            // 409 EZEBI_RESOURCE_INUSE
}  // namespace errors

}  // namespace arraysim
