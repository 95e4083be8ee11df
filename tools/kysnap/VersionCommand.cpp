// SPDX-License-Identifier: Apache-2.0
#include "VersionCommand.h"

#include <cstdio>
#include <string>

#include "PluginLibrary.h"

namespace kysnap {

const char kVersion[] = KYSNAP_VERSION;

int runVersion(const Options& options, const Session::Needs&) {
    const std::string path = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    std::printf("kysnap %s\n", kVersion);
    std::string error;
    auto plugin = PluginLibrary::load(path, error);
    if (!plugin) {
        std::printf("%s: plug-in not loaded (%s)\n", path.c_str(), error.c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "kysnap: %s\n", error.c_str());
        return kExitFailure;
    }
    int16_t major = -1, minor = -1, patch = -1;
    plugin->version(&major, &minor, &patch);
    std::printf("%s: plug-in version %d.%d.%d\n", path.c_str(), major, minor, patch);
    return kExitSuccess;
}

}  // namespace kysnap
