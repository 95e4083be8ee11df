// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for the JSON document model: any bytes must parse or fail cleanly, and
// whatever parses must write text that parses back and writes the same again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "jsonxx.h"

namespace {

void fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "jsonxx_fuzz: %s\n--- text ---\n%s\n", what, text.c_str());
    std::abort();
}

template <typename Container>
void checkRoundTrip(const std::string& input) {
    Container parsed;
    if (!parsed.parse(input)) {
        return;
    }
    const std::string written = parsed.json();
    Container again;
    if (!again.parse(written)) {
        fail("written text does not parse", written);
    }
    if (again.json() != written) {
        fail("second write differs", written);
    }
    const Container copy(parsed);
    if (copy.json() != written) {
        fail("copy writes differently", written);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    checkRoundTrip<jsonxx::Object>(input);
    checkRoundTrip<jsonxx::Array>(input);
    checkRoundTrip<jsonxx::Value>(input);
    return 0;
}
