// SPDX-License-Identifier: Apache-2.0
#include "ScriptedHttpsServer.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "TlsCertificate.h"

namespace test {
namespace {

// Names the server library adds to a request's headers itself; they are not the client's.
const std::set<std::string> kServerAddedHeaders = {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR",
                                                   "LOCAL_PORT"};

bool decodeBase64(const std::string& text, std::string& out) {
    out.clear();
    uint32_t buffer = 0;
    int bits = 0;
    size_t padding = 0;
    for (const char c : text) {
        int value = -1;
        if (c >= 'A' && c <= 'Z') {
            value = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            value = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            value = c - '0' + 52;
        } else if (c == '+') {
            value = 62;
        } else if (c == '/') {
            value = 63;
        } else if (c == '=') {
            ++padding;
            continue;
        }
        if (value < 0 || padding > 0) {
            return false;
        }
        buffer = (buffer << 6) | uint32_t(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(char((buffer >> bits) & 0xff));
        }
    }
    return padding <= 2;
}

void decodeBasicAuth(RecordedRequest& recorded) {
    const std::string value = recorded.header("Authorization");
    const std::string scheme = "Basic ";
    std::string decoded;
    if (value.size() <= scheme.size() || strncasecmp(value.c_str(), scheme.c_str(), 6) != 0 ||
        !decodeBase64(value.substr(scheme.size()), decoded)) {
        return;
    }
    const size_t colon = decoded.find(':');
    if (colon == std::string::npos) {
        return;
    }
    recorded.hasBasicAuth = true;
    recorded.user = decoded.substr(0, colon);
    recorded.password = decoded.substr(colon + 1);
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            return value;
        }
    }
    return {};
}

bool RecordedRequest::hasHeader(const std::string& name) const {
    for (const auto& entry : headers) {
        if (strcasecmp(entry.first.c_str(), name.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

struct ScriptedHttpsServer::Impl {
    ServerOptions options;
    bool ok = false;
    std::string error;
    std::string directory;
    tlscert::CertificateFiles files;
    int port = 0;
    int exIndex = -1;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread listener;

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::map<std::string, std::deque<Reply>> queued;
    std::map<std::string, Reply> standing;
    Reply fallback{404, ""};
    std::vector<RecordedRequest> recorded;
    int connections = 0;
    std::map<int, int> openSockets;  // connection number -> socket

    void start();
    void stop();
    bool setUpContext(SSL_CTX& context);
    void handle(const httplib::Request& request, httplib::Response& response);
    Reply nextReply(const std::string& path);

    // OpenSSL calls these on the server's worker threads.
    static void onInfo(const SSL* ssl, int where, int ret);
    static void onSslFreed(void* parent, void* data, CRYPTO_EX_DATA* ad, int index, long argl,
                           void* argp);
};

void ScriptedHttpsServer::Impl::start() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/kyresponder.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "cannot create a temporary directory";
        return;
    }
    directory = pattern;
    if (!tlscert::ensureServerCertificate(directory, options.certificateHosts, files, error)) {
        return;
    }
    exIndex = SSL_get_ex_new_index(0, this, nullptr, nullptr, &Impl::onSslFreed);
    if (exIndex < 0) {
        error = "no OpenSSL ex-data index";
        return;
    }
    server = std::make_unique<httplib::SSLServer>(
        [this](SSL_CTX& context) { return setUpContext(context); });
    if (!server->is_valid()) {
        error = "the TLS context could not be set up";
        return;
    }
    auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        handle(request, response);
    };
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Put(".*", handler);
    server->Delete(".*", handler);
    server->set_keep_alive_max_count(1000000);
    // Answers go out in several writes; Nagle would hold each back for a delayed ACK.
    server->set_tcp_nodelay(true);
    server->set_keep_alive_timeout(options.keepAliveTimeout.count());
    port = server->bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        error = "cannot listen on 127.0.0.1";
        return;
    }
    listener = std::thread([this] {
        // The worker threads inherit this mask: a write to a connection the client has closed
        // then fails with EPIPE instead of killing the test process.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        server->listen_after_bind();
    });
    // stop() only works on a running server.
    for (int i = 0; i < 5000 && !server->is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ok = server->is_running();
    if (!ok) {
        error = "the server did not start";
    }
}

void ScriptedHttpsServer::Impl::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        // Kept-alive connections would otherwise hold the workers until they time out.
        for (const auto& entry : openSockets) {
            ::shutdown(entry.second, SHUT_RDWR);
        }
    }
    wake.notify_all();
    if (server) {
        server->stop();
    }
    if (listener.joinable()) {
        listener.join();
    }
    server.reset();
    if (exIndex >= 0) {
        CRYPTO_free_ex_index(CRYPTO_EX_INDEX_SSL, exIndex);
    }
    if (!directory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
}

bool ScriptedHttpsServer::Impl::setUpContext(SSL_CTX& context) {
    SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
    SSL_CTX_set_app_data(&context, this);
    SSL_CTX_set_info_callback(&context, &Impl::onInfo);
    return SSL_CTX_use_certificate_chain_file(&context, files.certFile.c_str()) == 1 &&
           SSL_CTX_use_PrivateKey_file(&context, files.keyFile.c_str(), SSL_FILETYPE_PEM) == 1 &&
           SSL_CTX_check_private_key(&context) == 1;
}

void ScriptedHttpsServer::Impl::onInfo(const SSL* ssl, int where, int /*ret*/) {
    if ((where & SSL_CB_HANDSHAKE_START) == 0) {
        return;
    }
    auto* self = static_cast<Impl*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    // TLS 1.3 also starts "handshakes" for session tickets; count each connection once.
    if (self == nullptr || SSL_get_ex_data(ssl, self->exIndex) != nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(self->mutex);
    const int number = ++self->connections;
    self->openSockets[number] = SSL_get_fd(ssl);
    SSL_set_ex_data(const_cast<SSL*>(ssl), self->exIndex,
                    reinterpret_cast<void*>(static_cast<intptr_t>(number)));
}

void ScriptedHttpsServer::Impl::onSslFreed(void* /*parent*/, void* data, CRYPTO_EX_DATA* /*ad*/,
                                           int /*index*/, long /*argl*/, void* argp) {
    if (data == nullptr || argp == nullptr) {
        return;
    }
    auto* self = static_cast<Impl*>(argp);
    std::lock_guard<std::mutex> lock(self->mutex);
    // The socket is closed right after; it must not be shut down later under a reused number.
    self->openSockets.erase(static_cast<int>(reinterpret_cast<intptr_t>(data)));
}

Reply ScriptedHttpsServer::Impl::nextReply(const std::string& path) {
    auto queue = queued.find(path);
    if (queue != queued.end() && !queue->second.empty()) {
        Reply reply = queue->second.front();
        queue->second.pop_front();
        return reply;
    }
    auto standingReply = standing.find(path);
    return standingReply != standing.end() ? standingReply->second : fallback;
}

void ScriptedHttpsServer::Impl::handle(const httplib::Request& request,
                                       httplib::Response& response) {
    RecordedRequest seen;
    seen.method = request.method;
    seen.path = request.path;
    seen.body = request.body;
    for (const auto& [name, value] : request.headers) {
        if (kServerAddedHeaders.count(name) == 0) {
            seen.headers.emplace(name, value);
        }
    }
    decodeBasicAuth(seen);
    seen.remoteAddress = request.remote_addr;
    seen.remotePort = request.remote_port;
    if (request.ssl != nullptr && exIndex >= 0) {
        seen.connection =
            static_cast<int>(reinterpret_cast<intptr_t>(SSL_get_ex_data(request.ssl, exIndex)));
    }

    std::unique_lock<std::mutex> lock(mutex);
    recorded.push_back(seen);
    const Reply reply = nextReply(request.path);
    if (reply.delay.count() > 0) {
        wake.wait_for(lock, reply.delay, [this] { return stopping; });
    }
    lock.unlock();

    if (reply.sendRaw && request.ssl != nullptr) {
        SSL_write(const_cast<SSL*>(request.ssl), reply.rawBytes.data(),
                  static_cast<int>(reply.rawBytes.size()));
        ::shutdown(SSL_get_fd(request.ssl), SHUT_RDWR);
        response.status = 500;
        return;
    }
    if (reply.closeWithoutAnswer) {
        // The library's attempt to answer then fails and it closes the connection.
        if (request.ssl != nullptr) {
            ::shutdown(SSL_get_fd(request.ssl), SHUT_RDWR);
        }
        response.status = 500;
        return;
    }
    response.status = reply.status;
    response.set_content(reply.body, reply.contentType.c_str());
}

ScriptedHttpsServer::ScriptedHttpsServer() : ScriptedHttpsServer(ServerOptions()) {}

ScriptedHttpsServer::ScriptedHttpsServer(const ServerOptions& options) : impl_(new Impl) {
    impl_->options = options;
    impl_->start();
}

ScriptedHttpsServer::~ScriptedHttpsServer() {
    impl_->stop();
}

bool ScriptedHttpsServer::ok() const {
    return impl_->ok;
}
const std::string& ScriptedHttpsServer::error() const {
    return impl_->error;
}
int ScriptedHttpsServer::port() const {
    return impl_->port;
}
std::string ScriptedHttpsServer::host() const {
    return "127.0.0.1:" + std::to_string(impl_->port);
}
std::string ScriptedHttpsServer::baseUrl() const {
    return "https://" + host();
}
const std::string& ScriptedHttpsServer::caFile() const {
    return impl_->files.caCertFile;
}
const std::string& ScriptedHttpsServer::certFile() const {
    return impl_->files.certFile;
}

ScriptedHttpsServer& ScriptedHttpsServer::reply(const std::string& path, int status,
                                                const std::string& body) {
    return reply(path, Reply(status, body));
}

ScriptedHttpsServer& ScriptedHttpsServer::reply(const std::string& path, const Reply& reply) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->queued[path].push_back(reply);
    return *this;
}

ScriptedHttpsServer& ScriptedHttpsServer::always(const std::string& path, const Reply& reply) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->standing[path] = reply;
    return *this;
}

ScriptedHttpsServer& ScriptedHttpsServer::setDefault(const Reply& reply) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->fallback = reply;
    return *this;
}

size_t ScriptedHttpsServer::pendingReplies(const std::string& path) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto queue = impl_->queued.find(path);
    return queue == impl_->queued.end() ? 0 : queue->second.size();
}

std::vector<RecordedRequest> ScriptedHttpsServer::requests() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->recorded;
}

std::vector<RecordedRequest> ScriptedHttpsServer::requestsTo(const std::string& path) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<RecordedRequest> matching;
    for (const RecordedRequest& request : impl_->recorded) {
        if (request.path == path) {
            matching.push_back(request);
        }
    }
    return matching;
}

size_t ScriptedHttpsServer::requestCount() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->recorded.size();
}

int ScriptedHttpsServer::connectionsAccepted() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->connections;
}

void ScriptedHttpsServer::clearRequests() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->recorded.clear();
}

}  // namespace test
