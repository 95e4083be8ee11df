// SPDX-License-Identifier: Apache-2.0
// The one way a kysnap command ends before doing anything: its reason on standard error, and
// with --json the error document on standard output.
#pragma once

#include <cstdio>
#include <string>

#include "JsonOutput.h"
#include "Options.h"
#include "VisibleText.h"

namespace kysnap {

// With --json, prints the error document on standard output, so that a script reading it gets
// an answer whatever happened:
//   {"version": 1, "command": ..., "exitStatus": exitStatus, "error": message}
// Without --json it prints nothing (the caller says the reason on standard error).
inline void printErrorDocument(const Options& options, int exitStatus, const std::string& message) {
    if (!options.json) {
        return;
    }
    JsonDocument document = jsonDocument(visibleText(options.command));
    document["exitStatus"] = exitStatus;
    document["error"] = visibleText(message);
    printJsonDocument(document);
}

// Prints "kysnap: <message>" on standard error, escaped as any text kysnap shows (a message
// may carry a path or a value the user gave), and returns kExitFailure.
inline int cannotRun(const std::string& message) {
    std::fprintf(stderr, "kysnap: %s\n", visibleText(message).c_str());
    return kExitFailure;
}

// The same, and with --json also the error document with exit status kExitFailure.
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
