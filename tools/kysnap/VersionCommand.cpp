// SPDX-License-Identifier: Apache-2.0
#include "VersionCommand.h"

#include <cstdio>
#include <string>

#include "CannotRun.h"
#include "CommandLine.h"
#include "JsonOutput.h"
#include "PluginLibrary.h"

namespace kysnap {

int runVersion(const Options& options, bool own) {
    const std::string path = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    std::string error;
    auto plugin = PluginLibrary::load(path, error);
    if (!plugin && !own) {
        return cannotRun(options, error);
    }
    std::string version;
    if (plugin) {
        int16_t major = -1, minor = -1, patch = -1;
        plugin->version(&major, &minor, &patch);
        version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
    }
    if (options.json) {
        JsonDocument document = jsonDocument("version");
        if (own) {
            document["kysnapVersion"] = std::string(kVersion);
        }
        document["plugin"] = {{"path", visibleText(path)}};
        if (plugin) {
            document["plugin"]["version"] = version;
        } else {
            document["plugin"]["error"] = visibleText(error);
        }
        printJsonDocument(document);
        return 0;
    }
    if (own) {
        std::printf("kysnap %s\n", kVersion);
    }
    if (!plugin) {
        std::printf("%s: plug-in not loaded (%s)\n", path.c_str(), error.c_str());
        return 0;
    }
    std::printf("%s: plug-in version %s\n", path.c_str(), version.c_str());
    return 0;
}

}  // namespace kysnap
