// SPDX-License-Identifier: Apache-2.0
// KYLibCurl: the HTTP client library the REST client calls. One object is one client with one
// kept-alive connection: every request it sends reuses the connection of the previous one.
// HTTPS certificates and host names are verified by default. The exchange itself goes through
// the replaceable kyplatform::HttpTransport (HttpTransport.h), libcurl by default.
//
// Environment, read by every KYLibCurlInit (see docs/tls.md):
//   KYSNAP_TLS_CA_FILE            trusted CA certificates (PEM) instead of the system store
//   KYSNAP_TLS_PINS_FILE          public-key pins per array address (TlsPins.h): for a pinned
//                                 address the pin alone decides; a malformed file fails every
//                                 request with its line
//   KYSNAP_TLS_INSECURE=1         no certificate or host-name check (warned about via EvDebug);
//                                 pins still apply
//   KYSNAP_HTTP_CONNECT_TIMEOUT   seconds for connecting, TLS included (default 30)
//   KYSNAP_HTTP_TIMEOUT           seconds for a whole request (default 300)
//
// Only https:// URLs are accepted: the credentials never travel in clear.
//
// An object is used by one thread at a time. No operation throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "KyPlatformExport.h"

class KYPLATFORM_API KYLibCurl {
public:
    // Receives the body of each answer once it has been received, as (data, 1, length, the
    // KYLibCurl object). A return value other than `length` makes the send report failure.
    using WriteCallback = size_t (*)(char* data, size_t size, size_t count, void* client);

    KYLibCurl();
    ~KYLibCurl();
    KYLibCurl(const KYLibCurl&) = delete;
    KYLibCurl& operator=(const KYLibCurl&) = delete;

    // Reads the environment and creates the transport. `contentType` (may be null) is sent as
    // the Content-Type of every request unless a "Content-Type:" header line is appended, which
    // then takes its place. `keepAlive` false closes the connection after each request.
    // `verbose` is accepted and ignored: the library's own tracing could print credentials.
    // Forgets headers, credentials and the last answer of an earlier initialisation.
    // Returns false when no transport could be created.
    bool KYLibCurlInit(const char* contentType, bool keepAlive, bool verbose,
                       WriteCallback writeCallback);

    // Kind 0: `text` is a header line "Name: value" sent with every request; a text without a
    // name before its ':' or with a line break is refused. Kind 1: `text` is the credentials
    // "user:password", split at the first ':' (the password may contain ':'), sent as HTTP
    // basic authentication. Returns false for a refused text, any other kind, a null text,
    // before a successful KYLibCurlInit, or when the transport cannot keep the value.
    bool KYLibCurlAppendHeader(int kind, const char* text);

    // Sends one request synchronously: type 0 GET, 1 POST, 2 PUT, 3 DELETE to `url`, with
    // `length` bytes of `body` (null when `length` is 0: no body is sent). `reserved` and
    // `reservedText` must be false and null. Returns true when an answer with a 2xx status was
    // received. Returns false when no exchange took place (status then 0, unless a status line
    // arrived before the failure) or the answer's status is anything else: a redirect (3xx) is
    // not followed and counts as a failure like an error status. The status and the body
    // received stay available either way, and GetLastError() says why the request failed.
    bool KYLibCurlSendHttpReq(int type, const char* url, const char* body, size_t length,
                              bool reserved, const char* reservedText);

    // As KYLibCurlSendHttpReq, on a new connection (kept for later requests): the request
    // reaches the server at most once even when a kept-alive connection dies under it. For
    // requests that create something; the TLS session is resumed, so it stays cheap.
    bool KYLibCurlSendHttpReqOnce(int type, const char* url, const char* body, size_t length);

    // The HTTP status of the last request, 0 when none was received.
    uint32_t GetHttpErrorCode();

    // The body of the last answer as received (it may contain NUL bytes), followed by a NUL;
    // `length` is set to its size without that NUL. The text is owned by this object and valid
    // until the next send, init or destruction; it is "" with length 0 when there is none.
    // `copy` is accepted for the host library's interface and has no effect.
    const char* GetHttpResponse(size_t& length, bool copy);

    // Why the last send returned false, as one line for a person (e.g. "time-out: no complete
    // answer within 10 seconds (KYSNAP_HTTP_TIMEOUT): ...", "the answer exceeded 64 MiB", "the
    // array answered with a redirect (HTTP 302) to https://...; it was not followed and nothing
    // was done"); "" after a success. Owned by this object, valid until the next send, init or
    // destruction. It may quote the server's text, but never the credentials.
    const char* GetLastError() const;

private:
    bool send(int type, const char* url, const char* body, size_t length, bool fresh,
              bool reservedSet);
    // Logs `line` at error level, keeps `why` (or the line) as the last error; returns false.
    bool fail(const char* function, const std::string& line, const std::string& why = "");

    struct State;
    std::unique_ptr<State> state_;
};
