// SPDX-License-Identifier: Apache-2.0
#include "PlatformSettings.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>

#include "TlsPins.h"

namespace kyplatform {
namespace {

std::mutex g_lock;
std::optional<PlatformSettings> g_installed;

// Whole positive seconds up to kMaxTimeoutSeconds from the variable `limit.setting`; anything
// else keeps the default.
void readSeconds(TimeLimit& limit, std::vector<std::string>& warnings) {
    const char* value = std::getenv(limit.setting.c_str());
    if (value == nullptr || *value == '\0') {
        return;
    }
    limit.origin = TimeLimit::Origin::Given;
    errno = 0;
    char* end = nullptr;
    const long seconds = std::strtol(value, &end, 10);
    if (errno != 0 || end == value || *end != '\0' || seconds <= 0 ||
        seconds > kMaxTimeoutSeconds) {
        warnings.push_back(limit.setting + "=\"" + value +
                           "\" is not a number of seconds between 1 and " +
                           std::to_string(kMaxTimeoutSeconds) + "; using the default of " +
                           std::to_string(limit.seconds) + " seconds");
        return;
    }
    limit.seconds = seconds;
}

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

PlatformSettings environmentSettings() {
    PlatformSettings settings;
    readSeconds(settings.connectTimeout, settings.warnings);
    readSeconds(settings.totalTimeout, settings.warnings);
    settings.caFile = variable("KYSNAP_TLS_CA_FILE");
    settings.pinsFile = variable("KYSNAP_TLS_PINS_FILE");
    const std::string insecure = variable("KYSNAP_TLS_INSECURE");
    if (insecure == "1") {
        settings.tlsChecks = TlsChecks::Off;
    } else if (!insecure.empty() && insecure != "0") {
        settings.warnings.push_back("KYSNAP_TLS_INSECURE=\"" + insecure +
                                    "\" is neither 0 nor 1; certificate verification stays on");
    }
    return settings;
}

std::optional<PlatformSettings> setPlatformSettings(std::optional<PlatformSettings> settings) {
    const std::lock_guard<std::mutex> hold(g_lock);
    g_installed.swap(settings);
    return settings;
}

PlatformSettings platformSettings() {
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        if (g_installed) {
            return *g_installed;
        }
    }
    return environmentSettings();
}

const ArraySettings* findArraySettings(const PlatformSettings& settings,
                                       const std::string& address) {
    const std::string key = addressKey(address);
    if (key.empty()) {
        return nullptr;
    }
    for (const ArraySettings& array : settings.arrays) {
        if (addressKey(array.address) == key) {
            return &array;
        }
    }
    return nullptr;
}

std::string caFileFor(const PlatformSettings& settings, const std::string& address) {
    const ArraySettings* array = findArraySettings(settings, address);
    return array != nullptr && !array->caFile.empty() ? array->caFile : settings.caFile;
}

}  // namespace kyplatform
