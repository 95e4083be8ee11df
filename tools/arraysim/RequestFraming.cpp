// SPDX-License-Identifier: Apache-2.0
#include "RequestFraming.h"

#include <cstdio>
#include <cstdlib>

namespace arraysim {

namespace {

bool spaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

bool controlCharacter(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t') || byte == 0x7f;
}

// Longest chunk-size or trailer line followed; a longer one is malformed.
constexpr size_t kMaxChunkLine = 8192;

}  // namespace

size_t findHeadEnd(const std::string& bytes, size_t& scanFrom) {
    // Lines end at LF; the head ends at the first line after the request line that is just
    // CRLF. A lone LF line does not end it: the server skips such lines.
    for (;;) {
        const size_t lineEnd = bytes.find('\n', scanFrom);
        if (lineEnd == std::string::npos) {
            return 0;
        }
        const bool requestLine = scanFrom == 0;
        const size_t lineStart = scanFrom;
        scanFrom = lineEnd + 1;
        if (!requestLine && lineEnd == lineStart + 1 && bytes[lineStart] == '\r') {
            return scanFrom;
        }
    }
}

bool parseHead(const std::string& bytes, size_t length, httplib::Request& request) {
    size_t lineEnd = bytes.find('\n');
    if (lineEnd == std::string::npos || lineEnd >= length || lineEnd == 0 ||
        bytes[lineEnd - 1] != '\r') {
        return false;
    }
    const std::string line = bytes.substr(0, lineEnd - 1);
    const size_t firstSpace = line.find(' ');
    const size_t secondSpace =
        firstSpace == std::string::npos ? std::string::npos : line.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos || line.find(' ', secondSpace + 1) != std::string::npos) {
        return false;
    }
    request.method = line.substr(0, firstSpace);
    request.target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    request.version = line.substr(secondSpace + 1);
    request.path =
        httplib::detail::decode_url(request.target.substr(0, request.target.find('?')), false);
    for (size_t at = lineEnd + 1; at < length;) {
        const size_t end = bytes.find('\n', at);
        const size_t next = end + 1;
        if (end == std::string::npos || end == at || bytes[end - 1] != '\r' || end - 1 == at) {
            at = next;
            continue;
        }
        size_t valueEnd = end - 1;
        while (valueEnd > at && spaceOrTab(bytes[valueEnd - 1])) {
            --valueEnd;
        }
        const size_t colon = bytes.find(':', at);
        if (colon < valueEnd) {
            size_t value = colon + 1;
            while (value < valueEnd && spaceOrTab(bytes[value])) {
                ++value;
            }
            if (value < valueEnd) {
                request.headers.emplace(
                    bytes.substr(at, colon - at),
                    httplib::detail::decode_url(bytes.substr(value, valueEnd - value), false));
            }
        }
        at = next;
    }
    return true;
}

std::string framingProblem(const httplib::Headers& headers) {
    for (const auto& [name, value] : headers) {
        for (const std::string* text : {&name, &value}) {
            for (char c : *text) {
                if (controlCharacter(c)) {
                    char byte[8];
                    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(c));
                    return "a header holds a control character (" + std::string(byte) + ")";
                }
            }
        }
    }
    const auto lengths = headers.equal_range("Content-Length");
    for (auto it = lengths.first; it != lengths.second; ++it) {
        if (it->second != lengths.first->second) {
            return "it has Content-Length headers with different values";
        }
    }
    if (lengths.first != lengths.second && headers.find("Transfer-Encoding") != headers.end()) {
        return "it has both a Content-Length and a Transfer-Encoding header";
    }
    return "";
}

ChunkedBodyScan::State ChunkedBodyScan::advance(const std::string& bytes) {
    for (;;) {
        const size_t lineEnd = bytes.find("\r\n", at_);
        if (lineEnd == std::string::npos) {
            return bytes.size() - at_ > kMaxChunkLine ? State::Malformed : State::More;
        }
        if (lineEnd - at_ > kMaxChunkLine) {
            return State::Malformed;
        }
        if (trailer_) {
            const bool last = lineEnd == at_;
            at_ = lineEnd + 2;
            if (last) {
                return State::Complete;
            }
            continue;
        }
        const std::string line = bytes.substr(at_, lineEnd - at_);
        char* sizeEnd = nullptr;
        const unsigned long long size = std::strtoull(line.c_str(), &sizeEnd, 16);
        if (sizeEnd == line.c_str() || size > (1ULL << 40)) {
            return State::Malformed;
        }
        if (size == 0) {
            trailer_ = true;
            at_ = lineEnd + 2;
            continue;
        }
        if (data_ + size > max_) {
            return bytes.size() > lineEnd + 2 ? State::TooLarge : State::More;
        }
        const size_t dataEnd = lineEnd + 2 + static_cast<size_t>(size);
        if (bytes.size() < dataEnd + 2) {
            return State::More;
        }
        if (bytes.compare(dataEnd, 2, "\r\n") != 0) {
            return State::Malformed;
        }
        data_ += size;
        at_ = dataEnd + 2;
    }
}

}  // namespace arraysim
