// SPDX-License-Identifier: Apache-2.0
#include "VersionCommand.h"

#include <cstdio>
#include <string>

#include "JsonOutput.h"
#include "VisibleText.h"
#include "PluginLibrary.h"

namespace kysnap {

const char kVersion[] = KYSNAP_VERSION;

int runVersion(const Options& options, const Session::Needs&) {
    const std::string path = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    std::string error;
    auto plugin = PluginLibrary::load(path, error);
    std::string version;
    if (plugin) {
        int16_t major = -1, minor = -1, patch = -1;
        plugin->version(&major, &minor, &patch);
        version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
    }
    const int status = plugin ? kExitSuccess : kExitFailure;
    if (options.json) {
        JsonDocument document = jsonDocument("version");
        document["kysnapVersion"] = std::string(kVersion);
        document["plugin"] = {{"path", visibleText(path)}};
        if (plugin) {
            document["plugin"]["version"] = version;
        } else {
            document["plugin"]["error"] = visibleText(error);
            document["exitStatus"] = status;
        }
        printJsonDocument(document);
        return status;
    }
    std::printf("kysnap %s\n", kVersion);
    if (!plugin) {
        std::printf("%s: plug-in not loaded (%s)\n", visibleText(path).c_str(),
                    visibleText(error).c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "kysnap: %s\n", visibleText(error).c_str());
        return status;
    }
    std::printf("%s: plug-in version %s\n", visibleText(path).c_str(), version.c_str());
    return status;
}

}  // namespace kysnap
