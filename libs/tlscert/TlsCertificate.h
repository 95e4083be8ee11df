// SPDX-License-Identifier: Apache-2.0
// Server certificates for our own HTTPS services on this machine (the array simulator and the
// test responder): a private CA and one server certificate signed by it, kept as PEM files so
// that a client can trust the CA file (KYSNAP_TLS_CA_FILE) instead of switching checks off.
#pragma once

#include <string>
#include <vector>

namespace tlscert {

struct CertificateFiles {
    std::string caCertFile;  // <directory>/ca.pem: what a client trusts
    std::string certFile;    // <directory>/server.pem: the server's certificate
    std::string keyFile;     // <directory>/server.key: the server's private key (mode 0600)
};

// Makes sure `directory` holds a CA certificate (ca.pem), a server certificate (server.pem)
// signed by it for `hostNames` (subjectAltName: IP entries for addresses, DNS otherwise) and
// the server key (server.key, mode 0600). Existing files that still parse and are valid are
// reused. Returns false with `error` set on failure.
//
// Details: the directory is created when missing. The CA's own key is kept beside it (ca.key,
// mode 0600) so that a change of host names re-issues only the server certificate and a client
// that already trusts ca.pem keeps working. Files are replaced atomically and the whole check
// runs under an exclusive lock on <directory>/.lock, so processes sharing a directory do not
// mix certificates. `hostNames` must not be empty; the first name is the subject's common name.
// On success `files` holds the three paths; on failure it is left unchanged.
bool ensureServerCertificate(const std::string& directory,
                             const std::vector<std::string>& hostNames, CertificateFiles& files,
                             std::string& error);

// Makes sure `directory` holds a self-signed certificate for `hostNames` and its key, as an
// array makes its own: <directory>/self-<first name>.pem and .key (self-<first name>-expired.*
// for an `expired` one, whose validity ended a day ago). Existing files that still match are
// reused, so the certificate's key (and pin) stays the same from one start to the next. On
// success `files` holds the certificate as both caCertFile and certFile, and its key.
bool ensureSelfSignedCertificate(const std::string& directory,
                                 const std::vector<std::string>& hostNames, bool expired,
                                 CertificateFiles& files, std::string& error);

}  // namespace tlscert
