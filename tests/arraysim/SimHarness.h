// SimHarness: an array simulator running in-process on a free loopback port, and an HTTPS
// client that calls it the way the plug-in does (POST, basic credentials, one kept-alive
// connection, the simulator's CA trusted).
#pragma once

#include <httplib.h>

#include <memory>
#include <string>

#include "ArraySimulator.h"
#include "jsonxx.h"

namespace arraysim_test {

struct CallResult {
    int status = 0;  // 0: no HTTP answer at all
    std::string body;
    std::string authenticateHeader;
};

std::string sampleSeedText();
// Where the tests keep their generated certificates (shared by all test processes).
std::string certDirectory();

class SimHarness {
public:
    explicit SimHarness(const std::string& seedText = sampleSeedText(),
                        const std::string& apiVersion = "");
    ~SimHarness();

    bool started() const { return started_; }
    const std::string& startError() const { return startError_; }
    arraysim::ArraySimulator& simulator() { return *simulator_; }

    CallResult call(const std::string& method, const std::string& body);
    CallResult callAs(const std::string& user, const std::string& password,
                      const std::string& method, const std::string& body);
    CallResult control(const std::string& httpMethod, const std::string& route,
                       const std::string& body = "");
    // A new client with its own connection.
    std::unique_ptr<httplib::SSLClient> newClient() const;

private:
    std::unique_ptr<arraysim::ArraySimulator> simulator_;
    std::unique_ptr<httplib::SSLClient> client_;
    bool started_ = false;
    std::string startError_;
};

// Parse helpers: a test fails (ADD_FAILURE) when the text is not the expected container.
jsonxx::Array asArray(const std::string& text);
jsonxx::Object asObject(const std::string& text);
// The names in a JSON array of strings.
std::vector<std::string> asNames(const std::string& text);
bool contains(const std::string& text, const std::string& part);

}  // namespace arraysim_test
