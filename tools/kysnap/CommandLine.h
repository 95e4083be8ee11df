// SPDX-License-Identifier: Apache-2.0
// kysnap's command line: global options may stand before or after the command; "--" ends the
// options. Also the help texts, general and per command.
#pragma once

#include <string>

#include "Options.h"

namespace kysnap {

// kysnap's own version (the project's).
extern const char kVersion[];

// Parses argv into `options`. False with `error` set for an unknown option, a missing value or
// an option the command does not take.
bool parseCommandLine(int argc, char** argv, Options& options, std::string& error);

// True when `command` is one kysnap knows.
bool knownCommand(const std::string& command);

// The help of `command`, or the general help when it is empty.
std::string helpText(const std::string& command);

}  // namespace kysnap
