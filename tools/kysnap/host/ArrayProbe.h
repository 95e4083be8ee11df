// SPDX-License-Identifier: Apache-2.0
// ArrayProbe: the questions `kysnap check` and `kysnap trust` ask one array, each on its own
// so that a failure says which step failed: can a TCP connection be made, which certificate
// does it present and how does the plug-in's HTTP client judge it (libkyplatform's probeTls:
// the same libcurl checks, CA files and pins as the plug-in's requests), and what does one REST
// call answer (through libkyplatform's HTTP client, as the plug-in calls).
#pragma once

#include <cstdint>
#include <string>

#include "ArrayDirectory.h"
#include "TlsProbe.h"

namespace kysnap {

struct ApiAnswer {
    bool ok = false;      // a 2xx answer arrived
    uint32_t status = 0;  // HTTP status, 0 when no answer arrived
    std::string body;
    std::string failure;  // why not, as the HTTP client says it (time-out, size, redirect)
};

struct PresentedCertificate {
    std::string der;
    bool verifies = false;  // chain and name, as for an array without a pin
    std::string why;        // why not, in the HTTP client's words
};

class ArrayProbe {
public:
    // `array` is borrowed; `timeoutSeconds` bounds connecting and the TLS handshake.
    ArrayProbe(const ArrayAccess& array, int timeoutSeconds);

    // False with `why` set when no TCP connection can be made.
    bool reach(std::string& why) const;
    // How the plug-in's HTTP client judges the array's certificate, and the chain it presents
    // (probeTls, waiting at most the probe's time-out).
    kyplatform::TlsProbeResult tls(kyplatform::TlsJudgement judgement) const;
    // The certificate the array presents (DER), and whether it verifies as an unpinned array
    // is verified: its chain against its CA file and its name against the address. False with
    // `why` set when no handshake takes place or the certificate cannot be read.
    bool presentedCertificate(PresentedCertificate& presented, std::string& why) const;
    // POSTs `body` to the REST method `method` with the array's credentials.
    ApiAnswer call(const std::string& method, const std::string& body) const;

private:
    int connectSocket(std::string& why) const;

    const ArrayAccess& array_;
    int timeoutSeconds_;
};

}  // namespace kysnap
