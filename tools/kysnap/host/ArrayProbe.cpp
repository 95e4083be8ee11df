// SPDX-License-Identifier: Apache-2.0
#include "ArrayProbe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "KYLibCurl.h"
#include "SecretMemory.h"

namespace kysnap {

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

kyplatform::TlsProbeResult ArrayProbe::tls(kyplatform::TlsJudgement judgement) const {
    return kyplatform::probeTls(array_.address, judgement, timeoutSeconds_);
}

bool ArrayProbe::presentedCertificate(PresentedCertificate& presented, std::string& why) const {
    const kyplatform::TlsProbeResult probed = tls(kyplatform::TlsJudgement::ChainAndName);
    if (probed.chain.empty()) {
        why = probed.why.empty() ? "its certificate cannot be read" : probed.why;
        return false;
    }
    presented.der = probed.chain.front().der;
    presented.verifies = probed.verdict == kyplatform::TlsVerdict::Accepted;
    presented.why = probed.why;
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
