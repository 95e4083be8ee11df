// SPDX-License-Identifier: Apache-2.0
// kysnap: a host for the snapshot plug-in. It loads libKySnapTegile.so with dlopen, the way a
// backup agent does, gives it a host (simulated or this Linux machine) and a catalog, and runs
// its operations from the command line.
#include <cstdio>
#include <string>

#include "BatchCommands.h"
#include "CannotRun.h"
#include "CheckCommand.h"
#include "CommandLine.h"
#include "DemoCommand.h"
#include "DeviceCommands.h"
#include "DevicesCommand.h"
#include "ListCommand.h"
#include "PluginLibrary.h"
#include "SecretProtection.h"
#include "TrustCommand.h"
#include "VersionCommand.h"

int main(int argc, char** argv) {
    kysnap::Options options;
    std::string error;
    if (!kysnap::parseCommandLine(argc, argv, options, error)) {
        std::fprintf(stderr, "kysnap: %s\n", error.c_str());
        return kysnap::kExitCannotRun;
    }
    if (options.command == "help") {
        options.help = true;
        options.command = options.arguments.empty() ? "" : options.arguments.front();
    }
    if (!options.command.empty() && !kysnap::knownCommand(options.command)) {
        std::fprintf(stderr, "kysnap: unknown command %s (kysnap --help lists them)\n",
                     options.command.c_str());
        return kysnap::kExitCannotRun;
    }
    if (options.version && !options.help) {
        return kysnap::runVersion(options, true);
    }
    if (options.help || options.command.empty()) {
        std::fputs(kysnap::helpText(options.command).c_str(), options.help ? stdout : stderr);
        return options.help ? 0 : kysnap::kExitCannotRun;
    }
    // Before any command reads a password, whichever it is: no core file or debugger shows it.
    if (!kysnap::protectSecretsOfThisProcess(error)) {
        return kysnap::cannotRun(options, error);
    }
    const std::string& command = options.command;
    if (kysnap::isBatchCommand(command)) {
        return kysnap::runBatchCommand(options);
    }
    if (command == "support") {
        return kysnap::runSupport(options);
    }
    if (command == "inquiry") {
        return kysnap::runInquiry(options);
    }
    if (command == "identify") {
        return kysnap::runIdentify(options);
    }
    if (command == "devices") {
        return kysnap::runDevices(options);
    }
    if (command == "list") {
        return kysnap::runList(options);
    }
    if (command == "check") {
        return kysnap::runCheck(options);
    }
    if (command == "trust") {
        return kysnap::runTrust(options);
    }
    if (command == "demo") {
        return kysnap::runDemo(options);
    }
    return kysnap::runVersion(options, false);
}
