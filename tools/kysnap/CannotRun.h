// SPDX-License-Identifier: Apache-2.0
// The one way a kysnap command ends before doing anything: its reason on standard error, and
// with --json an error document on standard output.
#pragma once

#include <cstdio>
#include <string>

#include "Options.h"
#include "VisibleText.h"
#include "jsonxx.h"

namespace kysnap {

// With --json: one JSON object on standard output, so that a script reading it gets an answer
// whatever happened: {"operation", "exitStatus", "error"}. Nothing without --json.
inline void printErrorDocument(const Options& options, int exitStatus, const std::string& message) {
    if (!options.json) {
        return;
    }
    jsonxx::Object answer;
    answer.import("operation", visibleText(options.command));
    answer.import("exitStatus", static_cast<jsonxx::Number>(exitStatus));
    answer.import("error", visibleText(message));
    std::printf("%s\n", answer.json().c_str());
    std::fflush(stdout);
}

// Prints "kysnap: <message>" on standard error, escaped as any text kysnap shows (a message
// may carry a path or a value the user gave), and returns kExitFailure.
inline int cannotRun(const std::string& message) {
    std::fprintf(stderr, "kysnap: %s\n", visibleText(message).c_str());
    return kExitFailure;
}

// The same, and with --json also the error document.
inline int cannotRun(const Options& options, const std::string& message) {
    printErrorDocument(options, kExitFailure, message);
    return cannotRun(message);
}

// A command line kysnap cannot take: the message on standard error (and with --json the error
// document); returns kExitUsage.
inline int usageError(const Options& options, const std::string& message) {
    printErrorDocument(options, kExitUsage, message);
    std::fprintf(stderr, "kysnap: %s\n", visibleText(message).c_str());
    return kExitUsage;
}

}  // namespace kysnap
