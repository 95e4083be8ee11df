// SPDX-License-Identifier: Apache-2.0
// kysnap's --json contract, for every command and for errors: one document on standard output
// that a strict reader takes (no key twice, nothing after it), whose first members are the
// format "version" and the "command", with "/" as it is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KysnapSite.h"
#include "StrictJson.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;

class KysnapJson : public KysnapSite {
protected:
    // Runs kysnap with --json and checks the contract; the document.
    nlohmann::json document(Strings arguments, const std::string& command) {
        arguments.push_back("--json");
        const CliRun run = runner->run(arguments);
        nlohmann::json answer;
        std::string error;
        EXPECT_TRUE(strictjson::parseObject(run.out, answer, error)) << error << "\n"
                                                                     << run.out << run.err;
        if (!answer.is_object()) {
            return answer;
        }
        // The first two members, in this order.
        const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(run.out);
        EXPECT_GE(ordered.size(), 2u);
        EXPECT_EQ(ordered.begin().key(), "version") << run.out;
        EXPECT_EQ(std::next(ordered.begin()).key(), "command") << run.out;
        EXPECT_EQ(answer.value("version", 0), 1) << run.out;
        EXPECT_EQ(answer.value("command", std::string()), command) << run.out;
        EXPECT_EQ(run.out.find("\\/"), std::string::npos) << run.out;
        // A document that says how kysnap exits says it truly.
        if (answer.contains("exitStatus")) {
            EXPECT_EQ(answer["exitStatus"], run.status) << run.out;
        }
        if (run.status != 0 && answer.contains("error")) {
            EXPECT_TRUE(answer["error"].is_string());
        }
        lastStatus = run.status;
        return answer;
    }

    int lastStatus = -1;
};

TEST_F(KysnapJson, EveryCommandAnswersWithOneVersionedDocument) {
    document({"support", kOraData}, "support");
    document({"vpd", kOraData}, "vpd");
    document({"prepare", kOraData, kHomeShare}, "prepare");
    EXPECT_EQ(lastStatus, 0);
    const nlohmann::json snap = document({"snap", kOraData, kHomeShare}, "snap");
    ASSERT_EQ(lastStatus, 0);
    ASSERT_EQ(snap["requests"].size(), 2u);
    const std::string id = snap["requests"][0]["snapshot"];
    // One fact per member: the status by name, its number as statusCode.
    EXPECT_EQ(snap["requests"][0]["status"], "snapshot created");
    EXPECT_TRUE(snap["requests"][0]["statusCode"].is_number_integer());
    EXPECT_FALSE(snap["requests"][0].contains("statusName"));
    EXPECT_EQ(snap["result"], "success");
    EXPECT_EQ(snap["resultCode"], 0);
    document({"map", id}, "map");
    EXPECT_EQ(lastStatus, 0);

    // Collections are arrays of objects, their key a member.
    const nlohmann::json list = document({"list"}, "list");
    ASSERT_TRUE(list["devices"].is_array());
    ASSERT_EQ(list["devices"].size(), 2u);
    EXPECT_EQ(list["devices"][0]["device"], kOraData);
    ASSERT_TRUE(list["targets"].is_array());
    ASSERT_FALSE(list["targets"].empty());
    EXPECT_TRUE(list["targets"][0].contains("target"));
    ASSERT_TRUE(list["snapshots"].is_array());
    const std::string mounted = list["snapshots"][0]["mountedDevice"];
    EXPECT_EQ(mounted.rfind("/dev/sim/", 0), 0u) << mounted;

    const nlohmann::json devices = document({"devices"}, "devices");
    EXPECT_TRUE(devices["devices"].is_array());
    document({"inquiry", kOraData}, "inquiry");
    document({"identify", mounted}, "identify");
    document({"reconcile"}, "reconcile");
    document({"unmap", id}, "unmap");

    // A dry run has the real run's root, and says it is one.
    const nlohmann::json dry = document({"delete", "--dry-run", id}, "delete");
    const nlohmann::json real = document({"delete", id}, "delete");
    EXPECT_EQ(dry["dryRun"], true);
    for (const char* member :
         {"result", "resultCode", "exitStatus", "requests", "errors", "hostProblems"}) {
        EXPECT_TRUE(dry.contains(member)) << member;
        EXPECT_TRUE(real.contains(member)) << member;
        EXPECT_EQ(dry[member].type(), real[member].type()) << member;
    }
    EXPECT_EQ(dry["requests"][0]["snapshot"], id);
    EXPECT_EQ(real["requests"][0]["snapshot"], id);

    document({"unprepare", kOraData}, "unprepare");
    document({"check"}, "check");
    document({"trust", "--list"}, "trust");
    const nlohmann::json version = document({"version"}, "version");
    EXPECT_TRUE(version["plugin"].contains("version")) << version;
}

TEST_F(KysnapJson, ErrorsAnswerWithTheErrorDocument) {
    const struct {
        const char* what;
        Strings arguments;
        std::string command;
    } cases[] = {
        {"a snapshot that is not in the catalog", {"map", "KY-19990101T000000Z-1"}, "map"},
        {"an array that is not configured", {"trust", "nowhere"}, "trust"},
        {"a command given no device", {"inquiry"}, "inquiry"},
        {"a configuration that does not exist", {"list", "--config", "/nonexistent"}, "list"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const nlohmann::json answer = document(c.arguments, c.command);
        EXPECT_NE(lastStatus, 0);
        EXPECT_TRUE(answer.contains("exitStatus")) << answer;
        EXPECT_TRUE(answer.contains("error")) << answer;
    }
}

}  // namespace
}  // namespace kysnap_test
