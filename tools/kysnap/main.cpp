// SPDX-License-Identifier: Apache-2.0
// kysnap: a host for the snapshot plug-in. It loads libKySnapTegile.so with dlopen, the way a
// backup agent does, gives it a host (simulated or this Linux machine) and a catalog, and runs
// its operations from the command line.
#include <cstdio>
#include <string>

#include "BatchCommands.h"
#include "CheckCommand.h"
#include "CommandLine.h"
#include "DemoCommand.h"
#include "DeviceCommands.h"
#include "DevicesCommand.h"
#include "ListCommand.h"
#include "PluginLibrary.h"
#include "SecretProtection.h"
#include "TrustCommand.h"

namespace {

// The plug-in's version; with `own` (--version) kysnap's first, and a plug-in that cannot be
// loaded is said on the plug-in's line instead of failing the run.
int runVersion(const kysnap::Options& options, bool own) {
    const std::string path = options.plugin.empty() ? kysnap::defaultPluginPath() : options.plugin;
    if (own) {
        std::printf("kysnap %s\n", kysnap::kVersion);
    }
    std::string error;
    auto plugin = kysnap::PluginLibrary::load(path, error);
    if (!plugin) {
        if (own) {
            std::printf("%s: plug-in not loaded (%s)\n", path.c_str(), error.c_str());
            return 0;
        }
        std::fprintf(stderr, "kysnap: %s\n", error.c_str());
        return kysnap::kExitCannotRun;
    }
    int16_t major = -1, minor = -1, patch = -1;
    plugin->version(&major, &minor, &patch);
    std::printf("%s: plug-in version %d.%d.%d\n", path.c_str(), major, minor, patch);
    return 0;
}

}  // namespace

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
        return runVersion(options, true);
    }
    if (options.help || options.command.empty()) {
        std::fputs(kysnap::helpText(options.command).c_str(), options.help ? stdout : stderr);
        return options.help ? 0 : kysnap::kExitCannotRun;
    }
    // Before any command reads a password, whichever it is: no core file or debugger shows it.
    if (!kysnap::protectSecretsOfThisProcess(error)) {
        std::fprintf(stderr, "kysnap: %s\n", error.c_str());
        return kysnap::kExitCannotRun;
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
    return runVersion(options, false);
}
