// SPDX-License-Identifier: Apache-2.0
// CMRESTClient: initialisation order and failures through the transport seam, and requests,
// answers and log lines over real HTTPS against the scripted responder.
#include "CMRESTClient.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>

#include "CopyStatus.h"
#include "ScriptedHttpsServer.h"
#include "TestSnapInfo.h"
#include "TransportTestSupport.h"

using transporttest::CleanHttpEnvironment;
using transporttest::FakeTransportFactory;
using transporttest::ScopedEnv;

namespace {

const char* const kSendHeader = "Tegile CMRESTClient::sendRequestInternal() -";
const char* const kInitHeader = "Tegile RestClient::init() -";

bool anyLineContains(const testhost::TestSnapInfo& log, const std::string& fragment) {
    for (const auto& line : log.logLines) {
        if (line.text.find(fragment) != std::string::npos ||
            line.header.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

const testhost::LogLine* findLine(const testhost::TestSnapInfo& log, const std::string& prefix) {
    for (const auto& line : log.logLines) {
        if (line.text.rfind(prefix, 0) == 0) {
            return &line;
        }
    }
    return nullptr;
}

class CMRESTClientSeamTest : public ::testing::Test {
protected:
    // Posts "[]" through a new, initialised client that logs to `lines`: the client's result,
    // with the answer and the HTTP status in the out-parameters.
    static int postOnce(testhost::TestSnapInfo& lines, bool diagnostic, std::string& response,
                        uint32_t& status) {
        CMRESTClient client(3, 10, diagnostic);
        client.setLogger(&lines);
        if (client.init("admin", "pw") != COPY_SUCCESS) {
            ADD_FAILURE() << "init failed: " << lines.logText();
            return -1;
        }
        return client.post("https://a/", "[]", response, status);
    }

    CleanHttpEnvironment environment;
    FakeTransportFactory fake;
    testhost::TestSnapInfo log;
};

TEST_F(CMRESTClientSeamTest, InitSetsContentTypeHeadersAndCredentialsInOrder) {
    CMRESTClient client(3, 10, false);
    client.setLogger(&log);
    ASSERT_EQ(client.init("admin", "se:cret"), COPY_SUCCESS) << log.logText();

    ASSERT_EQ(fake.log.created.size(), 1u);
    EXPECT_EQ(fake.log.created[0].contentType, "application / json");
    EXPECT_EQ(std::string(CM_CONTENT_TYPE), "application / json");
    EXPECT_TRUE(fake.log.created[0].keepAlive);
    const std::vector<std::string> expected = {"header Content-Type: application/json",
                                               "header User-Agent: KySnapNutanix",
                                               "credentials admin se:cret"};
    EXPECT_EQ(fake.log.calls, expected);
    EXPECT_TRUE(log.logLines.empty()) << log.logText();
    EXPECT_EQ(client.getRetryCount(), 3u);
    EXPECT_EQ(client.getRetryInterval(), 10u);
}

TEST_F(CMRESTClientSeamTest, FailingCredentialsHeaderFailsInitWithoutLoggingThePassword) {
    fake.refuseCredentials = true;
    CMRESTClient client(3, 10, false);
    client.setLogger(&log);
    EXPECT_EQ(client.init("admin", "TopSecret!"), COPY_FAILED);

    ASSERT_EQ(fake.log.calls.size(), 3u);
    EXPECT_EQ(fake.log.calls[0], "header Content-Type: application/json");
    EXPECT_EQ(fake.log.calls[1], "header User-Agent: KySnapNutanix");
    ASSERT_EQ(log.logLines.size(), 1u);
    EXPECT_EQ(log.logLines[0].level, 2);
    EXPECT_EQ(log.logLines[0].header, kInitHeader);
    EXPECT_EQ(log.logLines[0].text, "curl append header admin:****** failed");
    EXPECT_FALSE(anyLineContains(log, "TopSecret!"));
}

TEST_F(CMRESTClientSeamTest, LibraryInitFailureReturnsOneAndLaterRequestsFail) {
    fake.failCreate = true;
    CMRESTClient client(3, 10, false);
    client.setLogger(&log);
    EXPECT_EQ(client.init("admin", "pw"), COPY_FAILED);
    EXPECT_TRUE(log.logged("curl init failed", 2)) << log.logText();
    EXPECT_TRUE(fake.log.calls.empty());

    std::string response = "stale";
    uint32_t status = 99;
    EXPECT_EQ(client.post("https://a/zebi/api/v2/x", "[]", response, status), COPY_FAILED);
    EXPECT_TRUE(log.logged("http request failed", 2));
    EXPECT_EQ(response, "");
    EXPECT_EQ(status, 0u);
}

TEST_F(CMRESTClientSeamTest, UnsupportedTypeReturnsThreeAndSendsNothing) {
    CMRESTClient client(3, 10, false);
    client.setLogger(&log);
    ASSERT_EQ(client.init("admin", "pw"), COPY_SUCCESS);
    std::string response = "untouched";
    uint32_t status = 77;
    EXPECT_EQ(client.sendRequest(7, "https://a/zebi/api/v2/x", "[1]", response, status), 3);
    EXPECT_TRUE(fake.log.requests.empty());
    EXPECT_EQ(response, "untouched");
    EXPECT_EQ(status, 77u);
    ASSERT_EQ(log.logLines.size(), 2u);
    EXPECT_EQ(log.logLines[0].text, "type [7] url [https://a/zebi/api/v2/x] request [[1]]");
    EXPECT_EQ(log.logLines[1].text, "request type not supported 7");
    EXPECT_EQ(log.logLines[1].level, 1);
    EXPECT_EQ(log.logLines[1].header, kSendHeader);
}

TEST_F(CMRESTClientSeamTest, EachVerbPassesItsTypeAndEmptyBodyGoesAsNull) {
    CMRESTClient client(3, 10, false);
    ASSERT_EQ(client.init("admin", "pw"), COPY_SUCCESS);
    std::string response;
    uint32_t status = 0;
    EXPECT_EQ(client.get("https://a/", "", response, status), COPY_SUCCESS);
    EXPECT_EQ(client.post("https://a/", "[2]", response, status), COPY_SUCCESS);
    EXPECT_EQ(client.put("https://a/", "[3]", response, status), COPY_SUCCESS);
    EXPECT_EQ(client.del("https://a/", "", response, status), COPY_SUCCESS);
    ASSERT_EQ(fake.log.requests.size(), 4u);
    EXPECT_EQ(fake.log.requests[0].method, kyplatform::HttpMethod::Get);
    EXPECT_EQ(fake.log.requests[1].method, kyplatform::HttpMethod::Post);
    EXPECT_EQ(fake.log.requests[2].method, kyplatform::HttpMethod::Put);
    EXPECT_EQ(fake.log.requests[3].method, kyplatform::HttpMethod::Delete);
    EXPECT_EQ(fake.log.bodies[0], std::nullopt);
    EXPECT_EQ(fake.log.bodies[1], std::optional<std::string>("[2]"));
    EXPECT_EQ(fake.log.bodies[3], std::nullopt);
    EXPECT_EQ(fake.log.requests[3].bodyLength, 0u);
}

TEST_F(CMRESTClientSeamTest, LongAnswerIsReturnedWholeButLoggedShortUnlessDiagnostic) {
    const std::string answer = "[\"" + std::string(296, 'x') + "\"]";  // 300 characters
    fake.answer.body = answer;
    for (const bool diagnostic : {false, true}) {
        testhost::TestSnapInfo lines;
        std::string response;
        uint32_t status = 0;
        ASSERT_EQ(postOnce(lines, diagnostic, response, status), COPY_SUCCESS);
        EXPECT_EQ(response, answer);
        EXPECT_EQ(status, 200u);
        const testhost::LogLine* line = findLine(lines, "http response received [");
        ASSERT_NE(line, nullptr) << lines.logText();
        const std::string shown = diagnostic ? answer : answer.substr(0, 128);
        EXPECT_EQ(line->text, "http response received [" + shown + "]");
        EXPECT_EQ(line->level, 1);
    }
}

TEST_F(CMRESTClientSeamTest, EmptyAnswerIsLoggedAsEmpty) {
    fake.answer.body.clear();
    std::string response = "stale";
    uint32_t status = 0;
    EXPECT_EQ(postOnce(log, false, response, status), COPY_SUCCESS);
    EXPECT_EQ(response, "");
    EXPECT_TRUE(log.logged("empty http response received", 1));
    EXPECT_FALSE(log.logged("http response received ["));
}

TEST_F(CMRESTClientSeamTest, AnswerWithNulBytesIsKeptWholeAndLoggedVisibly) {
    fake.answer.body = std::string("[1]\0tail", 8);
    std::string response;
    uint32_t status = 0;
    EXPECT_EQ(postOnce(log, true, response, status), COPY_SUCCESS);
    EXPECT_EQ(response, std::string("[1]\0tail", 8));
    EXPECT_TRUE(log.logged("http response received [[1]\\0tail]")) << log.logText();
}

// The allocation of the answer's log line fails, once: what taking a very large answer does.
class LogThatRunsOutOfMemoryOnce : public testhost::TestSnapInfo {
public:
    void log(int32_t level, const char* header, const char* format, ...) override {
        char text[256];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        if (!failed && std::string(text).rfind("http response received [", 0) == 0) {
            failed = true;
            throw std::bad_alloc();
        }
        logLines.push_back({level, header, text});
    }
    bool failed = false;
};

TEST_F(CMRESTClientSeamTest, RunningOutOfMemoryTakingTheAnswerFailsAsOutOfMemory) {
    LogThatRunsOutOfMemoryOnce lines;
    std::string response;
    uint32_t status = 0;
    EXPECT_EQ(postOnce(lines, false, response, status), COPY_NO_MEMORY);
    EXPECT_TRUE(lines.failed);
    EXPECT_TRUE(lines.logged("out of memory taking the http response", 2)) << lines.logText();
    EXPECT_EQ(response, "");
}

// ---- over HTTPS ----

class CMRESTClientHttpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok()) << server.error();
        setenv("KYSNAP_TLS_CA_FILE", server.caFile().c_str(), 1);
        url = server.baseUrl() + "/zebi/api/v2/listVolumes";
    }
    void TearDown() override { unsetenv("KYSNAP_TLS_CA_FILE"); }

    CleanHttpEnvironment environment;
    test::ScriptedHttpsServer server;
    testhost::TestSnapInfo log;
    std::string url;
};

TEST_F(CMRESTClientHttpsTest, PostSendsHeadersCredentialsAndBodyAndReturnsTheAnswer) {
    server.reply("/zebi/api/v2/listVolumes", 200, R"([{"name":"vol1"}])");
    CMRESTClient client(3, 10, false);
    client.setLogger(&log);
    ASSERT_EQ(client.init("admin", "pa:ss"), COPY_SUCCESS);
    std::string response;
    uint32_t status = 0;
    ASSERT_EQ(client.post(url, R"(["pool","project"])", response, status), COPY_SUCCESS)
        << log.logText();
    EXPECT_EQ(response, R"([{"name":"vol1"}])");
    EXPECT_EQ(status, 200u);

    const auto requests = server.requestsTo("/zebi/api/v2/listVolumes");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, R"(["pool","project"])");
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].headers.count("Content-Type"), 1u);
    EXPECT_EQ(requests[0].header("User-Agent"), "KySnapNutanix");
    EXPECT_EQ(requests[0].user, "admin");
    EXPECT_EQ(requests[0].password, "pa:ss");

    ASSERT_EQ(log.logLines.size(), 2u) << log.logText();
    EXPECT_EQ(log.logLines[0].text, "type [1] url [" + url + "] request [[\"pool\",\"project\"]]");
    EXPECT_EQ(log.logLines[0].header, kSendHeader);
    EXPECT_EQ(log.logLines[1].text, "http response received [[{\"name\":\"vol1\"}]]");
    EXPECT_FALSE(anyLineContains(log, "pa:ss"));
}

TEST_F(CMRESTClientHttpsTest, ErrorAnswerReturnsOneWithStatusAndText) {
    server.reply("/zebi/api/v2/listVolumes", 500, "Access Denied");
    CMRESTClient client(3, 10, false);
    client.setLogger(&log);
    ASSERT_EQ(client.init("admin", "wrong"), COPY_SUCCESS);
    std::string response;
    uint32_t status = 0;
    EXPECT_EQ(client.post(url, "[]", response, status), COPY_FAILED);
    EXPECT_EQ(status, 500u);
    EXPECT_EQ(response, "Access Denied");
    EXPECT_TRUE(log.logged("http request failed", 2));
    EXPECT_TRUE(log.logged("http response received [Access Denied]", 1));
}

TEST_F(CMRESTClientHttpsTest, AllRequestsOfOneClientShareOneConnection) {
    server.always("/zebi/api/v2/listVolumes", test::Reply(200, "[]"));
    CMRESTClient client(3, 10, false);
    ASSERT_EQ(client.init("admin", "pw"), COPY_SUCCESS);
    std::string response;
    uint32_t status = 0;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(client.post(url, "[]", response, status), COPY_SUCCESS);
    }
    EXPECT_EQ(server.connectionsAccepted(), 1);
}

TEST_F(CMRESTClientHttpsTest, DeleteWithEmptyBodySendsNoBody) {
    server.reply("/zebi/api/v2/listVolumes", 200, "");
    CMRESTClient client(3, 10, false);
    client.setLogger(&log);
    ASSERT_EQ(client.init("admin", "pw"), COPY_SUCCESS);
    std::string response = "stale";
    uint32_t status = 0;
    EXPECT_EQ(client.del(url, "", response, status), COPY_SUCCESS);
    EXPECT_EQ(response, "");
    EXPECT_TRUE(log.logged("empty http response received"));
    const auto request = server.requests().at(0);
    EXPECT_EQ(request.method, "DELETE");
    EXPECT_EQ(request.body, "");
}

TEST_F(CMRESTClientHttpsTest, UnreachableArrayReturnsOneWithNoStatus) {
    server.always("/zebi/api/v2/listVolumes", test::Reply::hangUp());
    CMRESTClient client(3, 10, false);
    client.setLogger(&log);
    ASSERT_EQ(client.init("admin", "pw"), COPY_SUCCESS);
    std::string response = "stale";
    uint32_t status = 42;
    EXPECT_EQ(client.post(url, "[]", response, status), COPY_FAILED);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(response, "");
    EXPECT_TRUE(log.logged("http request failed", 2));
    EXPECT_TRUE(log.logged("empty http response received", 1));
}

}  // namespace
