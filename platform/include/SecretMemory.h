// SPDX-License-Identifier: Apache-2.0
// Zeroing of memory that held a secret (a password, or text built from one) with stores the
// compiler cannot drop as dead. The owner of such a buffer calls it when the buffer is done
// with, before it is freed or reused, so that no freed block, core file or swapped page keeps
// the secret.
#pragma once

#include <cstddef>
#include <string>

#include "KyPlatformExport.h"

namespace kyplatform {

// Zeroes `length` bytes at `memory` (nothing when it is null).
KYPLATFORM_API void wipeSecret(void* memory, size_t length);
// Zeroes the whole buffer of `text` (its capacity, not only its length) and empties it.
KYPLATFORM_API void wipeSecret(std::string& text);

// Zeroes a string when the scope that holds it ends, however it ends.
class WipeAtScopeEnd {
public:
    explicit WipeAtScopeEnd(std::string& text) : text_(text) {}
    ~WipeAtScopeEnd() { wipeSecret(text_); }
    WipeAtScopeEnd(const WipeAtScopeEnd&) = delete;
    WipeAtScopeEnd& operator=(const WipeAtScopeEnd&) = delete;

private:
    std::string& text_;
};

}  // namespace kyplatform
