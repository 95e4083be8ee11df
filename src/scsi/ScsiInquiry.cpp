// SPDX-License-Identifier: Apache-2.0
#include "ScsiInquiry.h"

#include <algorithm>
#include <boost/algorithm/string/trim.hpp>
#include <cctype>
#include <cstring>

namespace scsi {

namespace {

constexpr size_t kVendorOffset = 8;
constexpr size_t kVendorWidth = 8;
constexpr size_t kProductOffset = 16;
constexpr size_t kProductWidth = 16;
constexpr size_t kLunIdOffset = 8;
constexpr size_t kLunIdBytes = 16;
constexpr size_t kTargetLengthOffset = 27;
constexpr size_t kTargetOffset = 28;
constexpr size_t kTargetFixedWidth = 46;
// Bytes 0-31 hold everything read from standard data.
constexpr size_t kMinHexDigits = 2 * (kProductOffset + kProductWidth);

// Up to `width` bytes at `offset`, stopping at the first NUL and at the end of the buffer.
std::string text(const unsigned char* data, size_t length, size_t offset, size_t width) {
    if (data == nullptr || offset >= length) {
        return std::string();
    }
    const size_t room = std::min(width, length - offset);
    const char* start = reinterpret_cast<const char*>(data + offset);
    return std::string(start, strnlen(start, room));
}

std::string trimmedField(const unsigned char* data, size_t length, size_t offset, size_t width) {
    std::string field = text(data, length, offset, width);
    boost::algorithm::trim_right(field);
    return field;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::array<unsigned char, 6> inquiryCdb(bool evpd, unsigned int page, unsigned int length) {
    return {0x12, static_cast<unsigned char>(evpd ? 1 : 0),  static_cast<unsigned char>(page),
            0,    static_cast<unsigned char>(length & 0xff), 0};
}

std::string vendorId(const unsigned char* data, size_t length) {
    return trimmedField(data, length, kVendorOffset, kVendorWidth);
}

std::string productId(const unsigned char* data, size_t length) {
    return trimmedField(data, length, kProductOffset, kProductWidth);
}

std::string lunId(const unsigned char* page, size_t length) {
    if (page == nullptr || length < kLunIdOffset + kLunIdBytes) {
        return std::string();
    }
    static const char kDigits[] = "0123456789ABCDEF";
    std::string id;
    id.reserve(2 * kLunIdBytes);
    for (size_t i = kLunIdOffset; i < kLunIdOffset + kLunIdBytes; ++i) {
        id += kDigits[page[i] >> 4];
        id += kDigits[page[i] & 0x0f];
    }
    return id;
}

std::string targetId(const unsigned char* page, size_t length) {
    if (page == nullptr || length <= kTargetLengthOffset) {
        return std::string();
    }
    return text(page, length, kTargetOffset, page[kTargetLengthOffset]);
}

std::string targetIdFixed(const unsigned char* page, size_t length) {
    return text(page, length, kTargetOffset, kTargetFixedWidth);
}

bool lunIdFromUuid(const std::string& uuid, std::string& lunId) {
    constexpr size_t kPrefix = 10;
    constexpr size_t kDigits = 32;
    lunId.clear();
    if (uuid.size() < kPrefix + kDigits) {
        return false;
    }
    lunId = uuid.substr(kPrefix, kDigits);
    for (char& c : lunId) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return true;
}

size_t hexToBytes(const std::string& hex, size_t maxBytes, std::vector<unsigned char>& bytes) {
    bytes.clear();
    const size_t digits = std::min(hex.size() / 2, maxBytes) * 2;
    bytes.reserve(digits / 2);
    for (size_t i = 0; i < digits; i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return high < 0 ? i : i + 1;
        }
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return std::string::npos;
}

bool decodeHexInquiry(const std::string& hex, std::vector<unsigned char>& bytes, std::string& why) {
    bytes.assign(kHexInquiryBytes, 0);
    if (hex.size() < kMinHexDigits) {
        why = "shorter than the vendor and product fields";
        return false;
    }
    bool anyDigit = false;
    for (size_t i = 0, out = 0; i < hex.size() && out < kHexInquiryBytes; i += 2, ++out) {
        // A pair reads as a base-16 number: its leading digits count, the rest does not.
        unsigned int value = 0;
        for (size_t j = i; j < std::min(i + 2, hex.size()); ++j) {
            const int digit = hexDigit(hex[j]);
            if (digit < 0) {
                break;
            }
            value = value * 16 + static_cast<unsigned int>(digit);
            anyDigit = true;
        }
        bytes[out] = static_cast<unsigned char>(value);
    }
    if (!anyDigit) {
        why = "no hexadecimal digits";
        return false;
    }
    return true;
}

}  // namespace scsi
