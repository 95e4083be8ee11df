// SPDX-License-Identifier: Apache-2.0
#include "PluginSettings.h"

#include <sys/stat.h>

#include <utility>

namespace kysnap {

kyplatform::PlatformSettings pluginSettings(const HostConfig& config) {
    kyplatform::PlatformSettings settings = kyplatform::environmentSettings();
    // The plug-in reads the same pins file, or none when there is none.
    struct stat info {};
    settings.pinsFile = !config.pinsFile.empty() && ::lstat(config.pinsFile.c_str(), &info) == 0
                            ? config.pinsFile
                            : "";
    settings.arrays.clear();
    for (const ArrayConfig& array : config.arrays) {
        if (!array.caFile.empty()) {
            settings.arrays.push_back(kyplatform::ArraySettings{array.address, array.caFile});
        }
    }
    return settings;
}

void installPluginSettings(const HostConfig& config) {
    kyplatform::setPlatformSettings(pluginSettings(config));
}

ScopedPluginSettings::ScopedPluginSettings(kyplatform::PlatformSettings settings)
    : previous_(kyplatform::setPlatformSettings(std::move(settings))) {}

ScopedPluginSettings::~ScopedPluginSettings() {
    kyplatform::setPlatformSettings(std::move(previous_));
}

}  // namespace kysnap
