// SPDX-License-Identifier: Apache-2.0
// The one way a kysnap command ends before doing anything: its reason on standard error.
#pragma once

#include <cstdio>
#include <string>

#include "Options.h"
#include "VisibleText.h"

namespace kysnap {

// Prints "kysnap: <message>" on standard error, escaped as any text kysnap shows (a message
// may carry a path or a value the user gave), and returns kExitCannotRun.
inline int cannotRun(const std::string& message) {
    std::fprintf(stderr, "kysnap: %s\n", visibleText(message).c_str());
    return kExitCannotRun;
}

}  // namespace kysnap
