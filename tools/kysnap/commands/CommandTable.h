// SPDX-License-Identifier: Apache-2.0
// kysnap's command table: one row per command with its name, help, the command options and
// operands it takes, what its session needs and the function that runs it. The help texts, the
// command-line checks and the dispatch all read it; nothing else names a command.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Runs a command whose command line was checked against its row; `needs` is the row's
// session (the default for a command that opens none, which does not read it). Returns the
// exit status.
using RunCommand = int (*)(const Options& options, const Session::Needs& needs);

constexpr int kAnyNumber = -1;

// How many operands a command takes and what each is.
struct Operands {
    int least = 0;
    int most = 0;  // kAnyNumber: no limit
    const char* noun = "argument";
    // A CommandOption that names the operands instead (none may be given with it); 0: none.
    unsigned namedBy = 0;
};

struct Command {
    const char* name;
    const char* summary;  // one line in the command list
    const char* usage;    // what follows "kysnap [OPTIONS] NAME"
    const char* help;
    unsigned options;  // the CommandOption bits it takes; every command takes the global options
    Operands operands;
    std::optional<Session::Needs> session;  // none: the command opens no session
    RunCommand run;
};

// Every command, in the order the help lists them.
const std::vector<Command>& commands();

// The row of `name`; null when kysnap has no such command.
const Command* findCommand(const std::string& name);

}  // namespace kysnap
