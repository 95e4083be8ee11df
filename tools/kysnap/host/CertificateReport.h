// SPDX-License-Identifier: Apache-2.0
// CertificateReport: what `kysnap check` and `kysnap trust` tell a person about an array's
// certificate: its details (subject, issuer, names, validity, key pin), and for check whether
// it is accepted the way the plug-in will accept it, with the remedy that fits when not.
#pragma once

#include <string>
#include <vector>

#include "ArrayProbe.h"
#include "HostConfig.h"
#include "TlsPins.h"

namespace kysnap {

struct ReportLine {
    enum class Kind { Ok, Warn, Fail, Detail };
    Kind kind;
    std::string message;
    std::string remedy;
};

// One line each: subject, issuer, names, validity (with "expired" when it has), key pin.
std::vector<std::string> certificateDetails(const kyplatform::CertificateFacts& facts);

// Judges the certificate of `array` (named `name` in `config`) as the plug-in will, since the
// plug-in's HTTP client judges it (ArrayProbe::tls): by its pin when it has one, else by chain
// and name; the client's own words say why not. Appends the lines to say; returns whether the
// certificate is accepted.
bool judgeCertificate(const ArrayProbe& probe, const ArrayAccess& array, const HostConfig& config,
                      std::vector<ReportLine>& lines);

}  // namespace kysnap
