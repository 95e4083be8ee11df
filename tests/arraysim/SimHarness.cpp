#include "SimHarness.h"

#include <gtest/gtest.h>

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
    options.threads = 4;
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

}  // namespace arraysim_test
