// SPDX-License-Identifier: Apache-2.0
// kysnap's --json contract, for every command and for errors: one document on standard output
// that a strict reader takes (no key twice, nothing after it), whose first members are the
// format "version" and the "command", with "/" as it is.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandTable.h"
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
        lastOut = run.out;
        return answer;
    }

    int lastStatus = -1;
    std::string lastOut;
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

// The commands that answer without the catalog: the help (both ways of asking), trust with each
// of its options, and the demo, whose document holds each step's.
TEST_F(KysnapJson, HelpTrustAndDemoAnswerWithOneVersionedDocument) {
    const std::string temporary = path("tmp");
    mkdir(temporary.c_str(), 0700);
    runner->environment["TMPDIR"] = temporary;  // where the demo makes its files
    const struct {
        const char* what;
        Strings arguments;
        std::string command;
        int status;
        const char* member;  // one the document must hold
    } rows[] = {
        {"the general help", {"help"}, "help", 0, "commands"},
        {"the general help as --help", {"--help"}, "help", 0, "commands"},
        {"a command's help", {"help", "revert"}, "help", 0, "commandHelp"},
        {"a command's help as COMMAND --help", {"revert", "--help"}, "help", 0, "commandHelp"},
        {"trust --yes pins the presented key", {"trust", "arr", "--yes"}, "trust", 0, "pinned"},
        {"trust --replace of the key already pinned",
         {"trust", "arr", "--yes", "--replace"},
         "trust",
         0,
         "pinned"},
        {"trust --list", {"trust", "--list"}, "trust", 0, "pins"},
        {"trust --remove", {"trust", "--remove", "arr"}, "trust", 0, "removed"},
        {"trust --remove of an array with no pin",
         {"trust", "--remove", "arr"},
         "trust",
         1,
         "removed"},
        {"the demo", {"demo"}, "demo", 0, "steps"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const nlohmann::json answer = document(row.arguments, row.command);
        EXPECT_EQ(lastStatus, row.status);
        EXPECT_TRUE(answer.contains(row.member)) << answer;
    }

    // The help is the command table's: every command, with the options it takes.
    const nlohmann::json general = document({"help"}, "help");
    ASSERT_EQ(general["commands"].size(), kysnap::commands().size());
    for (const nlohmann::json& listed : general["commands"]) {
        const std::string name = listed["name"];
        EXPECT_EQ(listed["usage"].get<std::string>().rfind("kysnap [OPTIONS] " + name, 0), 0u)
            << listed;
        EXPECT_TRUE(listed["summary"].is_string() && listed["options"].is_array()) << listed;
        EXPECT_FALSE(listed.contains("help")) << listed;
    }
    const nlohmann::json revert = document({"revert", "--help"}, "help")["commandHelp"];
    EXPECT_EQ(revert["name"], "revert");
    EXPECT_EQ(revert["options"], nlohmann::json({"--dry-run", "--destroy-newer", "--yes"}));
    EXPECT_EQ(revert["operands"],
              nlohmann::json({{"least", 1}, {"most", nullptr}, {"noun", "snapshot"}}));
    EXPECT_NE(revert["help"].get<std::string>().find("--destroy-newer"), std::string::npos);
    const nlohmann::json help = document({"help", "help"}, "help")["commandHelp"];
    EXPECT_EQ(help["operands"]["most"], 1);

    // The demo's steps each ran with --json; their documents are the demo's.
    const nlohmann::json demo = document({"demo"}, "demo");
    ASSERT_EQ(lastStatus, 0);
    ASSERT_EQ(demo["steps"].size(), 9u) << demo;
    for (const nlohmann::json& step : demo["steps"]) {
        EXPECT_EQ(step["exitStatus"], 0) << step;
        ASSERT_TRUE(step["document"].is_object()) << step;
        EXPECT_EQ(step["document"]["version"], 1) << step;
        EXPECT_EQ(step["document"]["command"], step["command"]) << step;
    }
    // Each step's document keeps its own order: version and command first.
    const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(lastOut);
    for (const auto& step : ordered["steps"]) {
        ASSERT_GE(step["document"].size(), 2u) << step;
        EXPECT_EQ(step["document"].begin().key(), "version") << step;
        EXPECT_EQ(std::next(step["document"].begin()).key(), "command") << step;
    }
    EXPECT_EQ(demo["steps"][2]["document"]["requests"].size(), 3u) << demo["steps"][2];
    EXPECT_EQ(demo["result"], "lifecycle complete");
    EXPECT_TRUE(demo["seconds"].is_number());
    EXPECT_GT(demo["counters"]["requests"].get<long>(), 0) << demo["counters"];
    ASSERT_TRUE(demo["counters"]["methods"].is_array());
    ASSERT_FALSE(demo["counters"]["methods"].empty());
    EXPECT_TRUE(demo["counters"]["methods"][0]["method"].is_string()) << demo["counters"];
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
        {"trust --list given an array", {"trust", "--list", "arr"}, "trust"},
        {"trust --replace with --remove", {"trust", "--remove", "--replace", "arr"}, "trust"},
        {"help of a command kysnap does not have", {"help", "nosuch"}, "help"},
        {"--list for a command that does not take it", {"delete", "--list", "KY-1"}, "delete"},
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
