// SPDX-License-Identifier: Apache-2.0
#include "CheckCommand.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ArrayChecks.h"
#include "CheckLines.h"
#include "DeviceChecks.h"
#include "EvDebug.h"
#include "EvDebugSink.h"
#include "HostBackend.h"
#include "HostConfig.h"
#include "Passwords.h"
#include "PluginLibrary.h"
#include "PluginSettings.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// The HTTP client's own log lines during a check. Its request failures are what the check
// lines already say, so they are not repeated; its warnings (a setting it ignored) are printed
// once each, as terminal-safe text, since they may quote what the array sent.
class ProbeLog : private kyplatform::EvDebugSink {
public:
    ProbeLog() : previous_(kyplatform::setEvDebugSink(this)) {}
    ~ProbeLog() override { kyplatform::setEvDebugSink(previous_); }
    ProbeLog(const ProbeLog&) = delete;
    ProbeLog& operator=(const ProbeLog&) = delete;

private:
    void write(int level, const std::string& header, const std::string& message) override {
        if (message.rfind("warning: ", 0) != 0 || !shown_.insert(message).second) {
            return;
        }
        std::fprintf(stderr, "%s\n",
                     visibleText(kyplatform::formatEvDebugLine(level, header, message)).c_str());
    }

    kyplatform::EvDebugSink* previous_;
    std::set<std::string> shown_;
};

// The settings in force with the HTTP client's waits bounded for the length of a check, unless
// the user chose them.
kyplatform::PlatformSettings withShortTimeouts(kyplatform::PlatformSettings settings) {
    for (const auto& [limit, seconds] :
         {std::make_pair(&settings.connectTimeout, kProbeSeconds),
          std::make_pair(&settings.totalTimeout, 2 * kProbeSeconds)}) {
        if (limit->origin == kyplatform::TimeLimit::Origin::Default) {
            limit->seconds = seconds;
        }
    }
    return settings;
}

}  // namespace

int runCheck(const Options& options) {
    CheckLines lines(options.json, options.command);
    const ProbeLog probeLog;

    const std::string pluginPath = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    std::string error;
    if (auto plugin = PluginLibrary::load(pluginPath, error)) {
        int16_t major = 0, minor = 0, patch = 0;
        plugin->version(&major, &minor, &patch);
        lines.ok("plug-in", pluginPath + " loads, version " + std::to_string(major) + "." +
                                std::to_string(minor) + "." + std::to_string(patch));
    } else {
        lines.fail("plug-in", error, "give --plugin PATH or set KYSNAP_PLUGIN");
    }

    HostConfig config;
    const std::string configPath = options.config.empty() ? defaultConfigPath() : options.config;
    if (!loadHostConfig(configPath, config, error)) {
        // The configuration parsed when its pins file is what failed.
        lines.fail("configuration", error,
                   config.pinsFile.empty()
                       ? "give --config FILE or set KYSNAP_CONFIG (format in kysnap(1))"
                       : "correct that line of " + config.pinsFile +
                             " (format in docs/tls.md), or move the file aside and pin the "
                             "arrays again with kysnap trust");
        lines.finish();
        return 1;
    }
    // Probes through libkyplatform must not hang on a dead array either; the process's later
    // plug-in calls (kysnap demo) get the settings from before back.
    const ScopedPluginSettings timeouts(withShortTimeouts(kyplatform::platformSettings()));
    lines.ok("configuration", configPath + ": " + std::to_string(config.arrays.size()) +
                                  " array(s), backend " +
                                  (config.backend == BackendKind::Sim ? "sim" : "linux"));
    if (config.arrays.empty()) {
        lines.fail("configuration", "no array configured", "add an [array NAME] section");
    }

    // The host. Only the sim backend's view of the LUNs needs the passwords, and only until
    // the devices are identified: each array's own checks read it again and let it go.
    std::vector<ArrayAccess> arrays;
    for (const ArrayConfig& array : config.arrays) {
        arrays.push_back(ArrayAccess{array.name, array.address, array.user, "", array.caFile});
        if (config.backend == BackendKind::Sim) {
            std::string ignored;  // each array's check reports it
            readPassword(array, arrays.back().password, ignored);
        }
    }
    std::unique_ptr<HostBackend> backend = makeBackend(config, arrays);
    std::vector<hostkit::Initiator> initiators;
    if (backend->initiators(initiators, error)) {
        std::string names;
        for (const hostkit::Initiator& initiator : initiators) {
            names += (names.empty() ? "" : ", ") + initiator.name +
                     (initiator.iscsi ? " (iSCSI)" : " (FC)");
        }
        lines.ok("host " + backend->hostName(), backend->kind() + " backend, initiators " + names);
    } else {
        lines.fail("host " + backend->hostName(), error,
                   "snapshots cannot be mapped to this host until it has an initiator");
    }
    std::vector<std::string> devices;
    if (backend->arrayDevices(false, devices, error)) {
        std::string names;
        for (size_t i = 0; i < devices.size() && i < 4; ++i) {
            names += (i == 0 ? ": " : ", ") + devices[i];
        }
        lines.ok("host " + backend->hostName(), "sees " + std::to_string(devices.size()) +
                                                    " IntelliFlash device(s)" + names +
                                                    (devices.size() > 4 ? ", ..." : ""));
    } else {
        lines.warn("host " + backend->hostName(), "its devices cannot be listed: " + error);
    }

    std::vector<DeviceIdentity> identities;
    for (const std::string& device : devices) {
        identities.push_back(readIdentity(device));
    }
    backend.reset();
    arrays.clear();

    std::vector<std::string> unasked;
    for (const ArrayConfig& array : config.arrays) {
        const std::string why = checkArray(lines, array, config, initiators, identities);
        if (!why.empty()) {
            unasked.push_back(why);
        }
    }
    for (const DeviceIdentity& identity : identities) {
        reportDevice(lines, identity, config, unasked);
    }
    lines.finish();
    return lines.failed() ? 1 : 0;
}

}  // namespace kysnap
