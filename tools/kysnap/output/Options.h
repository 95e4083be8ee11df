// SPDX-License-Identifier: Apache-2.0
// The options of one kysnap run, wherever they stood on the command line.
#pragma once

#include <string>
#include <vector>

namespace kysnap {

// The options only some commands take, as bits: a command's row (CommandTable.h) holds the mask
// of those it takes. Every command takes the others.
enum CommandOption : unsigned {
    kOptionArray = 1u << 0,
    kOptionSnapshot = 1u << 1,
    kOptionDryRun = 1u << 2,
    kOptionDestroyNewer = 1u << 3,
    kOptionYes = 1u << 4,
    kOptionReplace = 1u << 5,
    kOptionList = 1u << 6,
    kOptionRemove = 1u << 7,
    kOptionPolicy = 1u << 8,
    kOptionFreeze = 1u << 9,
    kOptionFreezeTimeout = 1u << 10,
    kOptionPreHook = 1u << 11,
    kOptionPostHook = 1u << 12,
    kOptionAllowCrashConsistent = 1u << 13,
    kOptionWarn = 1u << 14,
    kOptionCrit = 1u << 15,
    kOptionPromTextfile = 1u << 16,
};

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    std::string plugin;                         // empty: defaultPluginPath()
    std::string config;                         // empty: defaultConfigPath()
    std::string state;                          // empty: defaultStatePath()
    std::string array;                          // --array: the array serving the named devices
    std::vector<std::string> snapshots;         // --snapshot (identify)
    std::string policy;                         // --policy: a [policy NAME] of the configuration
    std::vector<CommandOption> commandOptions;  // the command options given, in their order
    bool json = false;
    bool verbose = false;
    bool help = false;
    bool version = false;  // --version: kysnap's and the plug-in's version
    bool quiet = false;    // no progress lines while the plug-in waits for devices
    bool dryRun = false;   // delete, revert, prune: say what would be done, do nothing
    bool yes = false;      // revert, trust: no confirmation prompt
    // revert: go on although the array destroys the newer snapshots and their clones
    bool destroyNewer = false;
    bool list = false;         // trust: show the pins
    bool remove = false;       // trust: drop an array's pins
    bool replace = false;      // trust: pin the presented key in place of another pinned one
    std::string warn;          // monitor: the age past which a device is WARNING ("26h")
    std::string crit;          // monitor: the age past which it is CRITICAL
    std::string promTextfile;  // monitor: the node_exporter textfile to write ("": none)
    // snap: the mount points to freeze around the create, in the order given
    std::vector<std::string> freeze;
    int freezeTimeout = 10;  // snap: the watchdog's cap on the freeze, in seconds
    std::string preHook;     // snap: a command run (sh -c) before the snapshot
    std::string postHook;    // snap: a command run after it, whenever the pre-hook ran
    // snap: take the snapshot, marked crash-consistent, when the freeze or pre-hook fails
    bool allowCrashConsistent = false;
};

// What kysnap exits with, the contract scripts rely on (kysnap.1, EXIT STATUS).
constexpr int kExitSuccess = 0;  // every request (or the command) succeeded
// Nothing succeeded; also a configuration, catalog or plug-in problem that stopped the command.
constexpr int kExitFailure = 1;
// The command line itself is wrong (unknown command or option, an option the command does not
// take, missing or surplus arguments), as zfs and arraysim use 2; nothing was read or done.
constexpr int kExitUsage = 2;
constexpr int kExitPartial = 3;  // some requests succeeded, some did not
// The plug-in's call changed the array, but the catalog could not be saved to record it.
constexpr int kExitNotRecorded = 4;

}  // namespace kysnap
