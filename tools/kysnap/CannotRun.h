// SPDX-License-Identifier: Apache-2.0
// The one way a kysnap command ends before doing anything: its reason on standard error.
#pragma once

#include <cstdio>
#include <string>

#include "Options.h"
#include "VisibleText.h"
#include "jsonxx.h"

namespace kysnap {

// Prints "kysnap: <message>" on standard error, escaped as any text kysnap shows (a message
// may carry a path or a value the user gave), and returns kExitCannotRun.
inline int cannotRun(const std::string& message) {
    std::fprintf(stderr, "kysnap: %s\n", visibleText(message).c_str());
    return kExitCannotRun;
}

// The same, and with --json also one JSON object on standard output, so that a script reading
// it gets an answer whatever happened: {"operation", "exitStatus": 3, "error"}.
inline int cannotRun(const Options& options, const std::string& message) {
    if (options.json) {
        jsonxx::Object answer;
        answer.import("operation", visibleText(options.command));
        answer.import("exitStatus", static_cast<jsonxx::Number>(kExitCannotRun));
        answer.import("error", visibleText(message));
        std::printf("%s\n", answer.json().c_str());
        std::fflush(stdout);
    }
    return cannotRun(message);
}

}  // namespace kysnap
