// SPDX-License-Identifier: Apache-2.0
// Array passwords: read from a file only its owner can read, or from an environment variable;
// never from the command line, and never written anywhere by kysnap.
#pragma once

#include <string>

#include "HostConfig.h"

namespace kysnap {

// The password of `array` from its password file or variable. False with `error` set (the
// array, the file or variable, and how to fix it) when the file is missing, readable or
// writable by group or others, not a regular file, or empty; or when the variable is unset or
// empty; or when the password holds a character the array information text cannot carry
// (',', '{', '}' or a line break).
bool readPassword(const ArrayConfig& array, std::string& password, std::string& error);

}  // namespace kysnap
