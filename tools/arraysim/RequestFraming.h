// SPDX-License-Identifier: Apache-2.0
// RequestFraming: where an HTTP/1.1 request ends in the bytes a connection has received, read
// the way the HTTP server (cpp-httplib) will read them, so that a connection is handed to a
// worker only once its request has arrived whole, and a worker never waits for a client.
//
// Reading the same bytes twice (here, then in the server) is only safe when the framing is
// unambiguous; framingProblem() names what makes it ambiguous, and such a request is refused.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <string>

namespace arraysim {

// Most bytes of a request head (request line and headers) kept while its end has not come.
constexpr size_t kMaxRequestHeadBytes = 64 * 1024;

// The length of the head at the start of `bytes` (through the empty line that ends it), or 0
// while it has not ended. `scanFrom` carries where an earlier call on a prefix of the same
// bytes stopped; start it at 0.
size_t findHeadEnd(const std::string& bytes, size_t& scanFrom);

// Parses the head (`length` bytes from findHeadEnd) into method, target, path and headers as
// the server does (header values percent-decoded, lines without CRLF skipped). False when the
// request line cannot be read; the server answers 400 to such a request.
bool parseHead(const std::string& bytes, size_t length, httplib::Request& request);

// Why these headers do not frame a request unambiguously: Content-Length headers with
// different values, a Content-Length together with a Transfer-Encoding, a control character
// other than a tab in a header's name or value. Empty when none applies.
std::string framingProblem(const httplib::Headers& headers);

// Follows a chunked body through the bytes received so far.
class ChunkedBodyScan {
public:
    // TooLarge: a chunk takes the data beyond `maxDataBytes`, and a byte of it has arrived
    // (enough for the server to see the body is too large).
    enum class State { More, Complete, Malformed, TooLarge };

    // `start`: where the body begins in the bytes. Calls see ever longer prefixes of the same
    // bytes.
    ChunkedBodyScan(size_t start, unsigned long long maxDataBytes)
        : at_(start), max_(maxDataBytes) {}
    State advance(const std::string& bytes);
    size_t end() const { return at_; }  // where the body ends (Complete) or scanning stopped
    unsigned long long dataBytes() const { return data_; }

private:
    size_t at_;
    unsigned long long max_;
    unsigned long long data_ = 0;
    bool trailer_ = false;
};

}  // namespace arraysim
