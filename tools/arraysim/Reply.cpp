// SPDX-License-Identifier: Apache-2.0
#include "Reply.h"

#include "jsonxx.h"

namespace arraysim {

namespace {

// `text` with each byte outside valid UTF-8 replaced by `escape` followed by "xNN".
std::string replaceInvalidUtf8(const std::string& text, const char* escape) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t length = utf8SequenceLength(text, i);
        if (length == 0) {
            const auto bad = static_cast<unsigned char>(text[i]);
            out += escape;
            out += 'x';
            out += kHex[bad >> 4];
            out += kHex[bad & 0xF];
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

// Written JSON keeps its structure in ASCII, so a stray byte can only stand inside a string;
// there the escaped backslash makes it read back as the text "\xNN".
Reply jsonBody(int status, const std::string& json) {
    Reply reply;
    reply.status = status;
    reply.body = replaceInvalidUtf8(json, "\\\\");
    return reply;
}

}  // namespace

size_t utf8SequenceLength(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        return 1;
    }
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
            return 0;
        }
    }
    return length;
}

std::string escapeInvalidUtf8(const std::string& text) {
    return replaceInvalidUtf8(text, "\\");
}

Reply jsonReply(const jsonxx::Array& value) {
    Reply reply = jsonBody(200, value.json());
    reply.listed = value.size();
    return reply;
}

Reply jsonReply(const jsonxx::Object& value) {
    Reply reply = jsonBody(200, value.json());
    for (const auto& member : value.kv_map()) {
        if (member.second.is<jsonxx::Array>()) {
            reply.listed += member.second.get<jsonxx::Array>().size();
        }
    }
    return reply;
}

Reply emptyReply() {
    Reply reply;
    reply.body.clear();
    return reply;
}

Reply statusReply(int commandStatus) {
    Reply reply;
    reply.body = std::to_string(commandStatus);
    return reply;
}

Reply textReply(const std::string& text) {
    Reply reply;
    reply.body = escapeInvalidUtf8(text);
    reply.contentType = "text/plain";
    return reply;
}

Reply errorReply(const ApiError& error) {
    jsonxx::Object cause;
    cause.import("EX_CAUSE_MESSAGE", error.message);
    jsonxx::Object body;
    body.import("code", error.code);
    body.import("message", error.message);
    body.import("details", error.details);
    body.import("extendedData", cause);
    Reply reply = jsonBody(error.status, body.json());
    reply.failed = true;
    reply.error = error;
    return reply;
}

Reply withDetails(const Reply& reply, const std::string& where) {
    if (!reply.failed || !reply.error.details.empty()) {
        return reply;
    }
    ApiError error = reply.error;
    error.details = where;
    return errorReply(error);
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
    return make(401, "EZEBI_PERMISSION_DENIED", "Access Denied");
}

ApiError badRequest(const std::string& message) {
    return make(400, "EZEBI_INVALID_ARGUMENT", message);
}

ApiError unknownMethod(const std::string& method) {
    return make(404, "EZEBI_METHOD_NOT_FOUND", "Unknown method '" + method + "'");
}

ApiError noSuchVolume(const std::string& path) {
    return notFound("No such volume exists: " + path);
}

ApiError noSuchShare(const std::string& path) {
    return notFound("No such share exist: " + path);
}

ApiError noSuchSnapshot(const std::string& path) {
    return notFound("Snapshot " + path + " does not exist");
}

ApiError noSuchDataset(const std::string& path) {
    return notFound("Dataset " + path + " does not exist");
}

ApiError noSuchProject(const std::string& pool, const std::string& project) {
    return notFound("Project " + project + " in pool " + pool + " does not exist");
}

ApiError noSuchInitiator(const std::string& name) {
    return notFound("Initiator " + name + " does not exist");
}

ApiError noSuchInitiatorGroup(const std::string& name) {
    return notFound("No such initiator group: " + name);
}

ApiError noSuchTargetGroup(const std::string& name) {
    return notFound("No such target group: " + name);
}

ApiError notFound(const std::string& message) {
    return make(404, "EZEBI_RESOURCE_NOT_FOUND", message);
}

ApiError alreadyExists(const std::string& what) {
    return make(409, "EZEBI_RESOURCE_EXIST", what + " already exists");
}

ApiError mappingConflict(const std::string& message) {
    return make(409, "EZEBI_RESOURCE_EXIST", "STMF_ERROR_VE_CONFLICT: " + message);
}

ApiError inUse(const std::string& message) {
    return make(409, "EZEBI_RESOURCE_INUSE", message);
}

}  // namespace errors
}  // namespace arraysim
