// SPDX-License-Identifier: Apache-2.0
// kysnap: a host for the snapshot plug-in. It loads libKySnapTegile.so with dlopen, the way a
// backup agent does, gives it a host (simulated or this Linux machine) and a catalog, and runs
// its operations from the command line. Which commands there are, what they take and what runs
// them is the command table's.
#include <cstdio>
#include <string>

#include "CannotRun.h"
#include "CommandHelp.h"
#include "CommandLine.h"
#include "CommandTable.h"
#include "SecretProtection.h"
#include "VersionCommand.h"

int main(int argc, char** argv) {
    kysnap::Options options;
    std::string error;
    if (!kysnap::parseCommandLine(argc, argv, options, error)) {
        return kysnap::usageError(options, error);
    }
    const kysnap::Command* command = nullptr;
    if (!options.command.empty() && (command = kysnap::findCommand(options.command)) == nullptr) {
        return kysnap::usageError(
            options, "unknown command " + options.command + " (kysnap --help lists them)");
    }
    if (options.help) {
        return kysnap::printHelp(options, options.command);
    }
    if (options.version) {
        return kysnap::runVersion(options, kysnap::Session::Needs());
    }
    if (command == nullptr) {
        // The general help instead of a command, and a usage error.
        std::fputs(kysnap::helpText("").c_str(), stderr);
        return kysnap::usageError(options, "no command given");
    }
    if (!kysnap::fitsCommand(*command, options, error)) {
        return kysnap::usageError(options, error);
    }
    // Before any command reads a password, whichever it is: no core file or debugger shows it.
    if (!kysnap::protectSecretsOfThisProcess(error)) {
        return kysnap::cannotRun(options, error);
    }
    return command->run(options, command->session.value_or(kysnap::Session::Needs()));
}
