// SPDX-License-Identifier: Apache-2.0
// PluginLibrary: the snapshot plug-in loaded the way a backup agent loads it, with dlopen, and
// its fourteen kyso_* entry points resolved with dlsym. Unloaded when destroyed.
#pragma once

#include <memory>
#include <string>

#include "KysoExports.h"

namespace kysnap {

class PluginLibrary {
public:
    // Loads `path` and resolves every entry point. Null with `error` set when the file cannot
    // be loaded (with the loader's reason) or lacks entry points (naming each one missing).
    static std::unique_ptr<PluginLibrary> load(const std::string& path, std::string& error);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& path() const { return path_; }

    KYSO::VersionFn version = nullptr;
    KYSO::IsSupportedFn isSupported = nullptr;
    KYSO::BatchFn processVPDInfo = nullptr;
    KYSO::BatchFn prepareDevices = nullptr;
    KYSO::BatchFn unprepareDevices = nullptr;
    KYSO::BatchFn snapDevices = nullptr;
    KYSO::BatchFn isMapped = nullptr;
    KYSO::BatchFn mapSnaps = nullptr;
    KYSO::BatchFn unmapSnaps = nullptr;
    KYSO::BatchFn deleteSnaps = nullptr;
    KYSO::BatchFn revertSnaps = nullptr;
    KYSO::BatchFn reconcileSnaps = nullptr;
    KYSO::BatchFn execSnapEngineOp = nullptr;
    KYSO::IdentifyDevicesFn identifyDevices = nullptr;

private:
    PluginLibrary(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}

    std::string path_;
    void* handle_;
};

// Where the plug-in is when --plugin is not given: $KYSNAP_PLUGIN, else the installed plug-in
// beside this program (<prefix>/lib/kysnap/), else the one built with this program, found
// where the build tree put it relative to this program.
std::string defaultPluginPath();

// The directory of the running program, without a trailing '/'.
std::string programDirectory();

}  // namespace kysnap
