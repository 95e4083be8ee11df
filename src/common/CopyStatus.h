// SPDX-License-Identifier: Apache-2.0
// Copy_Status: the status every layer of the plug-in returns; 0 is success. A layer passes a
// lower layer's value upward unchanged unless it has its own reason to replace it. A status is
// never dropped silently: the compiler refuses a discarded one, and a caller that has a reason
// not to use it says so with ignoreStatus.
#pragma once

#include <cstdint>

// clang-format would glue the brace to the base type of an enum with an attribute.
// clang-format off
enum [[nodiscard]] Copy_Status : int32_t {
    // clang-format on
    COPY_SUCCESS = 0,
    COPY_FAILED = 1,           // general failure
    COPY_NO_MEMORY = 2,        // an object could not be made, or no command exists for a type
    COPY_NOT_SUPPORTED = 3,    // the array's software or API version is not supported
    COPY_NOT_FOUND = 4,        // no array, share, initiator or group holds what was asked
    COPY_INVALID_REQUEST = 5,  // a required value is empty, or the array refused the snapshot
    COPY_IN_PROGRESS = 7,      // the array is still creating the snapshot
    COPY_ACCESS_DENIED = 8,    // the array refused the user credentials
    COPY_PATH_TOO_LONG = 9,    // the snapshot dataset path name is too long
};

// Drops `status` on purpose; `why` names the reason at the call site (a clean-up whose failure
// changes nothing the caller returns, say). Nothing is logged: the layer that failed has.
inline void ignoreStatus(Copy_Status status, const char* why) {
    static_cast<void>(status);
    static_cast<void>(why);
}
