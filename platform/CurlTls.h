// SPDX-License-Identifier: Apache-2.0
// The TLS side of a libcurl connection to an array, shared by the transport
// (CurlHttpTransport) and the probe (TlsProbe), so that both judge a certificate alike.
#pragma once

#include <curl/curl.h>

#include <string>
#include <vector>

#include "HttpTransport.h"
#include "TlsProbe.h"

namespace kyplatform {

// What applies to connections to one array, borrowed from the settings it was found in.
struct TlsTarget {
    std::string authority;                // host[:port], as the URL names the array
    const PinnedArray* pinned = nullptr;  // its pins, or null
    std::string caFile;                   // the CA file it trusts; empty: the system store
    // Why nothing may be sent to it (its CA file or the pins file cannot be used); empty when
    // requests may go.
    std::string refusal;
};

// The "host[:port]" of an absolute URL, without any "user:password@".
std::string authorityOf(const std::string& url);

TlsTarget tlsTargetFor(const HttpTransportSettings& settings, const std::string& authority);

// Sets certificate checking for `target` on `curl`: chain and host name against its CA file
// unless settings.verifyPeer is false; for a pinned array its pins alone, with the certificate
// gathered (CURLOPT_CERTINFO) to tell which key it presented. False when libcurl refuses an
// option.
bool setTlsOptions(CURL* curl, const HttpTransportSettings& settings, const TlsTarget& target);

// The certificates libcurl gathered on the connection the last transfer made, leaf first, as
// far as they can be read (a reused connection gathers none). False, with `chain` empty, when
// there is none or the leaf cannot be read.
bool presentedChain(CURL* curl, std::vector<ChainCertificate>& chain);

// Why a pinned array was refused: its pins and the key it presented (`presented` empty when its
// certificate could not be read).
std::string pinMismatchText(const TlsTarget& target, const std::string& pinsFile,
                            const std::string& presented);

// The warning for an expired certificate of a pinned array, accepted by its key.
std::string expiredPinText(const TlsTarget& target, const CertificateFacts& leaf,
                           const std::string& pinsFile);

}  // namespace kyplatform
