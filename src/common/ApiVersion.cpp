// SPDX-License-Identifier: Apache-2.0
#include "ApiVersion.h"

namespace {

constexpr size_t kMaxVersionLength = 32;

bool allDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// The whole and fractional digits of a version, without the zeros that do not change its
// value, so that comparing them compares the numbers.
bool split(const std::string& text, std::string& whole, std::string& fraction) {
    const size_t dot = text.find('.');
    if (text.size() > kMaxVersionLength) {
        return false;
    }
    whole = text.substr(0, dot);
    fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    if (!allDigits(whole) || (dot != std::string::npos && !allDigits(fraction))) {
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
