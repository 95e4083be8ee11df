// SPDX-License-Identifier: Apache-2.0
#include "CurlMemory.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "SecretMemory.h"

namespace kyplatform {

namespace {

void wipingFree(void* block) {
    if (block != nullptr) {
        wipeSecret(block, malloc_usable_size(block));
        std::free(block);
    }
}

// A move to a new block, so that the old one is zeroed before it goes back to the allocator.
void* wipingRealloc(void* block, size_t size) {
    if (block == nullptr) {
        return std::malloc(size);
    }
    void* moved = std::malloc(size == 0 ? 1 : size);
    if (moved == nullptr) {
        return nullptr;  // the old block stays valid, as realloc leaves it
    }
    std::memcpy(moved, block, std::min(malloc_usable_size(block), size));
    wipingFree(block);
    return moved;
}

char* copyString(const char* text) {
    const size_t length = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(length));
    if (copy != nullptr) {
        std::memcpy(copy, text, length);
    }
    return copy;
}

}  // namespace

CURLcode initCurlWithWipingMemory(long flags) {
    return curl_global_init_mem(flags, std::malloc, wipingFree, wipingRealloc, copyString,
                                std::calloc);
}

}  // namespace kyplatform
