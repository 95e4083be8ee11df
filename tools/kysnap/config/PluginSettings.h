// SPDX-License-Identifier: Apache-2.0
// PluginSettings: what kysnap tells libkyplatform, and so the plug-in it loads, about reaching
// the arrays. The settings a real host would give through its environment
// (kyplatform::environmentSettings: KYSNAP_TLS_CA_FILE, KYSNAP_TLS_INSECURE, the time-outs) are
// the base; the configuration adds each array's ca-file, for that array only, and decides the
// pins file (Pins.h). They are installed through libkyplatform's settings seam: kysnap never
// changes its own environment.
#pragma once

#include <optional>

#include "HostConfig.h"
#include "PlatformSettings.h"

namespace kysnap {

// The settings for `config`, whose pins file usePinsFile has chosen: its pins file when it
// exists (else none), and each array's ca-file keyed by its address.
kyplatform::PlatformSettings pluginSettings(const HostConfig& config);

// Installs pluginSettings(config) for the rest of the process (until another install).
void installPluginSettings(const HostConfig& config);

// Installs `settings` for its lifetime and puts back what was installed before.
class ScopedPluginSettings {
public:
    explicit ScopedPluginSettings(kyplatform::PlatformSettings settings);
    ~ScopedPluginSettings();
    ScopedPluginSettings(const ScopedPluginSettings&) = delete;
    ScopedPluginSettings& operator=(const ScopedPluginSettings&) = delete;

private:
    std::optional<kyplatform::PlatformSettings> previous_;
};

}  // namespace kysnap
