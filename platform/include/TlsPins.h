// SPDX-License-Identifier: Apache-2.0
// Public-key pins per array address, and what a certificate says about itself.
//
// A pins file (KYSNAP_TLS_PINS_FILE) holds one line per array:
//
//   # comment
//   10.0.0.5            sha256//<base64 of 32 bytes>
//   [fd00::10]:8443     sha256//AAAA...=  sha256//BBBB...=
//
// The address is "host", "host:port", "[IPv6]" or "[IPv6]:port" (443 when no port is given);
// one or more pins follow, separated by blanks. A pin is the SHA-256 digest of the
// certificate's public key (its DER SubjectPublicKeyInfo) in base64, as libcurl and
// `openssl ... | openssl dgst -sha256 -binary | base64` write it. Reading is strict: a line that
// is not exactly that, an address given twice (however written), or a control character is
// refused with its line; nothing is skipped.
//
// For an array with a pin the pin alone decides whether its certificate is accepted: the
// certificate's chain and the names it carries are not checked.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "KyPlatformExport.h"

namespace kyplatform {

struct PinnedArray {
    std::string address;            // as written
    std::string key;                // addressKey(address)
    std::vector<std::string> pins;  // "sha256//..."
    int line = 0;                   // where it was read, 0 when not read from a file
};

// The comparable form of an address or of a URL's authority: lower case, an IPv6 address
// written the one canonical way in brackets, and the port ("host:443" when none is given).
// Empty when `address` is no host, host:port, [IPv6] or [IPv6]:port.
KYPLATFORM_API std::string addressKey(const std::string& address);

// Whether `text` is "sha256//" followed by the base64 form of 32 bytes.
KYPLATFORM_API bool isPin(const std::string& text);

// Parses a pins file's text; `path` names it in errors ("<path>:<line>: ..."). False with
// `error` set at the first problem; `arrays` is then left unchanged.
KYPLATFORM_API bool parsePins(const std::string& text, const std::string& path,
                              std::vector<PinnedArray>& arrays, std::string& error);

// Reads and parses the file at `path`. A missing or unreadable file, one that is not a
// regular file, one larger than 1 MiB, or one that anybody may write (mode o+w) is refused:
// whoever can write the pins decides which keys are trusted.
KYPLATFORM_API bool loadPins(const std::string& path, std::vector<PinnedArray>& arrays,
                             std::string& error);

// The text of a pins file holding `arrays`, one line each, after a comment saying what it is.
KYPLATFORM_API std::string pinsText(const std::vector<PinnedArray>& arrays);

// The entry whose address is the same as `address` (compared by addressKey), or null.
KYPLATFORM_API const PinnedArray* findPinned(const std::vector<PinnedArray>& arrays,
                                             const std::string& address);

// What a certificate says about itself, for a person comparing it with the array's console.
struct CertificateFacts {
    std::string subject;             // one line, e.g. "CN=array7.example, O=Tegile"
    std::string issuer;              // one line
    std::vector<std::string> names;  // subject alternative names: "DNS:x", "IP:fd00::10"
    std::string notBefore;           // "2026-12-08 11:00:00 UTC"
    std::string notAfter;
    bool expired = false;      // notAfter lies in the past
    bool notYetValid = false;  // notBefore lies in the future
    std::string pin;           // "sha256//..." of its public key
};

// Reads a certificate in DER form. False when it does not parse.
KYPLATFORM_API bool certificateFacts(const unsigned char* der, size_t length,
                                     CertificateFacts& facts);

// Whether the certificate (DER) names `host` (a DNS name, or an IPv4 or IPv6 address, with or
// without brackets) in its subject alternative names, as a client checking host names would.
KYPLATFORM_API bool certificateNames(const unsigned char* der, size_t length,
                                     const std::string& host);

}  // namespace kyplatform
