// SPDX-License-Identifier: Apache-2.0
#include "SecretMemory.h"

#include <string.h>

namespace kyplatform {

void wipeSecret(void* memory, size_t length) {
    if (memory != nullptr && length > 0) {
        explicit_bzero(memory, length);
    }
}

void wipeSecret(std::string& text) {
    // Growing to the capacity reallocates nothing and makes every byte of the buffer ours.
    text.resize(text.capacity());
    wipeSecret(text.data(), text.size());
    text.clear();
}

}  // namespace kyplatform
