// SPDX-License-Identifier: Apache-2.0
// The pin of a certificate file, as a person computes it from the certificate exported from an
// array's console, for tests that write pins files.
#pragma once

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>

#include "TlsPins.h"

namespace testhost {

// The pin ("sha256//...") of the first certificate in the PEM file `path`; empty when the file
// holds none.
inline std::string pinOfCertificateFile(const std::string& path) {
    BIO* file = BIO_new_file(path.c_str(), "r");
    X509* cert = file != nullptr ? PEM_read_bio_X509(file, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(file);
    unsigned char* der = nullptr;
    const int length = cert != nullptr ? i2d_X509(cert, &der) : 0;
    X509_free(cert);
    kyplatform::CertificateFacts facts;
    const bool read = length > 0 && kyplatform::certificateFacts(der, size_t(length), facts);
    OPENSSL_free(der);
    return read ? facts.pin : "";
}

}  // namespace testhost
