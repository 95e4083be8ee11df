// SPDX-License-Identifier: Apache-2.0
#include "jsonxx_number.h"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale>
#include <sstream>

namespace jsonxx {
namespace detail {

namespace {

// Integral values below this bound fit in max_digits10 significant digits, so they print as
// plain digits; larger ones would switch to exponent form anyway.
constexpr Number kPlainIntegerBound = 1e21L;

// Every integer below this bound is exactly a Number, so digits can be added up directly.
constexpr uint64_t exactIntegerBound() {
    constexpr int bits = std::numeric_limits<Number>::digits;
    if constexpr (bits >= 64) {
        return UINT64_MAX;
    } else {
        return uint64_t{1} << bits;
    }
}
constexpr uint64_t kExactIntegerBound = exactIntegerBound();

// 2^64: integral values below it convert to uint64_t and back unchanged.
constexpr Number kUint64Bound = 18446744073709551616.0L;

// The "C" locale, made once; null if it cannot be had, and then the streams are used.
locale_t classicLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// What the standard streams do in the classic locale, which the fast paths below reproduce:
// extraction converts with strtold in the "C" locale and fails on an infinite result;
// insertion prints with "%.*Lg" in the "C" locale.
bool streamRead(const std::string& token, Number& out) {
    std::istringstream stream(token);
    stream.imbue(std::locale::classic());
    Number value = 0;
    // On overflow the extraction sets failbit (and stores the largest finite value, which is
    // not the number written), so overflow is a parse failure rather than a silent clamp.
    stream >> value;
    if (stream.fail()) {
        return false;
    }
    out = value;
    return true;
}

std::string streamFormat(Number value, int precision) {
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream.precision(precision);
    stream << value;
    return stream.str();
}

std::string format(Number value, int precision) {
    const locale_t classic = classicLocale();
    if (classic == nullptr) {
        return streamFormat(value, precision);
    }
    // uselocale changes the calling thread's locale only, and only until it is restored.
    const locale_t previous = uselocale(classic);
    char text[64];
    const int length = std::snprintf(text, sizeof(text), "%.*Lg", precision, value);
    uselocale(previous);
    if (length < 0 || static_cast<size_t>(length) >= sizeof(text)) {
        return streamFormat(value, precision);
    }
    return std::string(text, static_cast<size_t>(length));
}

// An optional '-' and at most 19 digits that make an exactly representable integer: summed
// directly, which is what strtold gives for them.
bool readInteger(const char* begin, const char* end, Number& out) {
    const bool negative = begin != end && *begin == '-';
    const char* digit = negative ? begin + 1 : begin;
    if (digit == end || end - digit > 19) {
        return false;
    }
    uint64_t magnitude = 0;
    for (; digit != end; ++digit) {
        if (*digit < '0' || *digit > '9') {
            return false;
        }
        magnitude = magnitude * 10 + static_cast<uint64_t>(*digit - '0');
    }
    if (magnitude > kExactIntegerBound) {
        return false;
    }
    const Number value = static_cast<Number>(magnitude);
    out = negative ? -value : value;
    return true;
}

// An integral `value` below 2^64 in magnitude, as its digits ("-0" for negative zero, as the
// "%Lg" conversion writes it).
void writeInteger(std::string& out, Number value) {
    char digits[24];
    char* start = digits + sizeof(digits);
    uint64_t magnitude = static_cast<uint64_t>(std::fabs(value));
    do {
        *--start = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (std::signbit(value)) {
        *--start = '-';
    }
    out.append(start, digits + sizeof(digits));
}

}  // namespace

size_t writtenNumberLength(Number value) {
    // "-" + 21 significant digits + "." + "e-4951", or "null".
    constexpr size_t kLongest = 32;
    if (!std::isfinite(value) || std::trunc(value) != value || !(std::fabs(value) < kUint64Bound)) {
        return kLongest;
    }
    size_t length = std::signbit(value) ? 2 : 1;
    for (uint64_t magnitude = static_cast<uint64_t>(std::fabs(value)); magnitude >= 10;
         magnitude /= 10) {
        ++length;
    }
    return length;
}

bool readNumber(const char* begin, const char* end, Number& out) {
    if (readInteger(begin, end, out)) {
        return true;
    }
    // A terminated copy: strtold must not read on past the token ("0x1" is hex to it).
    const std::string token(begin, end);
    const locale_t classic = classicLocale();
    if (classic == nullptr) {
        return streamRead(token, out);
    }
    char* stop = nullptr;
    const Number value = strtold_l(token.c_str(), &stop, classic);
    if (stop != token.c_str() + token.size() || std::isinf(value)) {
        return false;
    }
    out = value;
    return true;
}

void writeNumber(std::string& out, Number value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    const int maxDigits = std::numeric_limits<Number>::max_digits10;
    if (std::trunc(value) == value && std::fabs(value) < kPlainIntegerBound) {
        if (std::fabs(value) < kUint64Bound) {
            writeInteger(out, value);
        } else {
            out += format(value, maxDigits);
        }
        return;
    }
    // Shortest text that reads back exactly, so 0.1 is written as 0.1 and not as the 21
    // digits of its binary approximation.
    for (int precision = 1; precision < maxDigits; ++precision) {
        const std::string text = format(value, precision);
        Number back = 0;
        if (readNumber(text.data(), text.data() + text.size(), back) && back == value) {
            out += text;
            return;
        }
    }
    out += format(value, maxDigits);
}

}  // namespace detail
}  // namespace jsonxx
