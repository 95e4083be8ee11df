// SPDX-License-Identifier: Apache-2.0
#include "UtilText.h"

#include <cstring>

#include "SecretMemory.h"

namespace {
constexpr int kMaxRegrows = 8;
}

int32_t readUtilText(int32_t initialSize, const UtilGet& get, const UtilRegrowNotice& onRegrow,
                     std::string& text) {
    text.clear();
    std::vector<char> buffer(static_cast<size_t>(initialSize > 0 ? initialSize : 1), '\0');
    // The array information holds the password: the buffer is zeroed whenever it is let go.
    struct Wiped {
        std::vector<char>& buffer;
        ~Wiped() { kyplatform::wipeSecret(buffer.data(), buffer.size()); }
    } wiped{buffer};
    for (int regrows = 0;; ++regrows) {
        const int32_t size = static_cast<int32_t>(buffer.size());
        const int32_t answer = get(size, buffer.data());
        if (answer == 0) {
            text.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
            return 0;
        }
        if (answer < 0) {
            return answer;
        }
        if (onRegrow) {
            onRegrow(size, answer);
        }
        if (answer <= size || answer > kMaxUtilTextSize || regrows >= kMaxRegrows) {
            return -1;
        }
        kyplatform::wipeSecret(buffer.data(), buffer.size());
        buffer.assign(static_cast<size_t>(answer), '\0');
    }
}
