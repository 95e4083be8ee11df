// SPDX-License-Identifier: Apache-2.0
#include "KYLibCurl.h"

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "EvDebug.h"
#include "HttpSettings.h"
#include "HttpTransport.h"
#include "SecretMemory.h"

namespace {

constexpr int kHeaderLine = 0;
constexpr int kCredentials = 1;

// The URL without any "user:password@" part, for log lines.
std::string urlForLog(const char* url) {
    std::string text = url;
    const size_t scheme = text.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t end = text.find_first_of("/?#", start);
    const size_t at = text.rfind('@', end == std::string::npos ? text.size() : end);
    if (at != std::string::npos && at >= start) {
        text.erase(start, at + 1 - start);
    }
    return text;
}

// Why an answer that arrived is no success: only a 2xx status is one. A redirect is not
// followed (it would send the credentials and the request somewhere else), so it is named with
// its target.
std::string statusFailure(uint32_t status, const std::string& location) {
    const std::string code = "HTTP " + std::to_string(status);
    if (status >= 300 && status < 400) {
        return "the array answered with a redirect (" + code + ") " +
               (location.empty() ? "without a location" : "to " + urlForLog(location.c_str())) +
               "; it was not followed and nothing was done";
    }
    return "the array answered " + code + ", which is no success";
}

void logLine(const char* function, int level, const std::string& text) {
    EvDebug(nullptr).DebugLvl(function, level, "%s", text.c_str());
}

// "Name: value" with a token as name and no line break anywhere.
bool isHeaderLine(const std::string& line) {
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos) {
        return false;
    }
    for (size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c <= ' ' || c >= 0x7f ||
            std::string("\"(),/:;<=>?@[\\]{}").find(char(c)) != std::string::npos) {
            return false;
        }
    }
    return line.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

struct KYLibCurl::State {
    std::unique_ptr<kyplatform::HttpTransport> transport;
    WriteCallback writeCallback = nullptr;
    uint32_t status = 0;
    std::string body;
    std::string failure;

    void forgetAnswer() {
        status = 0;
        body.clear();
        failure.clear();
    }
};

KYLibCurl::KYLibCurl() : state_(new State) {}

KYLibCurl::~KYLibCurl() = default;

bool KYLibCurl::KYLibCurlInit(const char* contentType, bool keepAlive, bool /*verbose*/,
                              WriteCallback writeCallback) {
    static const char* const kFunction = "KYLibCurl::KYLibCurlInit()";
    try {
        state_->transport.reset();
        state_->forgetAnswer();
        state_->writeCallback = writeCallback;

        kyplatform::HttpTransportSettings settings;
        settings.contentType = contentType != nullptr ? contentType : "";
        settings.keepAlive = keepAlive;
        std::vector<std::string> warnings;
        kyplatform::readHttpSettings(settings, warnings);
        for (const std::string& warning : warnings) {
            logLine(kFunction, EvDebug::LEVEL_ERROR, "warning: " + warning);
        }

        std::string error;
        state_->transport = kyplatform::httpTransportFactory().create(settings, error);
        if (!state_->transport) {
            logLine(kFunction, EvDebug::LEVEL_ERROR, "HTTP transport creation failed: " + error);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        logLine(kFunction, EvDebug::LEVEL_ERROR, std::string("initialisation failed: ") + e.what());
    } catch (...) {
        logLine(kFunction, EvDebug::LEVEL_ERROR, "initialisation failed");
    }
    state_->transport.reset();
    return false;
}

bool KYLibCurl::KYLibCurlAppendHeader(int kind, const char* text) {
    if (!state_->transport || text == nullptr) {
        return false;
    }
    try {
        if (kind == kHeaderLine) {
            const std::string value = text;
            return isHeaderLine(value) && state_->transport->addHeader(value);
        }
        if (kind == kCredentials) {
            // "user:password"; the transport keeps its own copy, these are zeroed.
            const char* colon = std::strchr(text, ':');
            const std::string user(text, colon == nullptr ? std::strlen(text) : colon - text);
            std::string password = colon == nullptr ? std::string() : std::string(colon + 1);
            const bool set = state_->transport->setCredentials(user, password);
            kyplatform::wipeSecret(password);
            return set;
        }
    } catch (...) {
    }
    return false;
}

bool KYLibCurl::KYLibCurlSendHttpReq(int type, const char* url, const char* body, size_t length,
                                     bool reserved, const char* reservedText) {
    return send(type, url, body, length, false, reserved || reservedText != nullptr);
}

bool KYLibCurl::KYLibCurlSendHttpReqOnce(int type, const char* url, const char* body,
                                         size_t length) {
    return send(type, url, body, length, true, false);
}

bool KYLibCurl::send(int type, const char* url, const char* body, size_t length, bool fresh,
                     bool reservedSet) {
    static const char* const kFunction = "KYLibCurl::KYLibCurlSendHttpReq()";
    try {
        state_->forgetAnswer();
        if (!state_->transport) {
            return fail(kFunction, "request refused: not initialised");
        }
        if (url == nullptr || *url == '\0' || type < 0 || type > 3 ||
            (body == nullptr && length > 0) || reservedSet) {
            return fail(kFunction,
                        "request refused: invalid arguments (type " + std::to_string(type) + ")");
        }
        kyplatform::HttpRequest request;
        request.method = static_cast<kyplatform::HttpMethod>(type);
        request.url = url;
        request.body = length > 0 ? body : nullptr;
        request.bodyLength = length;
        request.freshConnection = fresh;

        kyplatform::HttpResponse response;
        const bool exchanged = state_->transport->perform(request, response);
        if (!response.warning.empty()) {
            logLine(kFunction, EvDebug::LEVEL_ERROR, "warning: " + response.warning);
        }
        state_->status = response.status;
        state_->body.swap(response.body);
        if (!exchanged) {
            return fail(kFunction, "request to " + urlForLog(url) + " failed: " + response.error,
                        response.error);
        }
        if (state_->writeCallback != nullptr && !state_->body.empty() &&
            state_->writeCallback(state_->body.data(), 1, state_->body.size(), this) !=
                state_->body.size()) {
            state_->failure = "the answer was refused by the write callback";
            return false;
        }
        if (state_->status < 200 || state_->status >= 300) {
            state_->failure = statusFailure(state_->status, response.location);
            // Error statuses are the array's refusals, which the caller reads and logs; a status
            // that only looks like success is this layer's finding.
            if (state_->status < 400) {
                logLine(kFunction, EvDebug::LEVEL_ERROR,
                        "request to " + urlForLog(url) + " failed: " + state_->failure);
            }
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        return fail(kFunction, std::string("request failed: ") + e.what());
    } catch (...) {
        return fail(kFunction, "request failed");
    }
}

bool KYLibCurl::fail(const char* function, const std::string& line, const std::string& why) {
    try {
        logLine(function, EvDebug::LEVEL_ERROR, line);
        state_->failure = why.empty() ? line : why;
    } catch (...) {
    }
    return false;
}

const char* KYLibCurl::GetLastError() const {
    return state_->failure.c_str();
}

uint32_t KYLibCurl::GetHttpErrorCode() {
    return state_->status;
}

const char* KYLibCurl::GetHttpResponse(size_t& length, bool /*copy*/) {
    length = state_->body.size();
    return state_->body.c_str();
}
