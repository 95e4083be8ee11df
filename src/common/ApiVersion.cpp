// SPDX-License-Identifier: Apache-2.0
#include "ApiVersion.h"

#include <cstdio>

namespace {

constexpr size_t kMaxVersionLength = 32;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The digits from `at` on; `at` moves past them.
std::string digitsAt(const std::string& text, size_t& at) {
    const size_t start = at;
    while (at < text.size() && isDigit(text[at])) {
        ++at;
    }
    return text.substr(start, at - start);
}

// The whole and fractional digits of a version's leading number, without the zeros that do
// not change its value, so that comparing them compares the numbers.
bool split(const std::string& text, std::string& whole, std::string& fraction) {
    if (text.size() > kMaxVersionLength) {
        return false;
    }
    size_t at = 0;
    while (at < text.size() && isBlank(text[at])) {
        ++at;
    }
    whole = digitsAt(text, at);
    if (whole.empty()) {
        return false;
    }
    fraction.clear();
    // The first ".digits" is the number's fraction; any further one is a patch level.
    for (bool first = true; at < text.size() && text[at] == '.'; first = false) {
        ++at;
        const std::string part = digitsAt(text, at);
        if (part.empty()) {
            return false;
        }
        if (first) {
            fraction = part;
        }
    }
    while (at < text.size() && isBlank(text[at])) {
        ++at;
    }
    if (at != text.size()) {
        return false;
    }
    whole.erase(0, whole.find_first_not_of('0'));
    fraction.erase(fraction.find_last_not_of('0') + 1);
    return true;
}

}  // namespace

bool isApiVersion(const std::string& text) {
    std::string whole;
    std::string fraction;
    return split(text, whole, fraction);
}

bool apiVersionAtLeast(const std::string& text, const std::string& least) {
    std::string whole, fraction, leastWhole, leastFraction;
    if (!split(text, whole, fraction) || !split(least, leastWhole, leastFraction)) {
        return false;
    }
    if (whole.size() != leastWhole.size()) {
        return whole.size() > leastWhole.size();
    }
    if (whole != leastWhole) {
        return whole > leastWhole;
    }
    // Decimal fractions without trailing zeros order as their digit strings do.
    return fraction >= leastFraction;
}

std::string printableVersion(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}
