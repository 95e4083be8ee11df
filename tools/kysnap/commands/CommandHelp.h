// SPDX-License-Identifier: Apache-2.0
// kysnap's help texts, read from the command table: the general help with the list of
// commands, and each command's own.
#pragma once

#include <string>

#include "JsonOutput.h"
#include "Options.h"
#include "Session.h"

namespace kysnap {

// The help of the command named `command`, or the general help when it is empty or no
// command's name.
std::string helpText(const std::string& command);

// The help as one --json document (JsonOutput.h), read from the command table. The general
// help (`command` empty or no command's name):
//   {"version", "command": "help", "usage": "kysnap [OPTIONS] COMMAND [ARGUMENTS]",
//    "commands": [{"name", "summary", "usage", "options": ["--array", ...],
//                  "operands": {"least", "most" (null: any number), "noun"}}...],
//    "exitStatus": 0}
// with the commands in the order the text lists them and "options" the command options each
// takes (every command takes the global ones); a command's help:
//   {"version", "command": "help", "commandHelp": {the same members, "help": its text},
//    "exitStatus": 0}
// "usage" is the whole line, "kysnap [OPTIONS] map [--quiet] SNAPSHOT...".
JsonDocument helpDocument(const std::string& command);

// Prints the help of `command` (the general help when it is empty) on standard output: with
// --json helpDocument(command), else helpText(command). Returns kExitSuccess.
int printHelp(const Options& options, const std::string& command);

// `kysnap help [COMMAND]`: printHelp(options, COMMAND); kExitUsage (and with --json the error
// document) for a command kysnap does not have.
int runHelp(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
