// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the HTTP client tests: environment scoping, an EvDebug line recorder and a
// scriptable in-memory transport installed through the platform's transport seam.
#pragma once

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "EvDebug.h"
#include "EvDebugSink.h"
#include "HttpTransport.h"

namespace transporttest {

// Sets (or, with a null value, unsets) an environment variable and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Clears every variable that changes how the client connects, for the length of a test.
class CleanHttpEnvironment {
public:
    CleanHttpEnvironment() {
        for (const char* name :
             {"KYSNAP_TLS_CA_FILE", "KYSNAP_TLS_PINS_FILE", "KYSNAP_TLS_INSECURE",
              "KYSNAP_HTTP_CONNECT_TIMEOUT", "KYSNAP_HTTP_TIMEOUT", "http_proxy", "https_proxy",
              "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            vars_.push_back(std::make_unique<ScopedEnv>(name, nullptr));
        }
    }

private:
    std::vector<std::unique_ptr<ScopedEnv>> vars_;
};

// Records EvDebug lines while installed.
class EvDebugRecorder : public kyplatform::EvDebugSink {
public:
    EvDebugRecorder() : previous_(kyplatform::setEvDebugSink(this)) {}
    ~EvDebugRecorder() override { kyplatform::setEvDebugSink(previous_); }

    void write(int level, const std::string& header, const std::string& message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::to_string(level) + " " + header + " " + message);
    }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    int count(const std::string& fragment) const {
        int found = 0;
        for (const std::string& line : lines()) {
            found += line.find(fragment) != std::string::npos ? 1 : 0;
        }
        return found;
    }
    std::string text() const {
        std::string all;
        for (const std::string& line : lines()) {
            all += line + "\n";
        }
        return all;
    }

private:
    kyplatform::EvDebugSink* previous_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// What the fake transports saw, in call order.
struct TransportLog {
    std::vector<kyplatform::HttpTransportSettings> created;
    std::vector<std::string> calls;  // "header <line>", "credentials <user> <password>"
    std::vector<kyplatform::HttpRequest> requests;
    std::vector<std::optional<std::string>> bodies;  // body bytes, nullopt for a null pointer
};

// A transport factory for the seam: records everything and answers from its fields.
class FakeTransportFactory : public kyplatform::HttpTransportFactory {
public:
    TransportLog log;
    bool failCreate = false;
    bool refuseCredentials = false;
    bool exchangeSucceeds = true;
    kyplatform::HttpResponse answer{200, "[]", "", "", ""};

    FakeTransportFactory() : previous_(kyplatform::setHttpTransportFactory(this)) {}
    ~FakeTransportFactory() override { kyplatform::setHttpTransportFactory(previous_); }

    std::unique_ptr<kyplatform::HttpTransport> create(
        const kyplatform::HttpTransportSettings& settings, std::string& error) override {
        log.created.push_back(settings);
        if (failCreate) {
            error = "refused by the test";
            return nullptr;
        }
        return std::make_unique<Transport>(*this);
    }

private:
    class Transport : public kyplatform::HttpTransport {
    public:
        explicit Transport(FakeTransportFactory& owner) : owner_(owner) {}
        bool addHeader(const std::string& line) override {
            owner_.log.calls.push_back("header " + line);
            return true;
        }
        bool setCredentials(const std::string& user, const std::string& password) override {
            owner_.log.calls.push_back("credentials " + user + " " + password);
            return !owner_.refuseCredentials;
        }
        bool perform(const kyplatform::HttpRequest& request,
                     kyplatform::HttpResponse& response) override {
            owner_.log.requests.push_back(request);
            owner_.log.bodies.push_back(
                request.body == nullptr
                    ? std::nullopt
                    : std::optional<std::string>(std::string(request.body, request.bodyLength)));
            response = owner_.answer;
            return owner_.exchangeSucceeds;
        }

    private:
        FakeTransportFactory& owner_;
    };

    kyplatform::HttpTransportFactory* previous_;
};

}  // namespace transporttest
