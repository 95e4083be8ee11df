// SPDX-License-Identifier: Apache-2.0
#include "ArraySimulator.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <signal.h>

#include <limits>

#include "ApiEndpoint.h"
#include "CertDirectory.h"
#include "ConnectionLoop.h"
#include "ConnectionTracker.h"
#include "ControlEndpoint.h"
#include "RequestFraming.h"
#include "SeedLoader.h"
#include "SimulatorState.h"
#include "TlsCertificate.h"

namespace arraysim {

namespace {

// The HTTP library's request handling (parsing, routing, answers) without its own accept
// loop, which holds a thread for every open connection, idle or trickling: ConnectionLoop
// receives each request whole and hands it to this.
class RequestServer : public httplib::Server {
public:
    // The library writes answers only while it has a listening socket (and stops once that
    // is closed); it has none of its own here, so it is told with a stand-in value that is
    // never used as a descriptor.
    void setServing(bool serving) {
        svr_sock_ = serving ? std::numeric_limits<socket_t>::max() : INVALID_SOCKET;
    }
    bool serve(httplib::Stream& stream, bool closeConnection, bool& connectionClosed,
               const std::function<void(httplib::Request&)>& setup) {
        return process_request(stream, closeConnection, connectionClosed, setup);
    }
};

// A server context for the certificate (with its chain) and key; null when they do not fit.
SSL_CTX* newServerContext(const std::string& certFile, const std::string& keyFile) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) {
        return nullptr;
    }
    SSL_CTX_set_options(context,
                        SSL_OP_NO_COMPRESSION | SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Idle connections keep no TLS buffers.
    SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
    if (SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

}  // namespace

struct ArraySimulator::Impl {
    explicit Impl(SimulatorOptions o) : options(std::move(o)), tracker(state.counters) {}

    bool loadState(std::string& error);
    bool prepareCertificates(std::string& error);
    void installRoutes();
    // Why a request is answered before its body is read (`error`); false when it may go on.
    // `closes`: the connection ends after that answer (a body that was not read may follow,
    // or the framing cannot be trusted).
    bool earlyRefusal(const httplib::Request& req, ApiError& error, bool& closes);
    // Answers such a request; false when the request may go on.
    bool refuseEarly(const httplib::Request& req, httplib::Response& res);
    void release();
    // Reads the body of a POST, up to the bound; false with `failure` set otherwise.
    bool readBody(const httplib::ContentReader& reader, std::string& body, ApiError& failure);

    SimulatorOptions options;
    SimulatorState state;
    ConnectionTracker tracker;  // outlives the context below
    SSL_CTX* context = nullptr;
    std::unique_ptr<RequestServer> server;
    std::unique_ptr<ConnectionLoop> connections;
    int port = 0;
    bool started = false;
    std::string caFile;
    std::string certFile;
    std::string keyFile;
};

bool ArraySimulator::Impl::loadState(std::string& error) {
    std::string text = options.seedText;
    if (text.empty()) {
        if (options.seedFile.empty()) {
            error = "no seed given";
            return false;
        }
        if (!readTextFile(options.seedFile, text, error)) {
            return false;
        }
    }
    nlohmann::json faults;
    std::string seedError;
    if (!loadSeed(text, state.model, faults, seedError)) {
        error = "seed: " + seedError;
        return false;
    }
    if (!faults.empty() && !state.faults.addJson(faults, seedError)) {
        error = "seed faults: " + seedError;
        return false;
    }
    if (!options.apiVersion.empty()) {
        state.model.system.apiVersion = options.apiVersion;
        size_t dot = options.apiVersion.find('.');
        state.model.system.apiMinorVersion =
            dot == std::string::npos ? "0" : options.apiVersion.substr(dot + 1);
    }
    state.onShutdownRequest = options.onShutdownRequest;
    if (!options.dataDirectory.empty()) {
        std::string dataError;
        state.data =
            DataStore::open(options.dataDirectory, options.dataImageCap, state.model, dataError);
        if (!state.data) {
            error = "data directory " + options.dataDirectory + ": " + dataError;
            return false;
        }
    }
    return true;
}

bool ArraySimulator::Impl::prepareCertificates(std::string& error) {
    if (!options.certFile.empty() || !options.keyFile.empty()) {
        if (options.certFile.empty() || options.keyFile.empty()) {
            error = "a given certificate needs both the certificate and the key file";
            return false;
        }
        certFile = options.certFile;
        keyFile = options.keyFile;
        caFile = options.caFile.empty() ? options.certFile : options.caFile;
        return true;
    }
    const std::string directory =
        options.certDirectory.empty() ? defaultCertDirectory() : options.certDirectory;
    std::string directoryError;
    if (!preparePrivateDirectory(directory, directoryError)) {
        error = "certificate directory: " + directoryError;
        return false;
    }
    std::vector<std::string> names = {options.address};
    if (options.address != "localhost") {
        names.push_back("localhost");
    }
    tlscert::CertificateFiles files;
    std::string certError;
    const bool made =
        options.selfSignedNames.empty()
            ? tlscert::ensureServerCertificate(directory, names, files, certError)
            : tlscert::ensureSelfSignedCertificate(directory, options.selfSignedNames,
                                                   options.expiredCertificate, files, certError);
    if (!made) {
        error = "certificates: " + certError;
        return false;
    }
    caFile = files.caCertFile;
    certFile = files.certFile;
    keyFile = files.keyFile;
    return true;
}

namespace {

const std::string kApiPrefix = "/zebi/api/v2/";
constexpr int kListenBacklog = 256;
const std::string kControlPrefix = "/control/";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The decimal Content-Length, when it is one; oversized values stay above any bound.
bool contentLength(const httplib::Request& req, unsigned long long& length) {
    const std::string text = req.get_header_value("Content-Length");
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    length = std::stoull(text);
    return true;
}

ApiError requestError(int status, const std::string& message) {
    ApiError error;
    error.status = status;
    error.code = status == 404   ? "EZEBI_RESOURCE_NOT_FOUND"
                 : status == 405 ? "EZEBI_METHOD_NOT_ALLOWED"
                                 : "EZEBI_INVALID_REQUEST";
    error.message = message;
    return error;
}

void setReply(httplib::Response& res, const Reply& reply, bool challenge) {
    if (challenge) {
        res.set_header("WWW-Authenticate", "Basic realm=\"IntelliFlash\"");
    }
    res.status = reply.status;
    res.set_content(reply.body, reply.contentType.c_str());
}

// Answers and then ends the connection: the content provider writes the whole answer and
// reports failure, which makes the server close the connection instead of reading the unread
// body as the next request.
void setReplyAndClose(httplib::Response& res, const Reply& reply, bool challenge) {
    if (challenge) {
        res.set_header("WWW-Authenticate", "Basic realm=\"IntelliFlash\"");
    }
    res.status = reply.status;
    res.set_header("Connection", "close");
    auto body = std::make_shared<std::string>(reply.body);
    res.set_content_provider(body->size(), reply.contentType.c_str(),
                             [body](size_t offset, size_t length, httplib::DataSink& sink) {
                                 sink.write(body->data() + offset, length);
                                 return false;
                             });
}

void setOutcome(const httplib::Request& req, httplib::Response& res, const ApiOutcome& outcome) {
    if (outcome.dropConnection) {
        dropConnection(req.ssl);
    }
    setReply(res, outcome.reply, outcome.challenge);
}

// The message for a refusal the HTTP layer decided on before any route ran.
std::string transportMessage(int status, size_t maxBodyBytes) {
    switch (status) {
        case 400:
            return "The request could not be read: its request line, a header or its body is "
                   "malformed, or it stalled";
        case 413:
            return "The request body is larger than " + std::to_string(maxBodyBytes) + " bytes";
        case 414:
            return "The request line is longer than 8192 bytes";
        case 415:
            return "The body's Content-Encoding is not supported; send it uncompressed";
        case 416:
            return "The Range header cannot be satisfied";
        default:
            return "HTTP request refused with status " + std::to_string(status);
    }
}

}  // namespace

bool ArraySimulator::Impl::earlyRefusal(const httplib::Request& req, ApiError& error,
                                        bool& closes) {
    const bool api = startsWith(req.path, kApiPrefix);
    const bool control = startsWith(req.path, kControlPrefix);
    const bool chunked = req.has_header("Transfer-Encoding");
    unsigned long long length = 0;
    const bool hasLength = req.has_header("Content-Length");
    const bool validLength = hasLength && contentLength(req, length);
    const bool bodyFollows = chunked || length > 0 || (hasLength && !validLength);
    const std::string framing = framingProblem(req.headers);
    closes = !framing.empty() || bodyFollows || (req.method == "POST" && !hasLength);

    const std::string encoding = toLower(req.get_header_value("Content-Encoding"));
    const std::string transfer = toLower(req.get_header_value("Transfer-Encoding"));
    if (!framing.empty()) {
        error = requestError(400, "The request could not be read: " + framing);
    } else if (req.method != "GET" && req.method != "POST") {
        error = requestError(405, req.method +
                                      " is not answered here; use POST (or GET for "
                                      "the listings without parameters)");
    } else if (!api && !control) {
        error = requestError(404, "No route for " + req.method + " " + req.path);
    } else if (api && !credentialsAccepted(state, req.get_header_value("Authorization"))) {
        error = errors::accessDenied();
    } else if (!encoding.empty() && encoding != "identity") {
        error = requestError(
            415, "Content-Encoding " + encoding + " is not supported; send the body uncompressed");
    } else if (chunked && transfer != "chunked") {
        error = requestError(501, "Transfer-Encoding " + transfer +
                                      " is not supported; send a Content-Length or a chunked body");
    } else if (req.method == "GET" && bodyFollows) {
        error = requestError(400, "A GET carries no body");
    } else if (req.method == "POST" && !hasLength && !chunked) {
        error = requestError(411, "A POST needs a Content-Length header or a chunked body");
    } else if (hasLength && !validLength) {
        error = requestError(400, "The Content-Length header is not a decimal number");
    } else if (length > options.maxBodyBytes) {
        error = requestError(413, "The request body has " + std::to_string(length) +
                                      " bytes; at most " + std::to_string(options.maxBodyBytes) +
                                      " are accepted");
    } else {
        return false;
    }
    return true;
}

bool ArraySimulator::Impl::refuseEarly(const httplib::Request& req, httplib::Response& res) {
    ApiError error;
    bool closes = false;
    if (!earlyRefusal(req, error, closes)) {
        return false;
    }
    const bool api = startsWith(req.path, kApiPrefix);
    const bool control = startsWith(req.path, kControlPrefix);
    Reply reply;
    bool challenge = false;
    if (api) {
        ApiOutcome outcome =
            refuseApiRequest(state, req.method, req.path.substr(kApiPrefix.size()), error);
        reply = outcome.reply;
        challenge = outcome.challenge;
    } else {
        if (control) {
            state.counters.controlRequest();
        }
        error.details = req.method + " " + req.path;
        reply = errorReply(error);
    }
    if (closes) {
        setReplyAndClose(res, reply, challenge);
    } else {
        setReply(res, reply, challenge);
    }
    return true;
}

bool ArraySimulator::Impl::readBody(const httplib::ContentReader& reader, std::string& body,
                                    ApiError& failure) {
    bool tooLarge = false;
    const bool read = reader([&](const char* data, size_t length) {
        if (body.size() + length > options.maxBodyBytes) {
            tooLarge = true;
            return false;
        }
        body.append(data, length);
        return true;
    });
    if (tooLarge) {
        failure = requestError(413, transportMessage(413, options.maxBodyBytes));
        return false;
    }
    if (!read) {
        failure = requestError(400, "The request body could not be read to its end");
        return false;
    }
    return true;
}

void ArraySimulator::Impl::installRoutes() {
    server->set_payload_max_length(options.maxBodyBytes);
    server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return refuseEarly(req, res) ? httplib::Server::HandlerResponse::Handled
                                     : httplib::Server::HandlerResponse::Unhandled;
    });
    // A client that waits for "100 Continue" is refused before it sends its body.
    server->set_expect_100_continue_handler(
        [this](const httplib::Request& req, httplib::Response& res) {
            return refuseEarly(req, res) ? res.status : 100;
        });

    server->Post(kApiPrefix + "(.+)", [this](const httplib::Request& req, httplib::Response& res,
                                             const httplib::ContentReader& reader) {
        const std::string method = req.matches[1].str();
        std::string body;
        ApiError failure;
        if (!readBody(reader, body, failure)) {
            setReplyAndClose(res, refuseApiRequest(state, "POST", method, failure).reply, false);
            return;
        }
        setOutcome(
            req, res,
            handleApiRequest(state, "POST", method, body, req.get_header_value("Authorization")));
    });
    server->Get(kApiPrefix + "(.+)", [this](const httplib::Request& req, httplib::Response& res) {
        setOutcome(req, res,
                   handleApiRequest(state, "GET", req.matches[1].str(), "",
                                    req.get_header_value("Authorization")));
    });

    server->Post(
        kControlPrefix + "(.+)", [this](const httplib::Request& req, httplib::Response& res,
                                        const httplib::ContentReader& reader) {
            std::string body;
            ApiError failure;
            if (!readBody(reader, body, failure)) {
                state.counters.controlRequest();
                failure.details = "POST " + req.path;
                setReplyAndClose(res, errorReply(failure), false);
                return;
            }
            setReply(res, handleControlRequest(state, "POST", req.matches[1].str(), body), false);
        });
    server->Get(
        kControlPrefix + "(.+)", [this](const httplib::Request& req, httplib::Response& res) {
            setReply(res, handleControlRequest(state, "GET", req.matches[1].str(), ""), false);
        });

    // What the HTTP layer refuses by itself (a request line too long, a malformed request)
    // gets the error model too, with a message that says what was wrong.
    const size_t maxBodyBytes = options.maxBodyBytes;
    server->set_error_handler(httplib::Server::HandlerWithResponse(
        [maxBodyBytes](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty() || res.content_length_ > 0) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            ApiError error =
                res.status == 404
                    ? requestError(404, "No route for " + req.method + " " + req.path)
                    : requestError(res.status, transportMessage(res.status, maxBodyBytes));
            error.details = req.method.empty() ? "request" : req.method + " " + req.path;
            Reply reply = errorReply(error);
            res.set_content(reply.body, reply.contentType.c_str());
            return httplib::Server::HandlerResponse::Handled;
        }));
}

ArraySimulator::ArraySimulator(SimulatorOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

ArraySimulator::~ArraySimulator() {
    stop();
}

bool ArraySimulator::start(std::string& error) {
    Impl& d = *impl_;
    if (d.started || d.server) {
        error = "already started";
        return false;
    }
    if (!d.loadState(error) || !d.prepareCertificates(error)) {
        return false;
    }
    signal(SIGPIPE, SIG_IGN);
    d.context = newServerContext(d.certFile, d.keyFile);
    if (d.context == nullptr) {
        error = "cannot use the certificate " + d.certFile + " with the key " + d.keyFile;
        return false;
    }
    d.tracker.install(d.context);
    d.server = std::make_unique<RequestServer>();
    d.server->setServing(true);
    // Advertised in the answers' Keep-Alive header; the loop below enforces them.
    d.server->set_keep_alive_timeout(std::max(1, d.options.keepAliveSeconds));
    d.server->set_keep_alive_max_count(
        static_cast<size_t>(std::max(1, d.options.keepAliveMaxRequests)));
    d.installRoutes();

    ConnectionLoop::Settings settings;
    settings.workers = static_cast<size_t>(std::max(1, d.options.threads));
    settings.requestDeadline = std::chrono::seconds(std::max(1, d.options.readTimeoutSeconds));
    settings.keepAlive = std::chrono::seconds(std::max(1, d.options.keepAliveSeconds));
    settings.maxRequestsPerConnection =
        static_cast<size_t>(std::max(1, d.options.keepAliveMaxRequests));
    settings.maxBodyBytes = d.options.maxBodyBytes;
    d.connections = std::make_unique<ConnectionLoop>(
        d.context, d.state.counters, settings,
        [&d](const httplib::Request& req) {
            ApiError unused;
            bool closes = false;
            return d.earlyRefusal(req, unused, closes);
        },
        [&d](httplib::Stream& stream, bool closeConnection, bool& connectionClosed,
             const std::function<void(httplib::Request&)>& setup) {
            return d.server->serve(stream, closeConnection, connectionClosed, setup);
        });
    d.port = d.connections->listen(d.options.address, d.options.port, kListenBacklog, error);
    if (d.port <= 0) {
        d.release();
        return false;
    }
    d.connections->start();
    d.started = true;
    return true;
}

void ArraySimulator::Impl::release() {
    connections.reset();
    server.reset();
    SSL_CTX_free(context);
    context = nullptr;
}

void ArraySimulator::stop() {
    Impl& d = *impl_;
    if (!d.started) {
        return;
    }
    d.started = false;
    d.state.stopping.stop();
    // Connections in a worker are cut first, so that none waits for a client to read.
    d.server->setServing(false);
    d.tracker.shutdownAll();
    d.connections->stop();
    d.release();
}

int ArraySimulator::port() const {
    return impl_->port;
}

const std::string& ArraySimulator::caFile() const {
    return impl_->caFile;
}

std::string ArraySimulator::url() const {
    const std::string& address = impl_->options.address;
    const bool ipv6 = address.find(':') != std::string::npos;
    return "https://" + (ipv6 ? "[" + address + "]" : address) + ":" + std::to_string(impl_->port);
}

jsonxx::Object ArraySimulator::counters() const {
    return impl_->state.counters.json();
}

FaultSet& ArraySimulator::faults() {
    return impl_->state.faults;
}

void ArraySimulator::withModel(const std::function<void(Model&)>& action) {
    std::lock_guard<std::mutex> lock(impl_->state.modelMutex);
    action(impl_->state.model);
}

}  // namespace arraysim
