// SPDX-License-Identifier: Apache-2.0
#include "CMRESTClient.h"

#include <algorithm>
#include <new>

#include "CallMemory.h"
#include "CopyStatus.h"
#include "PluginTexts.h"
#include "SecretMemory.h"

const char* const CM_CONTENT_TYPE = "application / json";

namespace {

constexpr int kHeaderLine = 0;
constexpr int kCredentialsHeader = 1;
constexpr int kNotSupported = 3;
constexpr int kNoHandle = 2;
// Without diagnostic logging only the start of an answer goes to the host's log.
constexpr size_t kLoggedResponseLength = 128;

const char* const kInitHeader = "Tegile RestClient::init() -";
const char* const kSendHeader = "Tegile CMRESTClient::sendRequestInternal() -";

// The logged form of (part of) an answer: a NUL byte would end the log text early, so it is
// shown as "\0".
std::string printable(const char* data, size_t length) {
    std::string text;
    text.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        if (data[i] == '\0') {
            text += "\\0";
        } else {
            text += data[i];
        }
    }
    return text;
}

}  // namespace

CMRESTClient::CMRESTClient(uint32_t retryCount, uint32_t retryInterval, bool diagnosticLogging)
    : retryCount_(retryCount),
      retryInterval_(retryInterval),
      diagnosticLogging_(diagnosticLogging) {}

CMRESTClient::~CMRESTClient() = default;

int CMRESTClient::init(const std::string& user, const std::string& password) {
    http_.reset();
    credentials_ = kyplatform::callmemory::credentialsDigest(user, password);
    try {
        http_.reset(new KYLibCurl());
    } catch (const std::bad_alloc&) {
    }
    if (!http_) {
        if (logger_ != nullptr) {
            logger_->log(2, kInitHeader, "curl object allocation failed");
        }
        return kNoHandle;
    }
    if (!http_->KYLibCurlInit(CM_CONTENT_TYPE, true, false, nullptr)) {
        if (logger_ != nullptr) {
            logger_->log(2, kInitHeader, "curl init failed");
        }
        return COPY_FAILED;
    }

    struct Header {
        int kind;
        std::string text;
        std::string logged;  // what a failure line shows
    };
    Header headers[] = {
        {kHeaderLine, "Content-Type: application/json", "Content-Type: application/json"},
        {kHeaderLine, "User-Agent: KySnapNutanix", "User-Agent: KySnapNutanix"},
        // The password never reaches the log; KYLibCurl keeps its own copy, this one is zeroed.
        {kCredentialsHeader, user + ":" + password, user + ":******"},
    };
    const kyplatform::WipeAtScopeEnd credentials(headers[2].text);
    for (const Header& header : headers) {
        if (!http_->KYLibCurlAppendHeader(header.kind, header.text.c_str())) {
            if (logger_ != nullptr) {
                logger_->log(2, kInitHeader, "curl append header %s failed", header.logged.c_str());
            }
            return COPY_FAILED;
        }
    }
    return COPY_SUCCESS;
}

int CMRESTClient::get(const std::string& url, const std::string& body, std::string& response,
                      uint32_t& httpStatus) {
    return sendRequest(GET, url, body, response, httpStatus);
}

int CMRESTClient::post(const std::string& url, const std::string& body, std::string& response,
                       uint32_t& httpStatus, Forget forget) {
    return sendRequestInternal(POST, url, body, response, httpStatus,
                               {Send::Plain, forget, Listing::Other});
}

int CMRESTClient::postOnce(const std::string& url, const std::string& body, std::string& response,
                           uint32_t& httpStatus, Forget forget) {
    return sendRequestInternal(POST, url, body, response, httpStatus,
                               {Send::Once, forget, Listing::Other});
}

int CMRESTClient::postRead(const std::string& url, const std::string& body, std::string& response,
                           uint32_t& httpStatus, Listing listing, const Readable& readable) {
    return sendRequestInternal(POST, url, body, response, httpStatus,
                               {Send::Read, Forget::Everything, listing}, &readable);
}

int CMRESTClient::put(const std::string& url, const std::string& body, std::string& response,
                      uint32_t& httpStatus) {
    return sendRequest(PUT, url, body, response, httpStatus);
}

int CMRESTClient::del(const std::string& url, const std::string& body, std::string& response,
                      uint32_t& httpStatus) {
    return sendRequest(DELETE, url, body, response, httpStatus);
}

int CMRESTClient::sendRequest(int type, const std::string& url, const std::string& body,
                              std::string& response, uint32_t& httpStatus) {
    return sendRequestInternal(type, url, body, response, httpStatus,
                               {Send::Plain, Forget::Everything, Listing::Other});
}

std::string CMRESTClient::memoryArray(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t end = url.find('/', start);
    return url.substr(start, end == std::string::npos ? end : end - start);
}

std::string CMRESTClient::memoryPart(const std::string& array, Listing listing) {
    // A newline cannot be part of a host name: the two parts never meet another array.
    return array + (listing == Listing::Datasets ? "\ndatasets" : "\nother");
}

void CMRESTClient::logResponse(const char* format, const char* text, size_t length) const {
    if (logger_ != nullptr) {
        const size_t shown = diagnosticLogging_ ? length : std::min(length, kLoggedResponseLength);
        logger_->log(1, kSendHeader, format, printable(text, shown).c_str());
    }
}

int CMRESTClient::sendRequestInternal(int type, const std::string& url, const std::string& body,
                                      std::string& response, uint32_t& httpStatus,
                                      const Memory& memory, const Readable* readable) {
    const Send how = memory.how;
    if (logger_ != nullptr) {
        logger_->log(1, kSendHeader, plugintext::kRequestLineFormat, type, url.c_str(),
                     body.c_str());
    }
    if (type < GET || type > DELETE) {
        if (logger_ != nullptr) {
            logger_->log(1, kSendHeader, "request type not supported %d", type);
        }
        return kNotSupported;
    }

    int result = COPY_SUCCESS;
    try {
        const std::string whole = memoryArray(url);
        const std::string array = memoryPart(whole, memory.listing);
        // Answers are kept apart by credentials, so that another password or user is never
        // answered from what these were given; an array is forgotten whatever the credentials.
        const std::string request = credentials_ + "\n" + url + "\n" + body;
        const bool remembers = how == Send::Read && !credentials_.empty();
        if (how != Send::Read) {
            kyplatform::callmemory::forget(memoryPart(whole, Listing::Other));
            if (memory.forget == Forget::Everything) {
                kyplatform::callmemory::forget(memoryPart(whole, Listing::Datasets));
            }
        } else if (remembers && kyplatform::callmemory::recall(array, request, response)) {
            httpStatus = 200;
            logResponse(plugintext::kCallMemoryAnswerFormat, response.data(), response.size());
            return COPY_SUCCESS;
        }
        const bool once = how == Send::Once;
        const char* data = body.empty() ? nullptr : body.data();
        const bool sent =
            http_ != nullptr &&
            (once ? http_->KYLibCurlSendHttpReqOnce(type, url.c_str(), data, body.size())
                  : http_->KYLibCurlSendHttpReq(type, url.c_str(), data, body.size(), false,
                                                nullptr));
        if (!sent) {
            // The library's reason (a time-out, an answer too large, a redirect) is what a
            // person reading the host's log needs; an error status is logged by the caller.
            const char* why = http_ != nullptr ? http_->GetLastError() : "";
            if (logger_ != nullptr) {
                logger_->log(2, kSendHeader, "http request failed%s%s", *why != '\0' ? ": " : "",
                             why);
            }
            result = COPY_FAILED;
        }
        httpStatus = http_ != nullptr ? http_->GetHttpErrorCode() : 0;

        response.clear();
        size_t length = 0;
        const char* text = http_ != nullptr ? http_->GetHttpResponse(length, true) : nullptr;
        if (text == nullptr || length == 0) {
            if (logger_ != nullptr) {
                logger_->log(1, kSendHeader, "empty http response received");
            }
            return result;
        }
        // Every byte is kept, NUL bytes included, so that nothing after one is silently lost.
        response.assign(text, length);
        logResponse("http response received [%s]", text, length);
        // An answer the caller cannot read (a login page with status 200, say) is not kept:
        // the next identical read asks the array again.
        if (remembers && result == COPY_SUCCESS && readable != nullptr && (*readable)(response)) {
            kyplatform::callmemory::remember(array, request, response);
        }
    } catch (const std::bad_alloc&) {
        // Only an allocation can fail here (taking a large answer, say): the request fails as
        // out of memory, which the host is told as such.
        response.clear();
        response.shrink_to_fit();
        result = COPY_NO_MEMORY;
        try {
            if (logger_ != nullptr) {
                logger_->log(2, kSendHeader, "out of memory taking the http response");
            }
        } catch (...) {
        }
    } catch (...) {
        result = COPY_FAILED;
    }
    return result;
}
