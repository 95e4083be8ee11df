// SPDX-License-Identifier: Apache-2.0
#include "HttpSettings.h"

#include <unistd.h>

#include <string>

#include "PathGuard.h"
#include "TlsPins.h"

namespace kyplatform {
namespace {

// Whole positive seconds up to kMaxTimeoutSeconds; anything else keeps `fallback`.
long seconds(const TimeLimit& limit, long fallback, std::vector<std::string>& warnings) {
    if (limit.seconds >= 1 && limit.seconds <= kMaxTimeoutSeconds) {
        return limit.seconds;
    }
    warnings.push_back("a time-out of " + std::to_string(limit.seconds) + " seconds (" +
                       limit.setting + ") is not between 1 and " +
                       std::to_string(kMaxTimeoutSeconds) + "; using the default of " +
                       std::to_string(fallback) + " seconds");
    return fallback;
}

// A CA file that is no regular file fails every request that would trust it (`error`):
// libcurl's blocking open of a FIFO would wait for good. One that cannot be read is kept, so
// that requests fail instead of trusting something else.
void checkCaFile(const std::string& caFile, std::string& error,
                 std::vector<std::string>& warnings) {
    error.clear();
    if (isRegularOrMissing(caFile, "the CA file " + caFile, error) &&
        ::access(caFile.c_str(), R_OK) != 0) {
        warnings.push_back("the CA file " + caFile +
                           " cannot be read; HTTPS requests will fail verification");
    }
}

}  // namespace

void applyPlatformSettings(const PlatformSettings& source, HttpTransportSettings& settings,
                           std::vector<std::string>& warnings) {
    warnings.insert(warnings.end(), source.warnings.begin(), source.warnings.end());
    settings.connectTimeoutSeconds =
        seconds(source.connectTimeout, kDefaultConnectTimeoutSeconds, warnings);
    settings.totalTimeoutSeconds =
        seconds(source.totalTimeout, kDefaultTotalTimeoutSeconds, warnings);
    settings.connectTimeoutSetting = source.connectTimeout.setting;
    settings.totalTimeoutSetting = source.totalTimeout.setting;

    settings.caFile = source.caFile;
    settings.caFileError.clear();
    if (!settings.caFile.empty()) {
        checkCaFile(settings.caFile, settings.caFileError, warnings);
    }
    settings.arrayCaFiles.clear();
    for (const ArraySettings& array : source.arrays) {
        const std::string key = addressKey(array.address);
        if (array.caFile.empty()) {
            continue;
        }
        if (key.empty()) {
            warnings.push_back("the CA file " + array.caFile + " of '" + array.address +
                               "' is ignored: that is no array address");
            continue;
        }
        HttpTransportSettings::ArrayCaFile entry{key, array.caFile, ""};
        checkCaFile(entry.caFile, entry.caFileError, warnings);
        settings.arrayCaFiles.push_back(entry);
    }

    settings.pins.clear();
    settings.pinsError.clear();
    settings.pinsFile = source.pinsFile;
    if (!settings.pinsFile.empty()) {
        // A pins file that cannot be used fails the requests: going on without it would
        // quietly check pinned arrays some other way, or refuse them for a reason not told.
        loadPins(settings.pinsFile, settings.pins, settings.pinsError);
    }

    settings.verifyPeer = source.tlsChecks == TlsChecks::Verify;
    if (!settings.verifyPeer) {
        warnings.push_back(source.tlsChecksOffBy +
                           ": TLS certificate and host name verification is OFF; the array's "
                           "identity is not checked and credentials may reach an impostor");
    }
}

void readHttpSettings(HttpTransportSettings& settings, std::vector<std::string>& warnings) {
    applyPlatformSettings(platformSettings(), settings, warnings);
}

}  // namespace kyplatform
