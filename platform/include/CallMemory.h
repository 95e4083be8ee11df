// SPDX-License-Identifier: Apache-2.0
// What one plug-in call remembers of the answers arrays gave it, so that a read the call repeats
// is answered without asking the array again. The memory belongs to the calling thread's open
// CallScope and ends with it; outside a scope nothing is remembered and nothing is recalled.
//
// The platform does not judge which requests may be remembered: its caller does, and names the
// array (any text that tells arrays apart) and the request (its URL, body and the digest of the
// credentials it is sent with, say). Rules kept here:
// - forget(array) drops everything remembered of that array; a call forgets before anything
//   that may change the array.
// - Every wait (LMSLEEP) inside the scope forgets everything: a call waits because it expects an
//   array to change.
// - Answers are kept up to kCallMemoryBytes in all; beyond that nothing more is remembered.
// - With the environment variable KYSNAP_CALL_MEMORY=off when the outermost scope opens, that
//   call remembers nothing (tests compare a call's outcome with and without the memory).
#pragma once

#include <cstddef>
#include <string>

#include "KyPlatformExport.h"

namespace kyplatform {

constexpr size_t kCallMemoryBytes = 64u << 20;

namespace callmemory {

// True, with `answer` set, when the call remembers an answer to `request` on `array`.
KYPLATFORM_API bool recall(const std::string& array, const std::string& request,
                           std::string& answer);
KYPLATFORM_API void remember(const std::string& array, const std::string& request,
                             const std::string& answer);
KYPLATFORM_API void forget(const std::string& array);

// The SHA-256 digest (64 lower-case hex digits) of a user name and password, unambiguous for
// any pair: what a caller keys remembered answers by so that they are given only to requests
// made with the same credentials, without keeping the password itself. Empty when the digest
// cannot be made (no memory for it): the caller then neither recalls nor remembers. Never to be
// logged.
KYPLATFORM_API std::string credentialsDigest(const std::string& user, const std::string& password);

}  // namespace callmemory
}  // namespace kyplatform
