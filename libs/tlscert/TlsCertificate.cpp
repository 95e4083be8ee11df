// SPDX-License-Identifier: Apache-2.0
#include "TlsCertificate.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tlscert {
namespace {

constexpr int kValidityDays = 3650;
// A certificate that expires within this many seconds is replaced rather than reused.
constexpr long kRenewMarginSeconds = 7L * 24 * 3600;

struct X509Deleter {
    void operator()(X509* p) const { X509_free(p); }
};
struct PkeyDeleter {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct BioDeleter {
    void operator()(BIO* p) const { BIO_free(p); }
};
struct BnDeleter {
    void operator()(BIGNUM* p) const { BN_free(p); }
};
struct GeneralNamesDeleter {
    void operator()(GENERAL_NAMES* p) const { GENERAL_NAMES_free(p); }
};
struct ExtensionDeleter {
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

// Closes the lock file, which releases the lock.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::string& path)
        : fd_(::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600)) {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~DirectoryLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    bool locked() const { return fd_ >= 0; }

private:
    int fd_;
};

// The OpenSSL error queue as one text, emptied.
std::string opensslErrors() {
    std::string text;
    unsigned long code = 0;
    while ((code = ERR_get_error()) != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty()) {
            text += "; ";
        }
        text += buffer;
    }
    return text.empty() ? std::string("unknown OpenSSL error") : text;
}

bool isIpAddress(const std::string& name) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, name.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

PkeyPtr generateKey() {
    return PkeyPtr(EVP_EC_gen("P-256"));
}

X509Ptr readCertificate(const std::string& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    if (!bio) {
        return nullptr;
    }
    return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

PkeyPtr readKey(const std::string& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    if (!bio) {
        return nullptr;
    }
    return PkeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

// Valid now and for at least the renewal margin.
bool withinValidity(X509* cert) {
    time_t soon = std::time(nullptr) + kRenewMarginSeconds;
    return X509_cmp_current_time(X509_get0_notBefore(cert)) < 0 &&
           X509_cmp_time(X509_get0_notAfter(cert), &soon) > 0;
}

bool usableCa(X509* ca, EVP_PKEY* caKey) {
    return ca != nullptr && caKey != nullptr && X509_check_private_key(ca, caKey) == 1 &&
           X509_check_ca(ca) >= 1 && X509_verify(ca, caKey) == 1 && withinValidity(ca);
}

bool coversHostNames(X509* cert, const std::vector<std::string>& hostNames) {
    for (const std::string& name : hostNames) {
        const int match = isIpAddress(name)
                              ? X509_check_ip_asc(cert, name.c_str(), 0)
                              : X509_check_host(cert, name.c_str(), name.size(),
                                                X509_CHECK_FLAG_NEVER_CHECK_SUBJECT, nullptr);
        if (match != 1) {
            return false;
        }
    }
    return true;
}

bool usableServer(X509* server, EVP_PKEY* serverKey, X509* ca, EVP_PKEY* caKey,
                  const std::vector<std::string>& hostNames) {
    return server != nullptr && serverKey != nullptr &&
           X509_check_private_key(server, serverKey) == 1 &&
           X509_check_issued(ca, server) == X509_V_OK && X509_verify(server, caKey) == 1 &&
           withinValidity(server) && coversHostNames(server, hostNames);
}

bool addExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
    std::unique_ptr<X509_EXTENSION, ExtensionDeleter> ext(
        X509V3_EXT_conf_nid(nullptr, ctx, nid, value));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

bool addSubjectAltNames(X509* cert, const std::vector<std::string>& hostNames) {
    std::unique_ptr<GENERAL_NAMES, GeneralNamesDeleter> names(sk_GENERAL_NAME_new_null());
    if (!names) {
        return false;
    }
    for (const std::string& host : hostNames) {
        GENERAL_NAME* entry = nullptr;
        if (isIpAddress(host)) {
            ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
            if (address == nullptr) {
                return false;
            }
            entry = GENERAL_NAME_new();
            if (entry == nullptr) {
                ASN1_OCTET_STRING_free(address);
                return false;
            }
            GENERAL_NAME_set0_value(entry, GEN_IPADD, address);
        } else {
            ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
            if (dns == nullptr || ASN1_STRING_set(dns, host.data(), int(host.size())) != 1) {
                ASN1_IA5STRING_free(dns);
                return false;
            }
            entry = GENERAL_NAME_new();
            if (entry == nullptr) {
                ASN1_IA5STRING_free(dns);
                return false;
            }
            GENERAL_NAME_set0_value(entry, GEN_DNS, dns);
        }
        if (sk_GENERAL_NAME_push(names.get(), entry) == 0) {
            GENERAL_NAME_free(entry);
            return false;
        }
    }
    return X509_add1_ext_i2d(cert, NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT) == 1;
}

// A certificate for `subjectKey` named `commonName`, signed by `issuerKey`; `issuer` null means
// self-signed. The caller adds the extensions that depend on the role.
X509Ptr newCertificate(EVP_PKEY* subjectKey, const std::string& commonName, X509* issuer) {
    X509Ptr cert(X509_new());
    std::unique_ptr<BIGNUM, BnDeleter> serial(BN_new());
    if (!cert || !serial || X509_set_version(cert.get(), 2) != 1 ||
        BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
        BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) == nullptr) {
        return nullptr;
    }
    // An hour of slack for clocks that differ between processes.
    if (X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) == nullptr ||
        X509_time_adj_ex(X509_getm_notAfter(cert.get()), kValidityDays, 0, nullptr) == nullptr ||
        X509_set_pubkey(cert.get(), subjectKey) != 1) {
        return nullptr;
    }
    X509_NAME* name = X509_get_subject_name(cert.get());
    const auto* org = reinterpret_cast<const unsigned char*>("KySnap");
    const auto* cn = reinterpret_cast<const unsigned char*>(commonName.c_str());
    if (X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, org, -1, -1, 0) != 1 ||
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, cn, -1, -1, 0) != 1) {
        return nullptr;
    }
    X509_NAME* issuerName = issuer != nullptr ? X509_get_subject_name(issuer) : name;
    if (X509_set_issuer_name(cert.get(), issuerName) != 1) {
        return nullptr;
    }
    return cert;
}

X509Ptr makeCaCertificate(EVP_PKEY* caKey) {
    X509Ptr ca = newCertificate(caKey, "KySnap local CA", nullptr);
    if (!ca) {
        return nullptr;
    }
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, ca.get(), ca.get(), nullptr, nullptr, 0);
    if (!addExtension(ca.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE") ||
        !addExtension(ca.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign") ||
        !addExtension(ca.get(), &ctx, NID_subject_key_identifier, "hash") ||
        !addExtension(ca.get(), &ctx, NID_authority_key_identifier, "keyid:always") ||
        X509_sign(ca.get(), caKey, EVP_sha256()) == 0) {
        return nullptr;
    }
    return ca;
}

X509Ptr makeServerCertificate(EVP_PKEY* serverKey, X509* ca, EVP_PKEY* caKey,
                              const std::vector<std::string>& hostNames) {
    X509Ptr server = newCertificate(serverKey, hostNames.front(), ca);
    if (!server) {
        return nullptr;
    }
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, ca, server.get(), nullptr, nullptr, 0);
    if (!addExtension(server.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(server.get(), &ctx, NID_key_usage, "critical,digitalSignature") ||
        !addExtension(server.get(), &ctx, NID_ext_key_usage, "serverAuth") ||
        !addExtension(server.get(), &ctx, NID_subject_key_identifier, "hash") ||
        !addExtension(server.get(), &ctx, NID_authority_key_identifier, "keyid:always") ||
        !addSubjectAltNames(server.get(), hostNames) ||
        X509_sign(server.get(), caKey, EVP_sha256()) == 0) {
        return nullptr;
    }
    return server;
}

// Writes `text` to a temporary file beside `path` with `mode` and renames it into place, so a
// reader never sees half a file.
bool writeFileAtomically(const std::string& path, const std::string& text, mode_t mode,
                         std::string& error) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    size_t written = 0;
    while (ok && written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            written += size_t(n);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(ok ? errno : savedErrno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool pemText(X509* cert, EVP_PKEY* key, std::string& text) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) {
        return false;
    }
    const int ok = cert != nullptr ? PEM_write_bio_X509(bio.get(), cert)
                                   : PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0,
                                                              nullptr, nullptr);
    if (ok != 1) {
        return false;
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    text.assign(data, size > 0 ? size_t(size) : 0);
    return true;
}

bool writeCertificate(const std::string& path, X509* cert, std::string& error) {
    std::string text;
    if (!pemText(cert, nullptr, text)) {
        error = "cannot encode " + path + ": " + opensslErrors();
        return false;
    }
    return writeFileAtomically(path, text, 0644, error);
}

bool writeKey(const std::string& path, EVP_PKEY* key, std::string& error) {
    std::string text;
    if (!pemText(nullptr, key, text)) {
        error = "cannot encode " + path + ": " + opensslErrors();
        return false;
    }
    return writeFileAtomically(path, text, 0600, error);
}

bool validHostName(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == 0x7f) {
            return false;
        }
    }
    return true;
}

// Checks the names, creates `directory` and locks it; `base` is the directory with a '/'.
std::unique_ptr<DirectoryLock> lockDirectory(const std::string& directory,
                                             const std::vector<std::string>& hostNames,
                                             std::string& base, std::string& error) {
    if (hostNames.empty()) {
        error = "no host names given for the server certificate";
        return nullptr;
    }
    for (const std::string& name : hostNames) {
        if (!validHostName(name)) {
            error = "invalid host name for a certificate: '" + name + "'";
            return nullptr;
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) {
        error = "cannot create directory " + directory + ": " + ec.message();
        return nullptr;
    }
    base = directory.empty() || directory.back() == '/' ? directory : directory + "/";
    auto lock = std::make_unique<DirectoryLock>(base + ".lock");
    if (!lock->locked()) {
        error = "cannot lock " + base + ".lock: " + std::strerror(errno);
        return nullptr;
    }
    return lock;
}

// A self-signed certificate that names `hostNames`; an expired one ended a day ago.
X509Ptr makeSelfSignedCertificate(EVP_PKEY* key, const std::vector<std::string>& hostNames,
                                  bool expired) {
    X509Ptr cert = newCertificate(key, hostNames.front(), nullptr);
    if (!cert || (expired &&
                  (X509_gmtime_adj(X509_getm_notBefore(cert.get()), -30L * 24 * 3600) == nullptr ||
                   X509_gmtime_adj(X509_getm_notAfter(cert.get()), -24L * 3600) == nullptr))) {
        return nullptr;
    }
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    if (!addExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash") ||
        !addSubjectAltNames(cert.get(), hostNames) ||
        X509_sign(cert.get(), key, EVP_sha256()) == 0) {
        return nullptr;
    }
    return cert;
}

bool usableSelfSigned(X509* cert, EVP_PKEY* key, const std::vector<std::string>& hostNames,
                      bool expired) {
    return cert != nullptr && key != nullptr && X509_check_private_key(cert, key) == 1 &&
           X509_check_issued(cert, cert) == X509_V_OK && coversHostNames(cert, hostNames) &&
           (expired ? X509_cmp_current_time(X509_get0_notAfter(cert)) < 0 : withinValidity(cert));
}

}  // namespace

bool ensureSelfSignedCertificate(const std::string& directory,
                                 const std::vector<std::string>& hostNames, bool expired,
                                 CertificateFiles& files, std::string& error) {
    std::string base;
    const auto lock = lockDirectory(directory, hostNames, base, error);
    if (!lock) {
        return false;
    }
    std::string stem = base + "self-" + hostNames.front() + (expired ? "-expired" : "");
    std::replace(stem.begin() + static_cast<long>(base.size()), stem.end(), '/', '_');
    const CertificateFiles paths{stem + ".pem", stem + ".pem", stem + ".key"};
    ERR_clear_error();
    X509Ptr cert = readCertificate(paths.certFile);
    PkeyPtr key = readKey(paths.keyFile);
    if (!usableSelfSigned(cert.get(), key.get(), hostNames, expired)) {
        key = generateKey();
        cert = key ? makeSelfSignedCertificate(key.get(), hostNames, expired) : nullptr;
        if (!cert) {
            error = "cannot create the self-signed certificate: " + opensslErrors();
            return false;
        }
        if (!writeKey(paths.keyFile, key.get(), error) ||
            !writeCertificate(paths.certFile, cert.get(), error)) {
            return false;
        }
    }
    ERR_clear_error();
    files = paths;
    return true;
}

bool ensureServerCertificate(const std::string& directory,
                             const std::vector<std::string>& hostNames, CertificateFiles& files,
                             std::string& error) {
    std::string base;
    const auto lock = lockDirectory(directory, hostNames, base, error);
    if (!lock) {
        return false;
    }
    CertificateFiles paths{base + "ca.pem", base + "server.pem", base + "server.key"};
    const std::string caKeyFile = base + "ca.key";
    ERR_clear_error();

    X509Ptr ca = readCertificate(paths.caCertFile);
    PkeyPtr caKey = readKey(caKeyFile);
    bool newCa = false;
    if (!usableCa(ca.get(), caKey.get())) {
        caKey = generateKey();
        ca = caKey ? makeCaCertificate(caKey.get()) : nullptr;
        if (!ca) {
            error = "cannot create the CA certificate: " + opensslErrors();
            return false;
        }
        // The key first: a CA certificate without its key on disk would be replaced next time.
        if (!writeKey(caKeyFile, caKey.get(), error) ||
            !writeCertificate(paths.caCertFile, ca.get(), error)) {
            return false;
        }
        newCa = true;
    }

    X509Ptr server = newCa ? nullptr : readCertificate(paths.certFile);
    PkeyPtr serverKey = newCa ? nullptr : readKey(paths.keyFile);
    if (!usableServer(server.get(), serverKey.get(), ca.get(), caKey.get(), hostNames)) {
        serverKey = generateKey();
        server = serverKey
                     ? makeServerCertificate(serverKey.get(), ca.get(), caKey.get(), hostNames)
                     : nullptr;
        if (!server) {
            error = "cannot create the server certificate: " + opensslErrors();
            return false;
        }
        if (!writeKey(paths.keyFile, serverKey.get(), error) ||
            !writeCertificate(paths.certFile, server.get(), error)) {
            return false;
        }
    }
    // A reused key keeps the mode it was created with; make sure it is still private.
    if (::chmod(paths.keyFile.c_str(), 0600) != 0 || ::chmod(caKeyFile.c_str(), 0600) != 0) {
        error = "cannot restrict the key files in " + directory + ": " + std::strerror(errno);
        return false;
    }
    ERR_clear_error();
    files = paths;
    return true;
}

}  // namespace tlscert
