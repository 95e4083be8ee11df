// SPDX-License-Identifier: Apache-2.0
#include "SimulatedHost.h"

#include <curl/curl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "PathGuard.h"
#include "StrictJson.h"

namespace simhost {

namespace {

constexpr long kConnectSeconds = 5;
constexpr long kAnswerSeconds = 15;
constexpr size_t kMaxAnswer = 64u << 20;  // a host view is a few KiB; more is a broken server

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

// The cause of a failed exchange in words, not as the HTTP library's code.
std::string failureCause(CURLcode code, CURL* curl, const std::string& host, int port) {
    double connected = 0;
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            return connectCause(host, port);
        case CURLE_OPERATION_TIMEDOUT:
            curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME, &connected);
            return connected > 0
                       ? "no complete answer within " + std::to_string(kAnswerSeconds) + " s"
                       : "no connection within " + std::to_string(kConnectSeconds) + " s";
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
            return "the connection broke before the answer was complete";
        case CURLE_SEND_ERROR:
            return "the connection broke while the question was sent";
        case CURLE_SSL_CONNECT_ERROR:
            return "the TLS handshake failed";
        case CURLE_WRITE_ERROR:
            return "its answer exceeded " + std::to_string(kMaxAnswer >> 20) + " MiB";
        default:
            return curl_easy_strerror(code);
    }
}

size_t keepAnswer(char* data, size_t size, size_t count, void* answer) {
    std::string& text = *static_cast<std::string*>(answer);
    if (text.size() + size * count > kMaxAnswer) {
        return 0;  // ends the transfer with CURLE_WRITE_ERROR
    }
    text.append(data, size * count);
    return size * count;
}

struct CurlFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// POSTs `body` to the simulator's host-view route. True with the HTTP `status` and `answer`
// when an answer came; false with `error` saying why none did, with the remedy where the
// cause is a set-up matter (a refused certificate, an unreadable CA file, a renewed key).
bool askHostView(const ArrayEndpoint& array, const std::string& body, long& status,
                 std::string& answer, std::string& error) {
    const std::string where = array.address + ":" + std::to_string(array.port);
    const bool literalV6 = array.address.find(':') != std::string::npos;
    const std::string url = "https://" + (literalV6 ? "[" + array.address + "]" : array.address) +
                            ":" + std::to_string(array.port) + "/control/hostview";
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    std::unique_ptr<curl_slist, CurlFree> headers(
        curl_slist_append(nullptr, "Content-Type: application/json"));
    if (!curl || !headers) {
        error = "array simulator at " + where + " cannot be asked: out of memory";
        return false;
    }
    CURL* c = curl.get();
    std::string pins;
    for (const std::string& pin : array.pins) {
        pins += (pins.empty() ? "" : ";") + pin;
    }
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(c, CURLOPT_USERNAME, array.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, array.password.c_str());
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, kAnswerSeconds);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, keepAnswer);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
    if (!pins.empty()) {
        // The pins alone decide, as for the plug-in: chain and names are not looked at, and
        // the handshake fails on a key without a pin before anything is sent.
        curl_easy_setopt(c, CURLOPT_PINNEDPUBLICKEY, pins.c_str());
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    } else if (!array.caFile.empty()) {
        curl_easy_setopt(c, CURLOPT_CAINFO, array.caFile.c_str());
    }
    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK) {
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        return true;
    }
    switch (code) {
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            error = "the array simulator at " + where +
                    " presented a key none of its pins names; pin its key again with kysnap "
                    "trust if it was renewed";
            break;
        case CURLE_PEER_FAILED_VERIFICATION:
            // A refused certificate is a set-up matter with its own remedy, not an outage.
            error = "the certificate of the array simulator at " + where +
                    " was refused (it does not verify against " +
                    (array.caFile.empty() ? std::string("the system's CA store") : array.caFile) +
                    "); set KYSNAP_TLS_CA_FILE or ca-file to the simulator's CA file";
            break;
        case CURLE_SSL_CACERT_BADFILE:
            error = "the CA file " + array.caFile +
                    " cannot be read as PEM certificates; set KYSNAP_TLS_CA_FILE or ca-file to "
                    "the simulator's CA file";
            break;
        default:
            error = "array simulator at " + where +
                    " cannot be reached: " + failureCause(code, c, array.address, array.port);
    }
    return false;
}

}  // namespace

bool usableDataPath(const std::string& path) {
    if (path.size() < 2 || path.front() != '/' || path.back() == '/') {
        return false;
    }
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return false;
        }
    }
    for (size_t at = 1; at <= path.size();) {
        const size_t slash = std::min(path.find('/', at), path.size());
        const std::string step = path.substr(at, slash - at);
        if (step.empty() || step == "." || step == "..") {
            return false;
        }
        at = slash + 1;
    }
    return true;
}

SimulatedHost::SimulatedHost(std::vector<ArrayEndpoint> arrays, std::vector<std::string> initiators)
    : arrays_(std::move(arrays)), initiators_(std::move(initiators)) {}

bool SimulatedHost::rescan(std::string& error) {
    const std::string body = nlohmann::json{{"initiators", initiators_}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);

    std::map<std::string, SimulatedDevice> found;
    std::map<std::string, HostLun> seen;
    std::vector<HostShare> shares;
    for (const ArrayEndpoint& array : arrays_) {
        // The TLS library opens the CA file blocking, which a FIFO would hold for good.
        if (!kyplatform::isRegularOrMissing(array.caFile, "the CA file " + array.caFile, error)) {
            return false;
        }
        long status = 0;
        std::string answer;
        if (!askHostView(array, body, status, answer, error)) {
            return false;
        }
        const std::string where = array.address + ":" + std::to_string(array.port);
        nlohmann::json view;
        std::string why;
        if (status != 200) {
            error = "array simulator at " + where + " answered the host view with HTTP " +
                    std::to_string(status);
            return false;
        }
        if (!strictjson::parseObject(answer, view, why) || !view.contains("luns") ||
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
                const std::string dataPath = text("dataPath");
                entry.dataPath = usableDataPath(dataPath) ? dataPath : std::string();
                seen.emplace(name, entry);
            }
        }
        const auto listed = view.find("shares");
        if (listed != view.end() && listed->is_array()) {
            for (const nlohmann::json& share : *listed) {
                if (!share.is_object()) {
                    continue;
                }
                HostShare entry;
                entry.server = array.address;
                entry.mountPoint = strictjson::textOr(share, "mountPoint", std::string());
                entry.dataPath = strictjson::textOr(share, "dataPath", std::string());
                if (!entry.mountPoint.empty() && usableDataPath(entry.dataPath)) {
                    shares.push_back(entry);
                }
            }
        }
    }
    names_.clear();
    luns_.clear();
    shares_ = std::move(shares);
    for (const auto& entry : seen) {
        names_.push_back(entry.first);
        luns_.push_back(entry.second);
    }
    devices_.setDevices(std::move(found));
    return true;
}

}  // namespace simhost
