// SPDX-License-Identifier: Apache-2.0
#include "TlsPins.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "PathGuard.h"

namespace kyplatform {
namespace {

// A pins file lists a few arrays; anything near this size is not one.
constexpr size_t kPinsLimit = 1u << 20;
constexpr char kPinPrefix[] = "sha256//";

struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

X509Ptr parseDer(const unsigned char* der, size_t length) {
    const unsigned char* at = der;
    return X509Ptr(d2i_X509(nullptr, &at, static_cast<long>(length)));
}

bool isPort(const std::string& text) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    const int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

bool isHostName(const std::string& host) {
    if (host.empty() || host.size() > 253) {
        return false;
    }
    for (const char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_') {
            return false;
        }
    }
    return true;
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// "2026-12-08 11:00:00 UTC"
std::string timeText(const ASN1_TIME* when) {
    std::tm parts{};
    if (when == nullptr || ASN1_TIME_to_tm(when, &parts) != 1) {
        return "unknown";
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

std::string nameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr) {
        return "";
    }
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, size > 0 ? static_cast<size_t>(size) : 0);
    BIO_free(bio);
    return text;
}

std::string ipText(const ASN1_OCTET_STRING* address) {
    char text[INET6_ADDRSTRLEN] = "";
    const int family = address->length == 4 ? AF_INET : address->length == 16 ? AF_INET6 : 0;
    if (family == 0 || inet_ntop(family, address->data, text, sizeof text) == nullptr) {
        return "(malformed)";
    }
    return text;
}

std::vector<std::string> altNames(X509* cert) {
    std::vector<std::string> names;
    auto* list =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    if (list == nullptr) {
        return names;
    }
    for (int i = 0; i < sk_GENERAL_NAME_num(list); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(list, i);
        if (name->type == GEN_DNS) {
            const ASN1_IA5STRING* dns = name->d.dNSName;
            names.push_back("DNS:" + std::string(reinterpret_cast<const char*>(dns->data),
                                                 static_cast<size_t>(dns->length)));
        } else if (name->type == GEN_IPADD) {
            names.push_back("IP:" + ipText(name->d.iPAddress));
        }
    }
    GENERAL_NAMES_free(list);
    return names;
}

std::string pinOf(X509* cert) {
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
    if (length <= 0) {
        return "";
    }
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(der, static_cast<size_t>(length), digest);
    OPENSSL_free(der);
    unsigned char encoded[4 * ((SHA256_DIGEST_LENGTH + 2) / 3) + 1];
    EVP_EncodeBlock(encoded, digest, SHA256_DIGEST_LENGTH);
    return kPinPrefix + std::string(reinterpret_cast<const char*>(encoded));
}

// Splits a line at blanks (spaces and tabs).
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> found;
    size_t at = 0;
    while ((at = line.find_first_not_of(" \t", at)) != std::string::npos) {
        const size_t end = line.find_first_of(" \t", at);
        found.push_back(line.substr(at, end == std::string::npos ? end : end - at));
        at = end;
    }
    return found;
}

// What is wrong with the bytes of a line, or nothing: a pins file is printable ASCII and tabs.
std::string badByte(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if ((c < 0x20 && c != '\t') || c >= 0x7f) {
            char text[64];
            std::snprintf(text, sizeof text, "the byte 0x%02x at column %zu", c, i + 1);
            return std::string(text) + ": a pins file holds only printable ASCII text";
        }
    }
    return "";
}

// Reads the opened pins file at `path`: a regular file of the user or root that nobody else may
// write, of at most kPinsLimit bytes.
bool readPinsText(int fd, const std::string& path, const std::string& what, std::string& text,
                  std::string& error) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = what + " cannot be read: " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = notRegularFile(what, info.st_mode);
        return false;
    }
    if (!isOwnFile(info, what, error)) {
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        error = what + " can be written by " +
                ((info.st_mode & S_IWOTH) != 0 ? "anybody" : "its group") + " (mode " + mode +
                "), who could then decide which keys are trusted; run: chmod go-w " + path;
        return false;
    }
    char buffer[8192];
    ssize_t got = 0;
    while (text.size() <= kPinsLimit &&
           ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))) {
        text.append(buffer, got > 0 ? static_cast<size_t>(got) : 0);
    }
    if (got < 0) {
        error = what + " cannot be read: " + std::strerror(errno);
        return false;
    }
    if (text.size() > kPinsLimit) {
        error = what + " is larger than " + std::to_string(kPinsLimit) + " bytes";
        return false;
    }
    return true;
}

}  // namespace

std::string addressKey(const std::string& address) {
    std::string host;
    std::string port = "443";
    if (!address.empty() && address.front() == '[') {
        const size_t close = address.find(']');
        if (close == std::string::npos) {
            return "";
        }
        const std::string rest = address.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':' || !isPort(rest.substr(1))) {
                return "";
            }
            port = rest.substr(1);
        }
        in6_addr parsed{};
        char canonical[INET6_ADDRSTRLEN];
        if (inet_pton(AF_INET6, address.substr(1, close - 1).c_str(), &parsed) != 1 ||
            inet_ntop(AF_INET6, &parsed, canonical, sizeof canonical) == nullptr) {
            return "";
        }
        host = "[" + std::string(canonical) + "]";
    } else {
        const size_t colon = address.find(':');
        host = address.substr(0, colon);
        if (colon != std::string::npos) {
            port = address.substr(colon + 1);
            if (!isPort(port)) {
                return "";
            }
        }
        if (!isHostName(host)) {
            return "";
        }
        host = lowerCase(host);
    }
    return host + ":" + std::to_string(std::stoi(port));
}

bool isPin(const std::string& text) {
    const size_t prefix = std::strlen(kPinPrefix);
    // 32 bytes take 44 base64 characters, the last one '='.
    if (text.size() != prefix + 44 || text.compare(0, prefix, kPinPrefix) != 0 ||
        text.back() != '=') {
        return false;
    }
    for (size_t i = prefix; i + 1 < text.size(); ++i) {
        const char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/') {
            return false;
        }
    }
    return true;
}

bool parsePins(const std::string& text, const std::string& path, std::vector<PinnedArray>& arrays,
               std::string& error) {
    std::vector<PinnedArray> read;
    size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        const size_t end = text.find('\n', start);
        const std::string line =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (const std::string problem = badByte(line); !problem.empty()) {
            error = where + problem;
            return false;
        }
        const std::vector<std::string> fields = words(line);
        if (fields.empty() || fields.front().front() == '#') {
            continue;
        }
        PinnedArray entry;
        entry.address = fields.front();
        entry.key = addressKey(entry.address);
        entry.line = number;
        if (entry.key.empty()) {
            error = where + "'" + entry.address +
                    "' is no array address (host, host:port, [IPv6 address] or "
                    "[IPv6 address]:port)";
            return false;
        }
        if (fields.size() < 2) {
            error = where + "no pin after the address " + entry.address +
                    "; write ADDRESS sha256//BASE64 [sha256//BASE64 ...]";
            return false;
        }
        for (size_t i = 1; i < fields.size(); ++i) {
            if (!isPin(fields[i])) {
                error = where + "'" + fields[i] +
                        "' is no pin: a pin is sha256// and the base64 form of a 32-byte "
                        "SHA-256 digest (44 characters ending in '=')";
                return false;
            }
            entry.pins.push_back(fields[i]);
        }
        if (const PinnedArray* earlier = findPinned(read, entry.address)) {
            error = where + "the array " + entry.address + " is given a second time (first at " +
                    path + ":" + std::to_string(earlier->line) + "); give all its pins on one line";
            return false;
        }
        read.push_back(std::move(entry));
    }
    arrays = std::move(read);
    return true;
}

bool loadPins(const std::string& path, std::vector<PinnedArray>& arrays, std::string& error) {
    const std::string what = "the pins file " + path;
    // Whoever can change the file, or swap it through a directory, decides which keys are
    // trusted.
    if (!isGuardedPath(path, what, error)) {
        return false;
    }
    // Never through a link, and non-blocking, so that a FIFO planted at the path cannot hold
    // the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) {
        error =
            errno == ELOOP
                ? what + " is a symbolic link, which is not followed for it; name the file itself"
                : what + " cannot be read: " + std::strerror(errno);
        return false;
    }
    std::string text;
    const bool read = readPinsText(fd, path, what, text, error);
    ::close(fd);
    return read && parsePins(text, path, arrays, error);
}

std::string pinsText(const std::vector<PinnedArray>& arrays) {
    std::string text =
        "# Public-key pins of arrays: ADDRESS sha256//BASE64 [sha256//BASE64 ...]\n"
        "# For these arrays the pin alone decides whether the certificate is accepted.\n";
    for (const PinnedArray& array : arrays) {
        text += array.address;
        for (const std::string& pin : array.pins) {
            text += " " + pin;
        }
        text += "\n";
    }
    return text;
}

const PinnedArray* findPinned(const std::vector<PinnedArray>& arrays, const std::string& address) {
    const std::string key = addressKey(address);
    if (key.empty()) {
        return nullptr;
    }
    for (const PinnedArray& array : arrays) {
        if (array.key == key) {
            return &array;
        }
    }
    return nullptr;
}

bool certificateFacts(const unsigned char* der, size_t length, CertificateFacts& facts) {
    const X509Ptr cert = parseDer(der, length);
    if (!cert) {
        return false;
    }
    facts.subject = nameText(X509_get_subject_name(cert.get()));
    facts.issuer = nameText(X509_get_issuer_name(cert.get()));
    facts.names = altNames(cert.get());
    facts.notBefore = timeText(X509_get0_notBefore(cert.get()));
    facts.notAfter = timeText(X509_get0_notAfter(cert.get()));
    facts.expired = X509_cmp_current_time(X509_get0_notAfter(cert.get())) < 0;
    facts.notYetValid = X509_cmp_current_time(X509_get0_notBefore(cert.get())) > 0;
    facts.pin = pinOf(cert.get());
    return !facts.pin.empty();
}

bool certificateNames(const unsigned char* der, size_t length, const std::string& host) {
    const X509Ptr cert = parseDer(der, length);
    if (!cert || host.empty()) {
        return false;
    }
    std::string name = host;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    unsigned char address[sizeof(in6_addr)];
    if (inet_pton(AF_INET, name.c_str(), address) == 1 ||
        inet_pton(AF_INET6, name.c_str(), address) == 1) {
        // Compared as addresses, so that fd00::10 and fd00:0::10 are one.
        return X509_check_ip_asc(cert.get(), name.c_str(), 0) == 1;
    }
    return X509_check_host(cert.get(), name.c_str(), name.size(), 0, nullptr) == 1;
}

}  // namespace kyplatform
