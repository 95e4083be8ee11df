// SPDX-License-Identifier: Apache-2.0
#include "PluginLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "PathGuard.h"

namespace kysnap {

namespace {

// `path` without "..", symbolic links or repeated '/', or "" when it does not exist.
std::string existing(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::load(const std::string& path, std::string& error) {
    // The loader opens the file blocking, which a FIFO would hold for good. A name without '/'
    // is looked for by the loader in its own directories.
    if (path.find('/') != std::string::npos &&
        !kyplatform::isRegularOrMissing(path, "the plug-in " + path, error)) {
        return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = "cannot load the plug-in " + path + ": " + (why != nullptr ? why : "unknown");
        return nullptr;
    }
    std::unique_ptr<PluginLibrary> plugin(new PluginLibrary(path, handle));
    std::vector<std::string> missing;
    auto resolve = [&](const char* name, auto& function) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
        if (function == nullptr) {
            missing.emplace_back(name);
        }
    };
    resolve("kyso_version", plugin->version);
    resolve("kyso_isSupported", plugin->isSupported);
    resolve("kyso_processVPDInfo", plugin->processVPDInfo);
    resolve("kyso_prepareDevices", plugin->prepareDevices);
    resolve("kyso_unprepareDevices", plugin->unprepareDevices);
    resolve("kyso_snapDevices", plugin->snapDevices);
    resolve("kyso_isMapped", plugin->isMapped);
    resolve("kyso_mapSnaps", plugin->mapSnaps);
    resolve("kyso_unmapSnaps", plugin->unmapSnaps);
    resolve("kyso_deleteSnaps", plugin->deleteSnaps);
    resolve("kyso_revertSnaps", plugin->revertSnaps);
    resolve("kyso_reconcileSnaps", plugin->reconcileSnaps);
    resolve("kyso_execSnapEngineOp", plugin->execSnapEngineOp);
    resolve("kyso_identifyDevices", plugin->identifyDevices);
    if (!missing.empty()) {
        error = path + " is not a snapshot plug-in: it lacks";
        for (size_t i = 0; i < missing.size(); ++i) {
            error += (i == 0 ? " " : ", ") + missing[i];
        }
        return nullptr;
    }
    return plugin;
}

PluginLibrary::~PluginLibrary() {
    dlclose(handle_);
}

std::string programDirectory() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return ".";
    }
    std::string path(buffer.data(), static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string defaultPluginPath() {
    if (const char* chosen = std::getenv("KYSNAP_PLUGIN"); chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    const std::string installed =
        existing(programDirectory() + "/../lib/kysnap/libKySnapTegile.so");
    if (!installed.empty()) {
        return installed;
    }
    // Run from the build tree; a path that does not resolve is kept for the error to name.
    const std::string built = programDirectory() + "/" + KYSNAP_BUILT_PLUGIN;
    const std::string resolved = existing(built);
    return resolved.empty() ? built : resolved;
}

}  // namespace kysnap
