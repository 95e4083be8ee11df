// SPDX-License-Identifier: Apache-2.0
// CMRESTClient: sends one HTTP request with a JSON body to an array and hands back the answer's
// text and HTTP status. A thin layer over KYLibCurl; one client per array API object, whose
// connection all of its requests share. Every request is sent once: callers retry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "KYLibCurl.h"
#include "SnapInfo.h"

// The content type given to the HTTP library at initialisation (spaces included); the header
// line "Content-Type: application/json" that init appends is what goes on the wire.
extern const char* const CM_CONTENT_TYPE;

class CMRESTClient {
public:
    // Passed unchanged to the library as its request type.
    enum REQUEST_TYPE : int { GET = 0, POST = 1, PUT = 2, DELETE = 3 };

    // The retry values are kept for the callers' policy; they do not change how a request is
    // sent. `diagnosticLogging` logs whole answers instead of their first 128 characters.
    CMRESTClient(uint32_t retryCount, uint32_t retryInterval, bool diagnosticLogging);
    ~CMRESTClient();
    CMRESTClient(const CMRESTClient&) = delete;
    CMRESTClient& operator=(const CMRESTClient&) = delete;

    // `logger` is borrowed; null logs nothing.
    void setLogger(KYSO::SnapInfo* logger) { logger_ = logger; }

    // Creates the HTTP handle and sets the content type, the headers and the credentials.
    // Returns 0 when ready; 1 when the library's initialisation or a header failed; 2 when no
    // HTTP handle could be created. The password is never logged.
    int init(const std::string& user, const std::string& password);

    // What a request that may change the array makes the call forget of that array's
    // remembered answers (CallMemory.h): all of them, or all but its listings of datasets
    // (volumes, shares, snapshots, LUN ids), for a request that changes only who sees a volume
    // (a mapping), never which datasets exist nor their names, ids or sizes.
    enum class Forget { Everything, AllButDatasetListings };
    // What a listing lists: datasets, or anything else (initiator and target groups, say).
    enum class Listing { Datasets, Other };

    // sendRequest with type GET, POST, PUT or DELETE.
    int get(const std::string& url, const std::string& body, std::string& response,
            uint32_t& httpStatus);
    int post(const std::string& url, const std::string& body, std::string& response,
             uint32_t& httpStatus, Forget forget = Forget::Everything);
    int put(const std::string& url, const std::string& body, std::string& response,
            uint32_t& httpStatus);
    // A POST that reaches the array at most once: it goes on a new connection, so the library
    // never sends it again after a connection dies. For requests that create something.
    int postOnce(const std::string& url, const std::string& body, std::string& response,
                 uint32_t& httpStatus, Forget forget = Forget::Everything);
    int del(const std::string& url, const std::string& body, std::string& response,
            uint32_t& httpStatus);
    // Whether an answer is what the caller reads from a listing (the JSON it expects).
    using Readable = std::function<bool(const std::string& answer)>;
    // A POST that only reads (a listing): within one plug-in call (CallMemory.h), the same URL
    // and body on the same array with the same credentials (user and password) are answered
    // from the first successful answer that `readable` accepts, with the request logged as
    // always and "http response received from the call's memory [...]" instead of the answer
    // line; an answer it refuses is handed back but not kept. Every other request forgets what
    // the call remembers of its array, whatever the credentials, before it is sent (as its
    // Forget says), since it may change what a listing says.
    int postRead(const std::string& url, const std::string& body, std::string& response,
                 uint32_t& httpStatus, Listing listing, const Readable& readable);

    // Sends the request once. Returns 0 when an answer with a 2xx status arrived; 1 when the
    // library reported failure (no exchange, a redirect or an error status; `response` and
    // `httpStatus` then hold whatever the library still has); 3 for a type outside 0 to 3
    // (nothing is sent and the out-parameters are left untouched). Also 1 when init has not
    // succeeded. `response` holds the answer's bytes as received.
    // 2 (COPY_NO_MEMORY), logged, when the answer could not be taken for lack of memory.
    int sendRequest(int type, const std::string& url, const std::string& body,
                    std::string& response, uint32_t& httpStatus);

    uint32_t getRetryCount() const { return retryCount_; }
    uint32_t getRetryInterval() const { return retryInterval_; }

private:
    enum class Send {
        Plain,  // may change the array; the library may resend it on a new connection
        Once,   // may change the array; never resent
        Read,   // changes nothing; may be answered from the call's memory
    };
    // How a request meets the call's memory: what it forgets when it may change the array,
    // and under which part of the array's memory a listing is kept.
    struct Memory {
        Send how;
        Forget forget;
        Listing listing;
    };
    int sendRequestInternal(int type, const std::string& url, const std::string& body,
                            std::string& response, uint32_t& httpStatus, const Memory& memory,
                            const Readable* readable = nullptr);
    // The host of `url`: what the call's memory tells arrays apart by.
    static std::string memoryArray(const std::string& url);
    // The part of `array`'s memory that answers of `listing` are kept in.
    static std::string memoryPart(const std::string& array, Listing listing);
    // Logs the start of an answer, or all of it with diagnostic logging.
    void logResponse(const char* format, const char* text, size_t length) const;

    std::unique_ptr<KYLibCurl> http_;
    KYSO::SnapInfo* logger_ = nullptr;
    // The digest of init's user and password (never the password itself): remembered answers
    // are given only to requests made with the same credentials. Empty: the memory is not used.
    std::string credentials_;
    uint32_t retryCount_;
    uint32_t retryInterval_;
    bool diagnosticLogging_;
};
