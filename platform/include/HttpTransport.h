// SPDX-License-Identifier: Apache-2.0
// The seam under KYLibCurl: one HttpTransport per KYLibCurl performs its requests, keeping its
// connection open between them. The default transport is libcurl; a host or a test can install
// another factory (for example one that fails on purpose, or answers from memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KyPlatformExport.h"
#include "TlsPins.h"

namespace kyplatform {

// How a transport talks to its server; made from the settings in force (PlatformSettings.h)
// by KYLibCurlInit.
struct HttpTransportSettings {
    // Certificate chain and host name are checked unless this is false (TlsChecks::Off).
    bool verifyPeer = true;
    // Trusted CA certificates (PEM); empty means the system CA store.
    std::string caFile;
    // Why the CA file cannot be used (it is no regular file, which libcurl's blocking open could
    // wait on for good); when set, every request that would trust it fails with it and nothing
    // is sent.
    std::string caFileError;
    // A CA file of one array, trusted for requests to it in place of caFile.
    struct ArrayCaFile {
        std::string key;          // addressKey of the array's address
        std::string caFile;       // never empty
        std::string caFileError;  // as caFileError, for requests to this array
    };
    std::vector<ArrayCaFile> arrayCaFiles;
    // Public-key pins per array address (from the pins file). A request to a pinned address
    // is accepted only when the presented key matches one of its pins; its chain and names
    // are then not checked. Other addresses keep the checks above.
    std::vector<PinnedArray> pins;
    std::string pinsFile;
    // Why the pins file cannot be used; when set, every request fails with it rather than
    // going out without the pins.
    std::string pinsError;
    // Seconds for the connection phase (TCP and TLS handshake) and for the whole request, and
    // how a person changes each (named in a time-out's message).
    long connectTimeoutSeconds = 30;
    long totalTimeoutSeconds = 300;
    std::string connectTimeoutSetting = "KYSNAP_HTTP_CONNECT_TIMEOUT";
    std::string totalTimeoutSetting = "KYSNAP_HTTP_TIMEOUT";
    // Keep the connection open for the next request of the same transport.
    bool keepAlive = true;
    // Content type sent when no "Content-Type:" header line was added; empty sends none.
    std::string contentType;
};

enum class HttpMethod { Get = 0, Post = 1, Put = 2, Delete = 3 };

struct HttpRequest {
    HttpMethod method = HttpMethod::Get;
    std::string url;
    // Borrowed for the duration of perform(); null exactly when bodyLength is 0. A request
    // without a body sends none (a POST or PUT then carries "Content-Length: 0").
    const char* body = nullptr;
    size_t bodyLength = 0;
    // Sent on a new connection: a kept-alive connection that dies after the server has read a
    // request makes libcurl send it again on a new one, which a request that creates something
    // must never be.
    bool freshConnection = false;
};

struct HttpResponse {
    // HTTP status of the answer, 0 when none was received.
    uint32_t status = 0;
    // The answer's body, byte for byte (it may hold NUL bytes); partial after a failure.
    std::string body;
    // Why perform() failed; never contains credentials.
    std::string error;
    // Where a redirect (3xx) answer points (its Location, resolved against the request's
    // URL), as the server sent it; empty for other answers or when it named none.
    std::string location;
    // Something the caller should log although the request went through (a pinned
    // certificate that has expired); empty when there is nothing to say.
    std::string warning;
};

class KYPLATFORM_API HttpTransport {
public:
    virtual ~HttpTransport() = default;

    // Adds a complete header line ("Name: value") sent with every later request, in the order
    // added. Returns false when the line cannot be kept.
    virtual bool addHeader(const std::string& line) = 0;
    // Sets the credentials sent with every later request as HTTP basic authentication.
    // Returns false when they cannot be kept.
    virtual bool setCredentials(const std::string& user, const std::string& password) = 0;
    // Performs one request synchronously, reusing the open connection when there is one (and
    // the request does not ask for a fresh one). Only https:// URLs are sent. Returns true when
    // a complete answer was received, whatever its status; false when no complete exchange
    // took place (`response.error` says why): an answer cut inside its header block, or with
    // fewer body bytes than its Content-Length, is no complete answer.
    virtual bool perform(const HttpRequest& request, HttpResponse& response) = 0;
};

class KYPLATFORM_API HttpTransportFactory {
public:
    virtual ~HttpTransportFactory() = default;
    // A new transport for `settings`, or null with `error` set.
    virtual std::unique_ptr<HttpTransport> create(const HttpTransportSettings& settings,
                                                  std::string& error) = 0;
};

// Installs `factory` (borrowed; it must outlive its use; null restores the libcurl factory)
// for KYLibCurl objects initialised from now on, and returns the previous one (null when the
// libcurl factory was in use).
KYPLATFORM_API HttpTransportFactory* setHttpTransportFactory(HttpTransportFactory* factory);

// The factory in use: the installed one, or the libcurl factory.
KYPLATFORM_API HttpTransportFactory& httpTransportFactory();

}  // namespace kyplatform
