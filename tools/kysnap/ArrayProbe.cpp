// SPDX-License-Identifier: Apache-2.0
#include "ArrayProbe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "KYLibCurl.h"
#include "PathGuard.h"
#include "SecretMemory.h"

namespace kysnap {

namespace {

bool isAddress(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

std::string openSslError() {
    const unsigned long code = ERR_get_error();
    if (code == 0) {
        return "the connection was closed during the handshake";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

}  // namespace

ArrayProbe::ArrayProbe(const ArrayAccess& array, int timeoutSeconds)
    : array_(array), timeoutSeconds_(timeoutSeconds) {}

int ArrayProbe::connectSocket(std::string& why) const {
    std::string host = addressHost(array_.address);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string port = std::to_string(addressPort(array_.address));
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        why = "cannot resolve " + host + ": " + gai_strerror(resolved);
        return -1;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, freeaddrinfo);
    why = "no address for " + host;
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        const int fd = socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        int error = 0;
        if (connect(fd, at->ai_addr, at->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd wait{fd, POLLOUT, 0};
                const int ready = poll(&wait, 1, timeoutSeconds_ * 1000);
                socklen_t length = sizeof error;
                error = ready == 0 ? ETIMEDOUT : 0;
                if (ready > 0) {
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                }
            }
        }
        if (error == 0) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            timeval limit{timeoutSeconds_, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            return fd;
        }
        why = std::strerror(error);
        close(fd);
    }
    return -1;
}

bool ArrayProbe::reach(std::string& why) const {
    const int fd = connectSocket(why);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

bool ArrayProbe::presentedCertificate(PresentedCertificate& presented, std::string& why) const {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                              SSL_CTX_free);
    if (!context) {
        why = "TLS is not available: " + openSslError();
        return false;
    }
    const char* caFile = std::getenv("KYSNAP_TLS_CA_FILE");
    if (caFile != nullptr && *caFile != '\0') {
        // OpenSSL's blocking open would wait for good on a FIFO.
        if (!kyplatform::isRegularOrMissing(caFile, std::string("the CA file ") + caFile, why)) {
            return false;
        }
        if (SSL_CTX_load_verify_locations(context.get(), caFile, nullptr) != 1) {
            why =
                std::string("KYSNAP_TLS_CA_FILE=") + caFile + " cannot be read as PEM certificates";
            return false;
        }
    } else {
        SSL_CTX_set_default_verify_paths(context.get());
    }
    const int fd = connectSocket(why);
    if (fd < 0) {
        return false;
    }
    std::unique_ptr<SSL, decltype(&SSL_free)> tls(SSL_new(context.get()), SSL_free);
    const std::string host = addressHost(array_.address);
    X509_VERIFY_PARAM* check = SSL_get0_param(tls.get());
    if (isAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str());
    } else {
        SSL_set_tlsext_host_name(tls.get(), host.c_str());
        X509_VERIFY_PARAM_set1_host(check, host.c_str(), 0);
    }
    // Verification runs during the handshake either way; its verdict is read afterwards so
    // that the reason can be told and the certificate shown.
    SSL_set_verify(tls.get(), SSL_VERIFY_NONE, nullptr);
    SSL_set_fd(tls.get(), fd);
    const bool shook = SSL_connect(tls.get()) == 1;
    if (!shook) {
        why = "TLS handshake failed: " + openSslError();
        close(fd);
        return false;
    }
    const long verdict = SSL_get_verify_result(tls.get());
    presented.verifies = verdict == X509_V_OK;
    presented.why = presented.verifies ? "" : X509_verify_cert_error_string(verdict);
    presented.der.clear();
    if (X509* leaf = SSL_get1_peer_certificate(tls.get())) {
        unsigned char* der = nullptr;
        const int length = i2d_X509(leaf, &der);
        if (length > 0) {
            presented.der.assign(reinterpret_cast<const char*>(der), static_cast<size_t>(length));
        }
        OPENSSL_free(der);
        X509_free(leaf);
    }
    SSL_shutdown(tls.get());
    close(fd);
    if (presented.der.empty()) {
        why = "the array presented no certificate";
        return false;
    }
    return true;
}

bool ArrayProbe::clientAccepts(std::string& why) const {
    KYLibCurl client;
    if (!client.KYLibCurlInit("application/json", false, false, nullptr)) {
        why = "the HTTP client cannot be set up";
        return false;
    }
    const std::string url = "https://" + array_.address + "/zebi/api/v2/";
    // Any answer, whatever its status, means the connection was accepted.
    if (!client.KYLibCurlSendHttpReq(0, url.c_str(), nullptr, 0, false, nullptr) &&
        client.GetHttpErrorCode() == 0) {
        why = client.GetLastError();
        return false;
    }
    return true;
}

ApiAnswer ArrayProbe::call(const std::string& method, const std::string& body) const {
    ApiAnswer answer;
    KYLibCurl client;
    std::string credentials = array_.user + ":" + array_.password;
    const kyplatform::WipeAtScopeEnd wiped(credentials);
    if (!client.KYLibCurlInit("application/json", false, false, nullptr) ||
        !client.KYLibCurlAppendHeader(1, credentials.c_str())) {
        answer.failure = "the HTTP client cannot be set up";
        return answer;
    }
    // The URL the plug-in builds: the address exactly as configured.
    const std::string url = "https://" + array_.address + "/zebi/api/v2/" + method;
    answer.ok = client.KYLibCurlSendHttpReq(1, url.c_str(), body.empty() ? nullptr : body.data(),
                                            body.size(), false, nullptr);
    answer.failure = client.GetLastError();
    answer.status = client.GetHttpErrorCode();
    size_t length = 0;
    const char* text = client.GetHttpResponse(length, false);
    answer.body.assign(text, length);
    return answer;
}

}  // namespace kysnap
