// SPDX-License-Identifier: Apache-2.0
// No exception may reach the host: every entry point runs its body through guarded(), which
// logs anything that escapes and answers "failed".
#pragma once

#include <exception>
#include <new>

#include "EvDebug.h"
#include "KYSOTypes.h"
#include "SnapInfo.h"

template <typename Body>
KYSO::ResultCode guarded(const char* function, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        EvDebug(nullptr).DebugLvl(function, EvDebug::LEVEL_ERROR,
                                  "system is running out of memory");
    } catch (const std::exception& e) {
        EvDebug(nullptr).DebugLvl(function, EvDebug::LEVEL_ERROR, "unexpected failure [%s]",
                                  e.what());
    } catch (...) {
        EvDebug(nullptr).DebugLvl(function, EvDebug::LEVEL_ERROR, "unexpected failure");
    }
    return KYSO::RESULT_FAILED;
}

// A batch call with no requests at all is rejected before anything is touched.
inline bool isEmptyCall(KYSO::SnapInfo** requests, int16_t count) {
    return requests == nullptr || count <= 0;
}
