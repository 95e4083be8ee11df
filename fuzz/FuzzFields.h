// SPDX-License-Identifier: Apache-2.0
// How the fuzz targets cut one input into several texts: fields are separated by a line of
// four dashes ("\n----\n"), so that the seed files stay readable and each field can still
// hold any byte. Missing fields are empty.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

inline const char kFieldSeparator[] = "\n----\n";

inline std::vector<std::string> fields(const uint8_t* data, size_t size, size_t count) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string separator = kFieldSeparator;
    std::vector<std::string> out;
    size_t start = 0;
    while (out.size() + 1 < count) {
        const size_t at = input.find(separator, start);
        if (at == std::string::npos) {
            break;
        }
        out.push_back(input.substr(start, at - start));
        start = at + separator.size();
    }
    out.push_back(input.substr(std::min(start, input.size())));
    out.resize(count);
    return out;
}

// Ends the run with a message when an expectation of the target does not hold: libFuzzer
// then keeps the input as a crash.
[[noreturn]] inline void fail(const char* target, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", target, what.c_str());
    std::abort();
}

}  // namespace fuzz
