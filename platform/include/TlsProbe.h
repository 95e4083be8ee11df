// SPDX-License-Identifier: Apache-2.0
// probeTls: how the plug-in's HTTP client judges an array's certificate, asked without sending
// a request. It makes one TLS handshake with the settings in force (PlatformSettings.h) and
// the very options the client's requests use (libcurl's chain and host name check, its pinned
// public key check), and reads the chain the array presented from libcurl's certificate
// information. A tool that reports on an array's certificate asks this, so that it can never
// judge a certificate differently from the plug-in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "KyPlatformExport.h"
#include "PlatformSettings.h"
#include "TlsPins.h"

namespace kyplatform {

struct ChainCertificate {
    std::string der;
    CertificateFacts facts;
};

enum class TlsVerdict {
    Accepted,     // the client would send its requests
    NotVerified,  // the chain or the host name does not verify (an array without a pin)
    PinMismatch,  // the presented key matches none of the array's pins
    Unusable,     // the CA file or the pins file cannot be used; no connection was made
    NoSession,    // no connection, or no TLS handshake
};

enum class TlsJudgement {
    AsConfigured,  // as the client judges the array: by its pin when it has one, by nothing
                   // when checks are off, else by chain and name
    ChainAndName,  // as an array without a pin is judged with checks on
};

struct TlsProbeResult {
    TlsVerdict verdict = TlsVerdict::NoSession;
    // The client's words for a verdict other than Accepted.
    std::string why;
    // What the array presented, leaf first; empty when no handshake took place or libcurl
    // gathered nothing readable. When the verdict is NotVerified a second handshake, without
    // any check, reads it.
    std::vector<ChainCertificate> chain;
    // Off: accepted without any check (AsConfigured only).
    TlsChecks checks = TlsChecks::Verify;
    // The pins that judged the array (AsConfigured, pinned arrays only), and their file.
    std::optional<PinnedArray> pinned;
    std::string pinsFile;
};

// Probes the array at `address` (host, host:port, [IPv6] or [IPv6]:port), waiting at most
// `maxSeconds` (when above 0) for each handshake, and no longer than the settings' time-outs. Logs
// what a client set up now would log (the settings' warnings, an expired certificate accepted by
// its pin) as EvDebug warnings. Never throws.
KYPLATFORM_API TlsProbeResult probeTls(const std::string& address, TlsJudgement judgement,
                                       long maxSeconds);

}  // namespace kyplatform
