#include "jsonxx_number.h"

#include <cmath>
#include <limits>
#include <locale>
#include <sstream>

namespace jsonxx {
namespace detail {

namespace {

// Integral values below this bound fit in max_digits10 significant digits, so they print as
// plain digits; larger ones would switch to exponent form anyway.
constexpr Number kPlainIntegerBound = 1e21L;

std::string format(Number value, int precision) {
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream.precision(precision);
    stream << value;
    return stream.str();
}

}  // namespace

bool readNumber(const char* begin, const char* end, Number& out) {
    std::istringstream stream(std::string(begin, end));
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

void writeNumber(std::string& out, Number value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    const int maxDigits = std::numeric_limits<Number>::max_digits10;
    if (std::trunc(value) == value && std::fabs(value) < kPlainIntegerBound) {
        out += format(value, maxDigits);
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
