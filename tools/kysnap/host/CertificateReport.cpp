// SPDX-License-Identifier: Apache-2.0
#include "CertificateReport.h"

namespace kysnap {

namespace {

using Kind = ReportLine::Kind;

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text.empty() ? "none" : text;
}

void addDetails(const kyplatform::CertificateFacts& facts, std::vector<ReportLine>& lines) {
    for (const std::string& detail : certificateDetails(facts)) {
        lines.push_back({Kind::Detail, detail, ""});
    }
}

std::string trustRemedy(const ArrayAccess& array) {
    return "or pin its key after comparing the key pin below with the one the array's console "
           "shows: kysnap trust " +
           array.name;
}

// The remedy that fits why an unpinned certificate is refused.
std::string remedyFor(const kyplatform::CertificateFacts& facts, bool named,
                      const ArrayAccess& array, const HostConfig& config) {
    if (!named) {
        return "the certificate names " + joined(facts.names) + ", not " +
               addressHost(array.address) + ": set address in [array " + array.name + "] of " +
               config.path + " to a name it carries (with ca-file if its issuer is private), " +
               trustRemedy(array);
    }
    if (facts.expired || facts.notYetValid) {
        return std::string("the certificate ") +
               (facts.expired ? "expired on " + facts.notAfter
                              : "is valid only from " + facts.notBefore) +
               ": renew it on the array (or correct this host's clock), " + trustRemedy(array);
    }
    return "its issuer is not trusted here: put the issuing CA's certificate (for a "
           "self-signed one, the certificate itself) in a PEM file and name it as ca-file in "
           "[array " +
           array.name + "] of " + config.path + ", " + trustRemedy(array);
}

}  // namespace

std::vector<std::string> certificateDetails(const kyplatform::CertificateFacts& facts) {
    return {"subject " + facts.subject, "issuer " + facts.issuer, "names " + joined(facts.names),
            "valid from " + facts.notBefore + " to " + facts.notAfter +
                (facts.expired       ? " (expired)"
                 : facts.notYetValid ? " (not yet valid)"
                                     : ""),
            "key pin " + facts.pin};
}

bool judgeCertificate(const ArrayProbe& probe, const ArrayAccess& array, const HostConfig& config,
                      std::vector<ReportLine>& lines) {
    using kyplatform::TlsVerdict;
    const kyplatform::TlsProbeResult tls = probe.tls(kyplatform::TlsJudgement::AsConfigured);
    if (tls.verdict == TlsVerdict::Unusable) {
        lines.push_back({Kind::Fail, "no TLS session with " + array.address + ": " + tls.why,
                         "correct the file named, which every request to the array needs"});
        return false;
    }
    if (tls.verdict == TlsVerdict::NoSession) {
        lines.push_back({Kind::Fail, "no TLS session with " + array.address + ": " + tls.why,
                         "make sure the address is the array's HTTPS management interface"});
        return false;
    }
    if (tls.chain.empty()) {
        lines.push_back({Kind::Fail, "its certificate cannot be read",
                         "make sure the address is the array's HTTPS management interface"});
        return false;
    }
    const kyplatform::ChainCertificate& leaf = tls.chain.front();
    const kyplatform::CertificateFacts& facts = leaf.facts;

    if (tls.pinned) {
        // The plug-in's client decides by the pin alone, and its words are reported.
        if (tls.verdict != TlsVerdict::Accepted) {
            lines.push_back(
                {Kind::Fail, tls.why,
                 "if the array's certificate was replaced on purpose, compare the presented pin "
                 "with the one its console shows and run: kysnap trust " +
                     array.name + "; otherwise something else answers at " + array.address});
            addDetails(facts, lines);
            return false;
        }
        lines.push_back({Kind::Ok,
                         "its key matches its pin in " + tls.pinsFile + " (line " +
                             std::to_string(tls.pinned->line) + "): " + facts.pin +
                             "; chain and names are not checked for a pinned array",
                         ""});
        if (facts.expired) {
            lines.push_back({Kind::Warn,
                             "its pinned certificate expired on " + facts.notAfter +
                                 "; it is accepted because its key matches the pin",
                             "renew the certificate on the array, then compare and pin the new "
                             "key: kysnap trust " +
                                 array.name});
        }
        return true;
    }

    if (tls.checks == kyplatform::TlsChecks::Off) {
        lines.push_back({Kind::Warn, "certificate checks are off (KYSNAP_TLS_INSECURE=1)",
                         "pin the array's key instead (kysnap trust " + array.name +
                             "), or use ca-file or KYSNAP_TLS_CA_FILE, outside an isolated test "
                             "network"});
        return true;
    }
    if (tls.verdict == TlsVerdict::Accepted) {
        lines.push_back({Kind::Ok, "certificate verifies for " + addressHost(array.address), ""});
        return true;
    }
    const auto* der = reinterpret_cast<const unsigned char*>(leaf.der.data());
    const bool named =
        kyplatform::certificateNames(der, leaf.der.size(), addressHost(array.address));
    lines.push_back({Kind::Fail, "its certificate does not verify: " + tls.why,
                     remedyFor(facts, named, array, config)});
    addDetails(facts, lines);
    return false;
}

}  // namespace kysnap
