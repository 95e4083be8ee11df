#include "ArraySimulator.h"

#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "ApiEndpoint.h"
#include "ConnectionTracker.h"
#include "ControlEndpoint.h"
#include "SeedLoader.h"
#include "SimulatorState.h"
#include "TlsCertificate.h"

namespace arraysim {

struct ArraySimulator::Impl {
    explicit Impl(SimulatorOptions o) : options(std::move(o)), tracker(state.counters) {}

    bool loadState(std::string& error);
    bool prepareCertificates(std::string& error);
    void installRoutes();

    SimulatorOptions options;
    SimulatorState state;
    ConnectionTracker tracker;  // outlives the server below
    std::unique_ptr<httplib::SSLServer> server;
    std::thread listener;
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
    jsonxx::Array faults;
    std::string seedError;
    if (!loadSeed(text, state.model, faults, seedError)) {
        error = "seed: " + seedError;
        return false;
    }
    if (!faults.empty() && !state.faults.addJson(jsonxx::Value(faults), seedError)) {
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
    std::string directory = options.certDirectory;
    if (directory.empty()) {
        std::error_code ignored;
        directory = (std::filesystem::temp_directory_path(ignored) /
                     ("arraysim-tls-" + std::to_string(getuid())))
                        .string();
    }
    std::vector<std::string> names = {options.address};
    if (options.address != "localhost") {
        names.push_back("localhost");
    }
    tlscert::CertificateFiles files;
    std::string certError;
    if (!tlscert::ensureServerCertificate(directory, names, files, certError)) {
        error = "certificates: " + certError;
        return false;
    }
    caFile = files.caCertFile;
    certFile = files.certFile;
    keyFile = files.keyFile;
    return true;
}

void ArraySimulator::Impl::installRoutes() {
    server->Post("/zebi/api/v2/(.+)", [this](const httplib::Request& req, httplib::Response& res) {
        ApiOutcome outcome = handleApiRequest(state, req.matches[1].str(), req.body,
                                              req.get_header_value("Authorization"));
        if (outcome.dropConnection) {
            dropConnection(req.ssl);
        }
        if (outcome.challenge) {
            res.set_header("WWW-Authenticate", "Basic realm=\"IntelliFlash\"");
        }
        res.status = outcome.reply.status;
        res.set_content(outcome.reply.body, outcome.reply.contentType.c_str());
    });
    auto control = [this](const httplib::Request& req, httplib::Response& res) {
        Reply reply = handleControlRequest(state, req.method, req.matches[1].str(), req.body);
        res.status = reply.status;
        res.set_content(reply.body, reply.contentType.c_str());
    };
    server->Get("/control/(.+)", control);
    server->Post("/control/(.+)", control);
    // Anything else (another path, or GET on the API) gets a JSON error too.
    server->set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            ApiError error;
            error.status = res.status;
            if (res.status == 404) {
                error.code = "EZEBI_NOT_FOUND";
                error.message = "No route for " + req.method + " " + req.path;
            } else {
                error.code = "EZEBI_INVALID_REQUEST";
                error.message = "HTTP request refused (" + std::to_string(res.status) +
                                "): " + req.method + " " + req.path +
                                "; a POST needs a Content-Length or a chunked body";
            }
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
    d.server = std::make_unique<httplib::SSLServer>(d.certFile.c_str(), d.keyFile.c_str());
    if (!d.server->is_valid()) {
        error = "cannot use the certificate " + d.certFile + " with the key " + d.keyFile;
        d.server.reset();
        return false;
    }
    d.tracker.install(d.server->ssl_context());
    const size_t threads = static_cast<size_t>(std::max(1, d.options.threads));
    d.server->new_task_queue = [&d, threads] { return d.tracker.newTaskQueue(threads); };
    // Answers go out at once, as from an array; without this each call waits out Nagle's
    // algorithm against the client's delayed acknowledgement.
    d.server->set_tcp_nodelay(true);
    d.server->set_keep_alive_timeout(std::max(1, d.options.keepAliveSeconds));
    d.server->set_keep_alive_max_count(
        static_cast<size_t>(std::max(1, d.options.keepAliveMaxRequests)));
    d.installRoutes();

    if (d.options.port == 0) {
        d.port = d.server->bind_to_any_port(d.options.address);
    } else {
        d.port = d.server->bind_to_port(d.options.address, d.options.port) ? d.options.port : -1;
    }
    if (d.port <= 0) {
        error = "cannot listen on " + d.options.address + ":" + std::to_string(d.options.port);
        d.server.reset();
        return false;
    }
    d.listener = std::thread([&d] { d.server->listen_after_bind(); });
    d.started = true;
    for (int waited = 0; !d.server->is_running(); ++waited) {
        if (waited == 5000) {
            stop();
            error = "the server did not start listening";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ArraySimulator::stop() {
    Impl& d = *impl_;
    if (!d.started) {
        return;
    }
    d.started = false;
    d.server->stop();
    d.tracker.shutdownAll();
    if (d.listener.joinable()) {
        d.listener.join();
    }
    d.server.reset();
}

int ArraySimulator::port() const {
    return impl_->port;
}

const std::string& ArraySimulator::caFile() const {
    return impl_->caFile;
}

std::string ArraySimulator::url() const {
    return "https://" + impl_->options.address + ":" + std::to_string(impl_->port);
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
