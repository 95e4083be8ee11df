// SPDX-License-Identifier: Apache-2.0
#include "SimulatedHost.h"

#include <httplib.h>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "PathGuard.h"
#include "StrictJson.h"
#include "TlsPins.h"

namespace simhost {

namespace {

constexpr int kConnectSeconds = 5;

// Accepts the server's certificate when its public key has one of the pins the SSL_CTX carries
// (see pinnedContext); chain and names are not looked at, as for a pinned array.
int verifyByPin(X509_STORE_CTX* store, void* pins) {
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    unsigned char* der = nullptr;
    const int length = leaf == nullptr ? -1 : i2d_X509(leaf, &der);
    kyplatform::CertificateFacts facts;
    const bool read =
        length > 0 && kyplatform::certificateFacts(der, static_cast<size_t>(length), facts);
    OPENSSL_free(der);
    const auto& accepted = *static_cast<const std::vector<std::string>*>(pins);
    if (read && std::find(accepted.begin(), accepted.end(), facts.pin) != accepted.end()) {
        return 1;
    }
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
    return 0;
}

// Sets `client` to accept the server's certificate by `pins` alone; the handshake fails on a
// key without a pin, before any request is sent.
void pinnedContext(httplib::SSLClient& client, const std::vector<std::string>& pins) {
    client.enable_server_certificate_verification(false);
    SSL_CTX* context = client.ssl_context();
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(context, verifyByPin,
                                     const_cast<std::vector<std::string>*>(&pins));
}

// Why a TCP connection to `host`:`port` fails, as the system says it ("Connection refused").
std::string connectCause(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        return std::string("its name cannot be resolved (") + gai_strerror(resolved) + ")";
    }
    std::string cause = "it has no address";
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const int fd =
            socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0) {
            cause = std::strerror(errno);
            continue;
        }
        const timeval limit{kConnectSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        const bool connected = connect(fd, address->ai_addr, address->ai_addrlen) == 0;
        cause = connected ? "it accepts connections now, but did not a moment ago"
                : errno == EINPROGRESS || errno == EAGAIN
                    ? "no connection within " + std::to_string(kConnectSeconds) + " s"
                    : std::strerror(errno);
        close(fd);
        if (connected) {
            break;
        }
    }
    freeaddrinfo(found);
    return cause;
}

// The cause of a failed request in words, not as the HTTP library's enumerator.
std::string failureCause(httplib::Error error, const std::string& host, int port) {
    switch (error) {
        case httplib::Error::Connection:
            return connectCause(host, port);
        case httplib::Error::ConnectionTimeout:
            return "no connection within " + std::to_string(kConnectSeconds) + " s";
        case httplib::Error::Read:
            return "the connection broke before the answer was complete";
        case httplib::Error::Write:
            return "the connection broke while the question was sent";
        case httplib::Error::SSLConnection:
            return "the TLS handshake failed";
        default:
            return httplib::to_string(error);
    }
}

}  // namespace

SimulatedHost::SimulatedHost(std::vector<ArrayEndpoint> arrays, std::vector<std::string> initiators)
    : arrays_(std::move(arrays)), initiators_(std::move(initiators)) {}

bool SimulatedHost::rescan(std::string& error) {
    const std::string body = nlohmann::json{{"initiators", initiators_}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);

    std::map<std::string, SimulatedDevice> found;
    std::map<std::string, HostLun> seen;
    for (const ArrayEndpoint& array : arrays_) {
        // The HTTP library opens the CA file blocking, which a FIFO would hold for good.
        const std::string caFile = "the CA file " + array.caFile;
        if (!kyplatform::isRegularOrMissing(array.caFile, caFile, error)) {
            return false;
        }
        httplib::SSLClient client(array.address, array.port);
        if (!array.pins.empty()) {
            pinnedContext(client, array.pins);
        } else {
            client.set_ca_cert_path(array.caFile.c_str());
        }
        client.set_basic_auth(array.user, array.password);
        client.set_connection_timeout(5);
        client.set_read_timeout(10);
        auto answer = client.Post("/control/hostview", body, "application/json");
        const std::string where = array.address + ":" + std::to_string(array.port);
        if (!answer && !array.pins.empty() && answer.error() == httplib::Error::SSLConnection) {
            error = "the array simulator at " + where +
                    " presented a key none of its pins names; pin its key again with kysnap "
                    "trust if it was renewed";
            return false;
        }
        if (!answer) {
            // A refused certificate is a set-up matter with its own remedy, not an outage.
            error = answer.error() == httplib::Error::SSLServerVerification
                        ? "the certificate of the array simulator at " + where +
                              " was refused (it does not verify against " + array.caFile +
                              "); set KYSNAP_TLS_CA_FILE or ca-file to the simulator's CA file"
                    : answer.error() == httplib::Error::SSLLoadingCerts
                        ? caFile + " cannot be read as PEM certificates; set KYSNAP_TLS_CA_FILE " +
                              "or ca-file to the simulator's CA file"
                        : "array simulator at " + where + " cannot be reached: " +
                              failureCause(answer.error(), array.address, array.port);
            return false;
        }
        nlohmann::json view;
        std::string why;
        if (answer->status != 200) {
            error = "array simulator at " + where + " answered the host view with HTTP " +
                    std::to_string(answer->status);
            return false;
        }
        if (!strictjson::parseObject(answer->body, view, why) || !view.contains("luns") ||
            !view["luns"].is_array()) {
            error = "array simulator at " + where + " answered a host view that cannot be read: " +
                    (why.empty() ? "it has no list \"luns\"" : why);
            return false;
        }
        for (const nlohmann::json& lun : view["luns"]) {
            const auto text = [&lun](const char* key) {
                return strictjson::textOr(lun, key, std::string());
            };
            if (!lun.is_object() || !lun.contains("luId") || !lun["luId"].is_string() ||
                !lun.contains("standardInquiry") || !lun["standardInquiry"].is_string() ||
                !lun.contains("page83") || !lun["page83"].is_string()) {
                continue;
            }
            SimulatedDevice device;
            if (!hexBytes(text("standardInquiry"), device.standard) ||
                !hexBytes(text("page83"), device.page83)) {
                continue;
            }
            const std::string name = deviceName(text("luId"));
            if (found.emplace(name, std::move(device)).second) {
                HostLun entry;
                entry.device = name;
                entry.lunId = text("luId");
                entry.targetId = text("targetId");
                entry.standardInquiryHex = text("standardInquiry");
                seen.emplace(name, entry);
            }
        }
    }
    names_.clear();
    luns_.clear();
    for (const auto& entry : seen) {
        names_.push_back(entry.first);
        luns_.push_back(entry.second);
    }
    devices_.setDevices(std::move(found));
    return true;
}

}  // namespace simhost
