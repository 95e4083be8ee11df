// SPDX-License-Identifier: Apache-2.0
// kysnap's help texts, read from the command table: the general help with the list of
// commands, and each command's own.
#pragma once

#include <string>

#include "Options.h"
#include "Session.h"

namespace kysnap {

// The help of the command named `command`, or the general help when it is empty or no
// command's name.
std::string helpText(const std::string& command);

// `kysnap help [COMMAND]`: prints helpText(COMMAND) on standard output; 0, or kExitUsage for a
// command kysnap does not have.
int runHelp(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
