// SPDX-License-Identifier: Apache-2.0
// Number conversion shared by the parser and the writer, so that a written number reads back
// to the same long double. Both directions use the classic locale, whatever locale the host
// process has set.
#pragma once

#include <string>

#include "jsonxx.h"

namespace jsonxx {
namespace detail {

// Converts the characters [begin, end), which the caller has already matched against the JSON
// number grammar, by stream extraction of a long double. Returns false, leaving `out`
// unchanged, when the value lies beyond the range of long double; a value too small for it
// becomes 0 or a subnormal and succeeds.
bool readNumber(const char* begin, const char* end, Number& out);

// Appends `value` as JSON text: an integral value below 1e21 in magnitude as plain digits, any
// other finite value with the fewest significant digits that read back to the same value, and
// a NaN or infinity (not representable in JSON) as null.
void writeNumber(std::string& out, Number value);

// The length of what writeNumber() appends for `value`, or more: exact for integral values
// below 2^64 in magnitude, the longest any number can be written for the others.
size_t writtenNumberLength(Number value);

}  // namespace detail
}  // namespace jsonxx
