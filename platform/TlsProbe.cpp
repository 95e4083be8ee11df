// SPDX-License-Identifier: Apache-2.0
#include "TlsProbe.h"

#include <curl/curl.h>

#include <algorithm>
#include <exception>
#include <memory>

#include "CurlHttpTransport.h"
#include "CurlTls.h"
#include "EvDebug.h"
#include "HttpSettings.h"

namespace kyplatform {
namespace {

constexpr const char* kFunction = "kyplatform::probeTls()";

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

void warn(const std::string& text) {
    EvDebug(nullptr).DebugLvl(kFunction, EvDebug::LEVEL_ERROR, "%s", ("warning: " + text).c_str());
}

struct Handshake {
    CURLcode result = CURLE_FAILED_INIT;
    std::string error;
    std::vector<ChainCertificate> chain;
};

// Connects to `target` and completes the TLS handshake with the options a request of the
// transport uses, sending nothing (CURLOPT_CONNECT_ONLY); the chain is gathered either way.
Handshake shakeHands(const HttpTransportSettings& settings, const TlsTarget& target,
                     long maxSeconds) {
    Handshake made;
    if (!initialiseCurl(made.error)) {
        return made;
    }
    std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    CURL* curl = handle.get();
    if (curl == nullptr) {
        made.error = "libcurl handle allocation failed";
        return made;
    }
    const std::string url = "https://" + target.authority + "/";
    char errorText[CURL_ERROR_SIZE] = {0};
    // (0 would be no limit at all to libcurl.)
    const long connectSeconds = maxSeconds > 0
                                    ? std::min(settings.connectTimeoutSeconds, maxSeconds)
                                    : settings.connectTimeoutSeconds;
    const long totalSeconds = maxSeconds > 0 ? std::min(settings.totalTimeoutSeconds, maxSeconds)
                                             : settings.totalTimeoutSeconds;
    const bool ok = curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) == CURLE_OK &&
                    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText) == CURLE_OK &&
                    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
                    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
                    curl_easy_setopt(curl, CURLOPT_CONNECT_ONLY, 1L) == CURLE_OK &&
                    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectSeconds) == CURLE_OK &&
                    curl_easy_setopt(curl, CURLOPT_TIMEOUT, totalSeconds) == CURLE_OK &&
                    setTlsOptions(curl, settings, target) &&
                    curl_easy_setopt(curl, CURLOPT_CERTINFO, 1L) == CURLE_OK;
    if (!ok) {
        made.error = "the connection options were refused";
        return made;
    }
    made.result = curl_easy_perform(curl);
    if (made.result != CURLE_OK) {
        made.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(made.result);
        while (!made.error.empty() && made.error.back() == '\n') {
            made.error.pop_back();
        }
    }
    presentedChain(curl, made.chain);
    return made;
}

TlsVerdict verdictOf(CURLcode result) {
    switch (result) {
        case CURLE_OK:
            return TlsVerdict::Accepted;
        case CURLE_PEER_FAILED_VERIFICATION:
            return TlsVerdict::NotVerified;
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return TlsVerdict::PinMismatch;
        case CURLE_SSL_CACERT_BADFILE:
            return TlsVerdict::Unusable;
        default:
            return TlsVerdict::NoSession;
    }
}

TlsProbeResult probe(const std::string& address, TlsJudgement judgement, long maxSeconds) {
    HttpTransportSettings settings;
    std::vector<std::string> warnings;
    readHttpSettings(settings, warnings);
    for (const std::string& warning : warnings) {
        warn(warning);
    }
    if (judgement == TlsJudgement::ChainAndName) {
        settings.verifyPeer = true;
        settings.pins.clear();
        settings.pinsError.clear();
    }
    TlsProbeResult result;
    result.checks = settings.verifyPeer ? TlsChecks::Verify : TlsChecks::Off;
    result.pinsFile = settings.pinsFile;
    const TlsTarget target = tlsTargetFor(settings, address);
    if (target.pinned != nullptr) {
        result.pinned = *target.pinned;
    }
    if (!target.refusal.empty()) {
        result.verdict = TlsVerdict::Unusable;
        result.why = target.refusal;
        return result;
    }
    Handshake made = shakeHands(settings, target, maxSeconds);
    result.verdict = verdictOf(made.result);
    result.why = made.error;
    result.chain = std::move(made.chain);
    if (result.verdict == TlsVerdict::PinMismatch) {
        result.why = pinMismatchText(target, settings.pinsFile,
                                     result.chain.empty() ? "" : result.chain.front().facts.pin);
    }
    if (result.verdict == TlsVerdict::NotVerified && result.chain.empty()) {
        // The handshake stopped at the verdict; what was presented is read without checks.
        HttpTransportSettings unchecked = settings;
        unchecked.verifyPeer = false;
        unchecked.pins.clear();
        result.chain = shakeHands(unchecked, tlsTargetFor(unchecked, address), maxSeconds).chain;
    }
    if (result.verdict == TlsVerdict::Accepted && target.pinned != nullptr &&
        !result.chain.empty() && result.chain.front().facts.expired) {
        warn(expiredPinText(target, result.chain.front().facts, settings.pinsFile));
    }
    return result;
}

}  // namespace

TlsProbeResult probeTls(const std::string& address, TlsJudgement judgement, long maxSeconds) {
    try {
        return probe(address, judgement, maxSeconds);
    } catch (const std::exception& e) {
        TlsProbeResult failed;
        failed.why = std::string("the probe failed: ") + e.what();
        return failed;
    } catch (...) {
        TlsProbeResult failed;
        failed.why = "the probe failed";
        return failed;
    }
}

}  // namespace kyplatform
