// SPDX-License-Identifier: Apache-2.0
#include "CurlTls.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>

namespace kyplatform {
namespace {

std::string joinedPins(const PinnedArray& pinned, const char* separator) {
    std::string text;
    for (const std::string& pin : pinned.pins) {
        text += (text.empty() ? "" : separator) + pin;
    }
    return text;
}

// One certificate of libcurl's certificate information: its "Cert:" field holds the PEM form.
bool readCertificate(const curl_slist* fields, ChainCertificate& certificate) {
    for (const curl_slist* field = fields; field != nullptr; field = field->next) {
        if (std::strncmp(field->data, "Cert:", 5) != 0) {
            continue;
        }
        BIO* bio = BIO_new_mem_buf(field->data + 5, -1);
        X509* cert = bio != nullptr ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
        BIO_free(bio);
        unsigned char* der = nullptr;
        const int length = cert != nullptr ? i2d_X509(cert, &der) : 0;
        X509_free(cert);
        bool read = false;
        if (length > 0) {
            certificate.der.assign(reinterpret_cast<const char*>(der), static_cast<size_t>(length));
            read = certificateFacts(der, static_cast<size_t>(length), certificate.facts);
        }
        OPENSSL_free(der);
        return read;
    }
    return false;
}

}  // namespace

std::string authorityOf(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    const size_t at = authority.rfind('@');
    return at == std::string::npos ? authority : authority.substr(at + 1);
}

TlsTarget tlsTargetFor(const HttpTransportSettings& settings, const std::string& authority) {
    TlsTarget target;
    target.authority = authority;
    target.pinned = findPinned(settings.pins, authority);
    target.caFile = settings.caFile;
    std::string caFileError = settings.caFileError;
    const std::string key = addressKey(authority);
    for (const HttpTransportSettings::ArrayCaFile& array : settings.arrayCaFiles) {
        if (!key.empty() && array.key == key) {
            target.caFile = array.caFile;
            caFileError = array.caFileError;
            break;
        }
    }
    // A pins file or CA file that cannot be used fails the request rather than trusting
    // something else.
    target.refusal = !settings.pinsError.empty() ? settings.pinsError : caFileError;
    return target;
}

bool setTlsOptions(CURL* curl, const HttpTransportSettings& settings, const TlsTarget& target) {
    bool ok =
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, settings.verifyPeer ? 1L : 0L) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, settings.verifyPeer ? 2L : 0L) == CURLE_OK;
    if (ok && !target.caFile.empty()) {
        // The given file replaces the system store rather than adding to it.
        ok = curl_easy_setopt(curl, CURLOPT_CAINFO, target.caFile.c_str()) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
    if (!ok || target.pinned == nullptr) {
        return ok;
    }
    // For a pinned array the pin decides, not the chain or the name; libcurl checks the pin
    // whether or not it verifies the peer.
    const std::string pins = joinedPins(*target.pinned, ";");
    return curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, pins.c_str()) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_CERTINFO, 1L) == CURLE_OK;
}

bool presentedChain(CURL* curl, std::vector<ChainCertificate>& chain) {
    chain.clear();
    curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CERTINFO, &info) != CURLE_OK || info == nullptr ||
        info->num_of_certs < 1) {
        return false;
    }
    // The chain is told as far as it can be read; a leaf that cannot be read tells nothing.
    for (int i = 0; i < info->num_of_certs; ++i) {
        ChainCertificate certificate;
        if (!readCertificate(info->certinfo[i], certificate)) {
            break;
        }
        chain.push_back(std::move(certificate));
    }
    return !chain.empty();
}

std::string pinMismatchText(const TlsTarget& target, const std::string& pinsFile,
                            const std::string& presented) {
    return "the public key of " + target.authority + " does not match its pin in " + pinsFile +
           ": expected " + (target.pinned ? joinedPins(*target.pinned, " or ") : "") +
           ", presented " + (presented.empty() ? "an unreadable certificate" : presented) +
           "; nothing was sent";
}

std::string expiredPinText(const TlsTarget& target, const CertificateFacts& leaf,
                           const std::string& pinsFile) {
    return "the pinned certificate of " + target.authority + " expired on " + leaf.notAfter +
           "; it is accepted because its key matches the pin in " + pinsFile +
           "; renew it on the array";
}

}  // namespace kyplatform
