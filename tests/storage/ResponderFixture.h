// SPDX-License-Identifier: Apache-2.0
// The scripted array every storage-layer test talks to: a responder on loopback whose CA the
// HTTP client trusts, a host request as the log, and a sleeper that records waits.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "PlatformFakes.h"
#include "ScriptedHttpsServer.h"
#include "TestSnapInfo.h"

class ResponderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok()) << server.error();
        setenv("KYSNAP_TLS_CA_FILE", server.caFile().c_str(), 1);
    }
    void TearDown() override { unsetenv("KYSNAP_TLS_CA_FILE"); }

    static std::string path(const std::string& method) { return "/zebi/api/v2/" + method; }
    // Queues one answer to the next call of `method`.
    void reply(const std::string& method, int status, const std::string& body) {
        server.reply(path(method), status, body);
    }
    // The answer to every call of `method` once its queue is empty.
    void always(const std::string& method, int status, const std::string& body) {
        server.always(path(method), test::Reply(status, body));
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
};
