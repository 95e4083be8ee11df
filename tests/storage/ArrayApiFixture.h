// A CMTegileStorageAPI talking real HTTPS to a scripted responder on loopback, with a host
// request as its log and a sleeper that records the polling waits.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "CMTegileStorageAPI.h"
#include "PlatformFakes.h"
#include "ScriptedHttpsServer.h"
#include "TestSnapInfo.h"

class ArrayApiFixture : public ::testing::Test {
protected:
    static constexpr unsigned int kRetryCount = 3;
    static constexpr unsigned int kRetryInterval = 2;

    void SetUp() override {
        ASSERT_TRUE(server.ok()) << server.error();
        setenv("KYSNAP_TLS_CA_FILE", server.caFile().c_str(), 1);
        std::string host = server.host();
        std::string user = "admin";
        std::string password = "s3cret:pw";
        api = std::make_unique<CMTegileStorageAPI>(host, user, password, kRetryCount,
                                                   kRetryInterval, false);
        api->setLogger(&request);
        ASSERT_EQ(api->init(), COPY_SUCCESS) << request.logText();
    }
    void TearDown() override { unsetenv("KYSNAP_TLS_CA_FILE"); }

    static std::string path(const std::string& method) { return "/zebi/api/v2/" + method; }
    void reply(const std::string& method, int status, const std::string& body) {
        server.reply(path(method), status, body);
    }
    size_t callsTo(const std::string& method) const {
        return server.requestsTo(path(method)).size();
    }
    // The body of the `index`-th call of `method` ("" and a test failure when there is none).
    std::string bodyOf(const std::string& method, size_t index = 0) const {
        const auto calls = server.requestsTo(path(method));
        if (index >= calls.size()) {
            ADD_FAILURE() << "no call " << index << " of " << method;
            return "";
        }
        return calls[index].body;
    }
    std::string log() const { return request.logText(); }

    test::ScriptedHttpsServer server;
    testhost::TestSnapInfo request;
    testhost::RecordingSleeper sleeper;
    std::unique_ptr<CMTegileStorageAPI> api;
    CMTegileStorageAPI::Properties map;
};
