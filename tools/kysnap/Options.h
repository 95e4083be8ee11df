// SPDX-License-Identifier: Apache-2.0
// The options of one kysnap run, wherever they stood on the command line.
#pragma once

#include <string>
#include <vector>

namespace kysnap {

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    std::string plugin;                     // empty: defaultPluginPath()
    std::string config;                     // empty: defaultConfigPath()
    std::string state;                      // empty: defaultStatePath()
    std::string array;                      // --array: the array serving the named devices
    std::vector<std::string> snapshots;     // --snapshot (identify)
    std::vector<std::string> commandFlags;  // a command's own flags (trust: --yes, --list, ...)
    bool json = false;
    bool verbose = false;
    bool help = false;
    bool version = false;  // --version: kysnap's and the plug-in's version
    bool quiet = false;    // no progress lines while the plug-in waits for devices
    bool dryRun = false;   // delete, revert: say what would be done, do nothing
    bool yes = false;      // revert: no confirmation prompt on a terminal
    // revert: go on although the array destroys the newer snapshots and their clones
    bool destroyNewer = false;
};

// Exit statuses besides the result codes 0 (all succeeded), 1 (none) and 2 (some).
constexpr int kExitCannotRun = 3;  // usage, configuration, catalog or plug-in problem
// The plug-in's call changed the array, but the catalog could not be saved to record it.
constexpr int kExitNotRecorded = 4;

}  // namespace kysnap
