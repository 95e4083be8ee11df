// A CMStorageServerTegile over real HTTPS to a scripted responder on loopback.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "CMStorageDevice.h"
#include "CMStorageServerTegile.h"
#include "PlatformFakes.h"
#include "ScriptedHttpsServer.h"
#include "TestSnapInfo.h"

class StorageServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok()) << server.error();
        setenv("KYSNAP_TLS_CA_FILE", server.caFile().c_str(), 1);
        std::string host = server.host();
        std::string user = "admin";
        std::string password = "secret";
        storage = std::make_unique<CMStorageServerTegile>(host, user, password, 30, 60, false);
        storage->setLogger(&request);
        ASSERT_EQ(storage->init(), COPY_SUCCESS) << request.logText();
    }
    void TearDown() override { unsetenv("KYSNAP_TLS_CA_FILE"); }

    static std::string path(const std::string& method) { return "/zebi/api/v2/" + method; }
    void reply(const std::string& method, int status, const std::string& body) {
        server.reply(path(method), status, body);
    }
    void always(const std::string& method, int status, const std::string& body) {
        server.always(path(method), test::Reply(status, body));
    }
    size_t callsTo(const std::string& method) const {
        return server.requestsTo(path(method)).size();
    }
    std::string bodyOf(const std::string& method, size_t index = 0) const {
        const auto calls = server.requestsTo(path(method));
        if (index >= calls.size()) {
            ADD_FAILURE() << "no call " << index << " of " << method;
            return "";
        }
        return calls[index].body;
    }
    std::string& prop(const char* name) { return device.getProperties()[name]; }
    std::string log() const { return request.logText(); }

    test::ScriptedHttpsServer server;
    testhost::TestSnapInfo request;
    testhost::RecordingSleeper sleeper;
    std::unique_ptr<CMStorageServerTegile> storage;
    CMStorageDevice device;
};
