// SPDX-License-Identifier: Apache-2.0
#include "HttpEnvironment.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "PathGuard.h"

namespace kyplatform {
namespace {

// Whole positive seconds up to kMaxTimeoutSeconds; anything else keeps `fallback`.
long readSeconds(const char* name, long fallback, std::vector<std::string>& warnings) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    errno = 0;
    char* end = nullptr;
    const long seconds = std::strtol(value, &end, 10);
    if (errno != 0 || end == value || *end != '\0' || seconds <= 0 ||
        seconds > kMaxTimeoutSeconds) {
        warnings.push_back(std::string(name) + "=\"" + value +
                           "\" is not a number of seconds between 1 and " +
                           std::to_string(kMaxTimeoutSeconds) + "; using the default of " +
                           std::to_string(fallback) + " seconds");
        return fallback;
    }
    return seconds;
}

}  // namespace

void readHttpEnvironment(HttpTransportSettings& settings, std::vector<std::string>& warnings) {
    settings.connectTimeoutSeconds =
        readSeconds("KYSNAP_HTTP_CONNECT_TIMEOUT", kDefaultConnectTimeoutSeconds, warnings);
    settings.totalTimeoutSeconds =
        readSeconds("KYSNAP_HTTP_TIMEOUT", kDefaultTotalTimeoutSeconds, warnings);

    settings.caFile.clear();
    settings.caFileError.clear();
    if (const char* caFile = std::getenv("KYSNAP_TLS_CA_FILE"); caFile != nullptr && *caFile) {
        settings.caFile = caFile;
        // No regular file fails every request (settings.caFileError): libcurl's blocking open
        // of a FIFO would wait for good. One that cannot be read is kept, so that requests fail
        // instead of trusting something else.
        if (isRegularOrMissing(caFile, std::string("the CA file ") + caFile,
                               settings.caFileError) &&
            ::access(caFile, R_OK) != 0) {
            warnings.push_back(std::string("KYSNAP_TLS_CA_FILE=\"") + caFile +
                               "\" cannot be read; HTTPS requests will fail verification");
        }
    }

    settings.pins.clear();
    settings.pinsError.clear();
    settings.pinsFile.clear();
    if (const char* pins = std::getenv("KYSNAP_TLS_PINS_FILE"); pins != nullptr && *pins) {
        settings.pinsFile = pins;
        // A pins file that cannot be used fails the requests: going on without it would
        // quietly check pinned arrays some other way, or refuse them for a reason not told.
        loadPins(pins, settings.pins, settings.pinsError);
    }

    settings.verifyPeer = true;
    const char* insecure = std::getenv("KYSNAP_TLS_INSECURE");
    if (insecure != nullptr && std::string(insecure) == "1") {
        settings.verifyPeer = false;
        warnings.push_back(
            "KYSNAP_TLS_INSECURE=1: TLS certificate and host name verification is OFF; the "
            "array's identity is not checked and credentials may reach an impostor");
    } else if (insecure != nullptr && *insecure != '\0' && std::string(insecure) != "0") {
        warnings.push_back(std::string("KYSNAP_TLS_INSECURE=\"") + insecure +
                           "\" is neither 0 nor 1; certificate verification stays on");
    }
}

}  // namespace kyplatform
