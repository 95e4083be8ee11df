// SPDX-License-Identifier: Apache-2.0
// How the array treats the requests themselves: credentials, bodies that are not what it
// expects, lenient value forms, the snapshot name pattern and unknown routes.
#include <gtest/gtest.h>

#include <random>

#include "SimHarness.h"

namespace arraysim_test {
namespace {

class ArraySimRequestTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.started()) << sim.startError(); }

    void expectError(const CallResult& r, int status, const std::string& text) {
        EXPECT_EQ(status, r.status) << r.body;
        jsonxx::Object body = asObject(r.body);
        EXPECT_TRUE(body.has<std::string>("code")) << r.body;
        EXPECT_TRUE(body.has<std::string>("details")) << r.body;
        EXPECT_TRUE(body.has<jsonxx::Object>("extendedData")) << r.body;
        EXPECT_TRUE(contains(textOf(body, "message"), text)) << r.body;
    }

    SimHarness sim;
};

TEST_F(ArraySimRequestTest, WrongOrMissingCredentialsAreDeniedAndChangeNothing) {
    const std::string snapshot =
        "[{\"poolName\":\"pool-a\",\"projectName\":\"oracle\",\"name\":\"ora-logs\","
        "\"local\":\"true\"},\"KY-denied\",false]";
    CallResult wrong = sim.callAs("admin", "guess", "createVolumeSnapshot", snapshot);
    expectError(wrong, 401, "Access Denied");
    EXPECT_TRUE(contains(wrong.authenticateHeader, "Basic")) << wrong.authenticateHeader;
    expectError(sim.callAs("", "", "listFCTargetGroups", ""), 401, "Access Denied");
    expectError(sim.callAs("nobody", "tegile", "listFCTargetGroups", ""), 401, "Access Denied");

    EXPECT_TRUE(
        asNames(sim.call("listSnapshots", "[\"pool-a/Local/oracle/ora-logs\",\"\"]").body).empty());
    EXPECT_EQ(3, asObject(sim.control("GET", "counters").body).get<jsonxx::Number>("authFailures"));
}

TEST_F(ArraySimRequestTest, MalformedBodiesAndUnknownMethodsGetClearErrors) {
    for (const char* body : {"{\"not\": \"an array\"}", "[\"unterminated", "42", "[1,2,"}) {
        expectError(sim.call("listVolumes", body), 400, "expected a JSON array");
    }
    // Which of two values would count, or whether the text after the value is meant, cannot
    // be known: the body is refused, and the answer says where.
    struct Refused {
        const char* method;
        std::string body;
        std::string reason;
    };
    const Refused refused[] = {
        {"createVolumeSnapshot",
         "[{\"poolName\":\"pool-a\",\"projectName\":\"oracle\",\"name\":\"ora-logs\","
         "\"name\":\"ora-data\",\"local\":\"true\"},\"KY-twice\",false]",
         "the key \\\"name\\\" appears twice in one object (at byte"},
        {"listVolumes", "[\"pool-a\",\"oracle\",\"true\"] [\"pool-b\"]",
         "there is text after the JSON document (at byte 27)"},
        {"listVolumes", "[\"pool-a\",\"oracle\",\"true\"]x",
         "there is text after the JSON document (at byte 26)"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.body);
        const CallResult answer = sim.call(r.method, r.body);
        expectError(answer, 400,
                    "Malformed request body for " + std::string(r.method) +
                        ": expected a JSON array of parameters; ");
        EXPECT_TRUE(contains(answer.body, r.reason)) << answer.body;
    }
    // The refused snapshot was not taken.
    EXPECT_TRUE(
        asNames(sim.call("listSnapshots", "[\"pool-a/Local/oracle/ora-logs\",\"\"]").body).empty());
    for (const char* body :
         {"{\"apiVersion\": \"2.1\", \"apiVersion\": \"9.9\"}", "{\"apiVersion\": \"2.1\"} {}"}) {
        SCOPED_TRACE(body);
        expectError(sim.control("POST", "config", body), 400, "the body must be a JSON object; ");
    }
    expectError(sim.control("POST", "faults", "[{\"action\": \"fail\"}] x"), 400,
                "the body must be a fault object or a list of them; there is text after");
    expectError(sim.call("listVolumes", "[\"pool-a\"]"), 400, "takes 3 parameters");
    expectError(sim.call("listVolumes", "[\"pool-a\",7,\"true\"]"), 400, "must be a string");
    expectError(sim.call("listVolumes", "[\"pool-a\",\"oracle\",\"maybe\"]"), 400, "true or false");
    expectError(sim.call("listFCTargetGroups", "[\"extra\"]"), 400, "takes 0 parameters");
    expectError(sim.call("noSuchMethod", "[]"), 404, "Unknown method");
    expectError(sim.control("GET", "nowhere"), 404, "no control route");
    expectError(sim.control("GET", "shutdown"), 405, "takes POST");
}

TEST_F(ArraySimRequestTest, QuotedBooleansAndNumbersAreAccepted) {
    EXPECT_EQ(200, sim.call("listVolumes", "[\"pool-a\",\"oracle\",true]").status);
    EXPECT_EQ(200, sim.call("listVolumes", "[\"pool-a\",\"oracle\",\"TRUE\"]").status);
    CallResult mapped = sim.call("createMappingForVolume",
                                 "[\"pool-a/Local/vmware/esx-small\",\"esx-iscsi\","
                                 "\"default-pool-a-iscsi-target-group\",\"-1\"]");
    ASSERT_EQ(200, mapped.status) << mapped.body;
    EXPECT_EQ("0", mapped.body);
    EXPECT_EQ(200, sim.call("deleteVolume",
                            "[\"pool-a/Local/vmware/esx-small\",\"true\","
                            "\"true\"]")
                       .status);
}

TEST_F(ArraySimRequestTest, RawAndEscapedCharactersInValuesNeverBreakTheArray) {
    // A raw newline and an escaped quote reach the name check and are refused there.
    for (const char* name : {"bad\nname", "bad\\\"name", "caf\xc3\xa9", "a\x01z"}) {
        const std::string body =
            "[{\"poolName\":\"pool-a\",\"projectName\":\"oracle\",\"name\":\"ora-logs\","
            "\"local\":\"true\"},\"" +
            std::string(name) + "\",false]";
        expectError(sim.call("createVolumeSnapshot", body), 400, "Invalid snapshot name");
    }
    // Fragments of real bodies cut and glued at random: every answer is an HTTP answer.
    const std::string pieces[] = {"[",    "]",  "{",          "}",       "\"",  ",",
                                  ":",    "\\", "\"pool-a\"", "true",    "-1",  "\x01",
                                  "\xff", "\n", "[[",         "\"a@b\"", "null"};
    std::mt19937 rng(20240301);
    const char* methods[] = {"createSnapshots",      "listVolumes",   "cloneVolumeSnapshot",
                             "createIscsiInitiator", "listSnapshots", "createMappingForVolume"};
    for (int i = 0; i < 150; ++i) {
        std::string body;
        for (int n = rng() % 12; n > 0; --n) {
            body += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
        }
        CallResult r = sim.call(methods[i % 6], body);
        ASSERT_TRUE(r.status == 200 || r.status == 400 || r.status == 404 || r.status == 409)
            << r.status << " for " << body;
    }
    EXPECT_EQ(200, sim.call("listSystemProperties", "[[\"ZEBI_API_VERSION\"]]").status);
}

// Requests that arrive together, or a body sent only once "100 Continue" came, are each read
// to their own end.
TEST_F(ArraySimRequestTest, PipelinedRequestsAndContinuedBodiesAreEachAnswered) {
    TlsConnection connection(sim.simulator().port(), sim.simulator().caFile());
    ASSERT_TRUE(connection.ready());
    std::string chunked = rawApiPost("listFCTargetGroups", "[]");
    chunked.replace(chunked.find("Content-Length"), std::string::npos,
                    "Transfer-Encoding: chunked\r\n\r\n1\r\n[\r\n1\r\n]\r\n0\r\n\r\n");
    ASSERT_TRUE(connection.send(rawApiPost("listFCTargetGroups", "[]") + chunked +
                                rawApiPost("noSuchMethod", "[1]") +
                                rawApiPost("listFCTargetGroups", "")));
    for (int status : {200, 200, 404, 200}) {
        RawAnswer answer = connection.readAnswer(3000, false);
        EXPECT_EQ(status, answer.status) << answer.headers << answer.body;
    }

    std::string post = rawApiPost("listFCTargetGroups", "[]");
    post.insert(post.find("\r\n\r\n") + 2, "Expect: 100-continue\r\n");
    const size_t body = post.find("\r\n\r\n") + 4;
    ASSERT_TRUE(connection.send(post.substr(0, body)));
    RawAnswer interim = connection.readAnswer(3000, false);
    EXPECT_EQ(100, interim.status) << interim.headers;
    ASSERT_TRUE(connection.send(post.substr(body)));
    RawAnswer answer = connection.readAnswer(3000, false);
    EXPECT_EQ(200, answer.status) << answer.headers;
    EXPECT_TRUE(contains(answer.body, "default-fc-target-group")) << answer.body;

    // Refused credentials are answered at once, with no "100 Continue" first.
    std::string denied = post.substr(0, body);
    denied.replace(denied.find("Basic ") + 6, 4, "AAAA");
    ASSERT_TRUE(connection.send(denied));
    EXPECT_EQ(401, connection.readAnswer(3000).status);
}

TEST_F(ArraySimRequestTest, SnapshotNamePatternSearchesOrMatchesTheWholeName) {
    const std::string path = "\"pool-a/Local/oracle/ora-data\"";
    auto list = [&](const std::string& pattern) {
        return asNames(sim.call("listSnapshots", "[" + path + ",\"" + pattern + "\"]").body);
    };
    EXPECT_EQ(std::vector<std::string>{"Manual-V-before-upgrade"}, list("before"));
    EXPECT_EQ(std::vector<std::string>{"Auto-daily-20240301"}, list("^Auto"));
    EXPECT_EQ(2u, list("").size());
    EXPECT_EQ(400, sim.call("listSnapshots", "[" + path + ",\"(\"]").status);
    EXPECT_EQ(404, sim.call("listSnapshots", "[\"pool-a/Local/oracle/none\",\"\"]").status);

    ASSERT_EQ(200, sim.control("POST", "config", "{\"listSnapshotsWholeName\": true}").status);
    EXPECT_TRUE(list("before").empty());
    EXPECT_EQ(std::vector<std::string>{"Manual-V-before-upgrade"}, list("Manual-V-before-upgrade"));
    EXPECT_EQ(2u, list("").size());
}

TEST_F(ArraySimRequestTest, SystemPropertiesFollowTheConfiguredApiVersion) {
    const std::string body =
        "[[\"ZEBI_APPLIANCE_MODEL\",\"ZEBI_APPLIANCE_VERSION\", \"ZEBI_API_VERSION\", "
        "\"ZEBI_API_MINOR_VERSION\"]]";
    EXPECT_EQ((std::vector<std::string>{"IntelliFlash T4700", "3.7.2.1", "2.1", "1"}),
              asNames(sim.call("listSystemProperties", body).body));
    ASSERT_EQ(200, sim.control("POST", "config",
                               "{\"apiVersion\": \"2.0\", "
                               "\"apiMinorVersion\": \"0\"}")
                       .status);
    EXPECT_EQ((std::vector<std::string>{"IntelliFlash T4700", "3.7.2.1", "2.0", "0"}),
              asNames(sim.call("listSystemProperties", body).body));
    expectError(sim.call("listSystemProperties", "[[\"ZEBI_NOTHING\"]]"), 400, "ZEBI_NOTHING");

    SimHarness old(sampleSeedText(), "2.0");
    ASSERT_TRUE(old.started()) << old.startError();
    EXPECT_EQ((std::vector<std::string>{"IntelliFlash T4700", "3.7.2.1", "2.0", "0"}),
              asNames(old.call("listSystemProperties", body).body));
}

}  // namespace
}  // namespace arraysim_test
