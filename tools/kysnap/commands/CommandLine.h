// SPDX-License-Identifier: Apache-2.0
// kysnap's command line: global options may stand before or after the command; "--" ends the
// options. Which command options and how many operands a command takes is read from its row in
// the command table.
#pragma once

#include <string>
#include <vector>

#include "CommandTable.h"
#include "Options.h"

namespace kysnap {

// Parses argv into `options`. False with `error` set (the first problem) for an unknown
// option, a missing value, a value given to an option that takes none, or a password; the
// rest of the line is still parsed, so that `options.json` says whether --json was given
// anywhere.
bool parseCommandLine(int argc, char** argv, Options& options, std::string& error);

// Whether `options` fit `command`: every command option given is one it takes, and the number
// of operands is within its bounds. False with `error` set (a usage error).
bool fitsCommand(const Command& command, const Options& options, std::string& error);

// The command options in `mask` (CommandOption bits), as the user writes them ("--array"), in
// the order kysnap --help lists them.
std::vector<std::string> commandOptionNames(unsigned mask);

}  // namespace kysnap
