// SPDX-License-Identifier: Apache-2.0
#include "SimHarness.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace arraysim_test {

std::string sampleSeedText() {
    std::ifstream in(ARRAYSIM_SAMPLE_SEED);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string certDirectory() {
    return ARRAYSIM_TEST_CERT_DIR;
}

SimHarness::SimHarness(const std::string& seedText, const std::string& apiVersion) {
    arraysim::SimulatorOptions options;
    options.seedText = seedText;
    options.apiVersion = apiVersion;
    options.certDirectory = certDirectory();
    simulator_ = std::make_unique<arraysim::ArraySimulator>(options);
    started_ = simulator_->start(startError_);
    if (started_) {
        client_ = newClient();
    }
}

SimHarness::~SimHarness() {
    client_.reset();
    simulator_->stop();
}

std::unique_ptr<httplib::SSLClient> SimHarness::newClient() const {
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", simulator_->port());
    client->set_ca_cert_path(simulator_->caFile().c_str());
    client->enable_server_certificate_verification(true);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    client->set_read_timeout(10, 0);
    return client;
}

namespace {

CallResult toResult(const httplib::Result& result) {
    CallResult out;
    if (result) {
        out.status = result->status;
        out.body = result->body;
        out.authenticateHeader = result->get_header_value("WWW-Authenticate");
    }
    return out;
}

}  // namespace

CallResult SimHarness::call(const std::string& method, const std::string& body) {
    return callAs("admin", "tegile", method, body);
}

CallResult SimHarness::get(const std::string& method) {
    httplib::Headers headers = {httplib::make_basic_authentication_header("admin", "tegile")};
    return toResult(client_->Get(("/zebi/api/v2/" + method).c_str(), headers));
}

CallResult SimHarness::callAs(const std::string& user, const std::string& password,
                              const std::string& method, const std::string& body) {
    httplib::Headers headers;
    if (!user.empty()) {
        headers.emplace(httplib::make_basic_authentication_header(user, password));
    }
    return toResult(
        client_->Post(("/zebi/api/v2/" + method).c_str(), headers, body, "application/json"));
}

CallResult SimHarness::control(const std::string& httpMethod, const std::string& route,
                               const std::string& body) {
    const std::string path = "/control/" + route;
    if (httpMethod == "GET") {
        return toResult(client_->Get(path.c_str()));
    }
    return toResult(client_->Post(path.c_str(), body, "application/json"));
}

TlsConnection::TlsConnection(int port, const std::string& caFile, int timeoutMs) {
    fd_ = plainConnection(port);
    if (fd_ < 0) {
        return;
    }
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    context_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(context_, caFile.c_str(), nullptr);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    ssl_ = SSL_new(context_);
    ready_ = SSL_set_fd(ssl_, fd_) == 1 && SSL_connect(ssl_) == 1;
}

TlsConnection::~TlsConnection() {
    SSL_free(ssl_);
    SSL_CTX_free(context_);
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool TlsConnection::send(const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        int n = SSL_write(ssl_, bytes.data() + sent,
                          static_cast<int>(std::min<size_t>(bytes.size() - sent, 65536)));
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool TlsConnection::closedBySimulator(int waitMs) {
    pollfd readable{fd_, POLLIN, 0};
    if (poll(&readable, 1, waitMs) <= 0) {
        return false;
    }
    // Readable may also mean a record that is not whole yet, or a session ticket.
    timeval wait{waitMs / 1000, (std::max(waitMs, 1) % 1000) * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char byte;
    int n = SSL_peek(ssl_, &byte, 1);
    return n <= 0 && SSL_get_error(ssl_, n) != SSL_ERROR_WANT_READ;
}

// Reads until a whole answer (headers and Content-Length bytes) is in, the peer closes, or
// the deadline passes.
RawAnswer TlsConnection::readAnswer(int timeoutMs, bool probeClose) {
    RawAnswer answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string text;
    char buffer[16384];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return answer;
        }
        timeval wait{static_cast<time_t>(left.count() / 1000000),
                     static_cast<suseconds_t>(left.count() % 1000000)};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n <= 0) {
            answer.closed = SSL_get_error(ssl_, n) != SSL_ERROR_WANT_READ;
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
        size_t end = text.find("\r\n\r\n");
        if (end == std::string::npos) {
            continue;
        }
        size_t length = 0;
        size_t at = text.find("Content-Length: ");
        if (at != std::string::npos && at < end) {
            length = std::stoul(text.substr(at + 16));
        }
        if (text.size() >= end + 4 + length) {
            // Whether the connection ends after the answer.
            answer.closed = probeClose && closedBySimulator(100);
            break;
        }
    }
    size_t end = text.find("\r\n\r\n");
    if (text.compare(0, 9, "HTTP/1.1 ") == 0 && end != std::string::npos) {
        answer.status = std::atoi(text.c_str() + 9);
        answer.headers = text.substr(0, end);
        answer.body = text.substr(end + 4);
    }
    return answer;
}

int plainConnection(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    // Also bounds connect().
    timeval wait{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

RawAnswer rawExchange(int port, const std::string& caFile, const std::string& request,
                      int timeoutMs) {
    TlsConnection connection(port, caFile, timeoutMs);
    if (!connection.ready()) {
        ADD_FAILURE() << "no TLS connection to the simulator";
        return RawAnswer();
    }
    // The simulator may answer and close before all is sent; the answer still counts.
    connection.send(request);
    return connection.readAnswer(timeoutMs);
}

std::string rawApiPost(const std::string& method, const std::string& body) {
    return "POST /zebi/api/v2/" + method + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           httplib::make_basic_authentication_header("admin", "tegile").first + ": " +
           httplib::make_basic_authentication_header("admin", "tegile").second +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

jsonxx::Array asArray(const std::string& text) {
    jsonxx::Array array;
    if (text.find_first_not_of(" \t\r\n") == std::string::npos ||
        text[text.find_first_not_of(" \t\r\n")] != '[' || !array.parse(text)) {
        ADD_FAILURE() << "not a JSON array: " << text;
    }
    return array;
}

jsonxx::Object asObject(const std::string& text) {
    jsonxx::Object object;
    if (!object.parse(text)) {
        ADD_FAILURE() << "not a JSON object: " << text;
    }
    return object;
}

std::vector<std::string> asNames(const std::string& text) {
    std::vector<std::string> names;
    const jsonxx::Array array = asArray(text);
    for (const jsonxx::Value& value : array.values()) {
        EXPECT_TRUE(value.is<std::string>()) << text;
        names.push_back(value.is<std::string>() ? value.get<std::string>() : "");
    }
    return names;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string textOf(const jsonxx::Object& object, const std::string& key) {
    return object.has<std::string>(key) ? object.get<std::string>(key) : std::string();
}

double numberOf(const jsonxx::Object& object, const std::string& key, double fallback) {
    return object.has<jsonxx::Number>(key) ? static_cast<double>(object.get<jsonxx::Number>(key))
                                           : fallback;
}

}  // namespace arraysim_test
