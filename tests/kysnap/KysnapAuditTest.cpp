// SPDX-License-Identifier: Apache-2.0
// The audit log end to end: one line per changing request of a whole lifecycle against the
// simulator, each with what it was about and the array methods sent; `kysnap log` showing it and
// showing lines that are not entries as such; and a log that cannot be written costing the
// operation nothing but a warning.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "AuditLog.h"
#include "AuditTrail.h"
#include "KysnapSite.h"
#include "SnapshotNames.h"
#include "StrictJson.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;

class KysnapAudit : public KysnapSite {
protected:
    // The log's lines, each parsed; a line that does not parse fails the test.
    std::vector<nlohmann::json> auditLines() {
        std::vector<nlohmann::json> lines;
        std::ifstream in(path("audit.log"));
        for (std::string line; std::getline(in, line);) {
            nlohmann::json entry;
            std::string error;
            EXPECT_TRUE(strictjson::parseObject(line, entry, error)) << error << ": " << line;
            lines.push_back(entry);
        }
        return lines;
    }
    Strings snapshotNames() {
        Strings names;
        const jsonxx::Object kept = catalog();
        const jsonxx::Array& list = kept.get<jsonxx::Array>("snapshots");
        for (size_t i = 0; i < list.size(); ++i) {
            names.push_back(list.get<jsonxx::Object>(i).get<jsonxx::String>("name"));
        }
        return names;
    }
    static Strings with(Strings arguments, const Strings& more) {
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    }
};

bool holds(const nlohmann::json& methods, const std::string& name) {
    for (const nlohmann::json& method : methods) {
        if (method == name) {
            return true;
        }
    }
    return false;
}

TEST_F(KysnapAudit, EveryChangingRequestOfTheLifecycleIsOneLineNamingItsMethodsAndNoSecret) {
    writeConfig("name = db01\n");
    expectRun({"prepare", kOraData, kOraLogs, kHomeShare});
    expectRun({"snap", kOraData, kOraLogs, kHomeShare});
    const Strings names = snapshotNames();
    ASSERT_EQ(names.size(), 3u);
    expectRun(with({"map"}, names));
    expectRun(with({"unmap"}, names));
    expectRun({"revert", "--destroy-newer", names[1]});
    expectRun({"reconcile"});
    expectRun(with({"delete"}, names));
    expectRun({"trust", "arr", "--yes"});
    // What changes nothing is not audited: listings, a dry run, a refused command line.
    expectRun({"list"});
    expectRun({"delete", "--dry-run", "KY-none"}, 1);

    // Where a method is named: on each request's line, or once for the call that served the
    // batch (the plug-in creates the snapshots of a call in one request to the array, after it
    // has read every request, so that line goes to the last one).
    enum class Named { EachRequest, OncePerCall, Nowhere };
    struct Expected {
        std::string operation;
        size_t lines;
        const char* method;  // an array method its volumes' lines name
        Named named;
    };
    const std::vector<Expected> expected = {
        {"snap", 3, "createSnapshots", Named::OncePerCall},
        {"map", 3, "createMappingForVolume", Named::EachRequest},
        {"unmap", 3, "deleteVolume", Named::EachRequest},
        {"revert", 1, "rollBackToVolumeSnapshot", Named::EachRequest},
        {"delete", 3, "deleteVolumeSnapshot", Named::EachRequest},
        {"trust", 1, "", Named::Nowhere},
    };
    const std::vector<nlohmann::json> lines = auditLines();
    std::map<std::string, std::vector<nlohmann::json>> byOperation;
    for (const nlohmann::json& line : lines) {
        byOperation[line.value("operation", "?")].push_back(line);
    }
    EXPECT_EQ(byOperation.size(), expected.size()) << lines.size() << " lines";
    for (const Expected& row : expected) {
        SCOPED_TRACE(row.operation);
        const std::vector<nlohmann::json>& of = byOperation[row.operation];
        ASSERT_EQ(of.size(), row.lines);
        std::set<std::string> about;
        int naming = 0;
        for (const nlohmann::json& line : of) {
            EXPECT_EQ(line["host"], "db01");
            EXPECT_EQ(line["uid"], getuid());
            EXPECT_EQ(line["array"], "arr");
            EXPECT_EQ(line["result"].get<std::string>().rfind("succeeded", 0), 0u) << line;
            EXPECT_EQ(line["exitStatus"], 0);
            EXPECT_GE(line["seconds"].get<double>(), 0.0);
            std::time_t time = 0;
            EXPECT_TRUE(kysnap::parseIsoTime(line["time"], time)) << line;
            about.insert(line["snapshot"].get<std::string>());
            const bool volume = line["device"] != kHomeShare;
            if (volume && holds(line["methods"], row.method)) {
                ++naming;
            }
            if (row.named == Named::EachRequest) {
                EXPECT_EQ(holds(line["methods"], row.method), volume) << line;
            }
            if (row.named == Named::Nowhere) {
                EXPECT_TRUE(line["methods"].empty()) << line;
            }
        }
        if (row.named == Named::OncePerCall) {
            EXPECT_EQ(naming, 1);
        }
        if (row.operation != "trust") {
            // One line per request: each names its own snapshot.
            EXPECT_EQ(about.size(), row.lines);
        }
    }
    // A request's line names its source on the array, and only its own methods.
    for (const nlohmann::json& line : byOperation["delete"]) {
        if (line["device"] == kOraData) {
            EXPECT_EQ(line["dataset"], "pool-a/Local/oracle/ora-data");
            EXPECT_TRUE(holds(line["methods"], "deleteVolumeSnapshot")) << line;
        }
        if (line["device"] == kHomeShare) {
            EXPECT_EQ(line["dataset"], "pool-b/Local/files/home");
            EXPECT_FALSE(holds(line["methods"], "deleteVolumeSnapshot")) << line;
        }
    }

    const std::string text = readFile(path("audit.log"));
    EXPECT_EQ(text.find(kPassword), std::string::npos);
    struct stat info {};
    ASSERT_EQ(stat(path("audit.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // kysnap log shows the last entries, in order, in words.
    const CliRun shown = expectRun({"log", "2"});
    EXPECT_NE(shown.out.find(": delete "), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find(": trust on array arr: succeeded: key pinned"), std::string::npos)
        << shown.out;
    EXPECT_EQ(std::count(shown.out.begin(), shown.out.end(), '\n'), 2) << shown.out;
}

TEST_F(KysnapAudit, LogShowsLinesThatAreNotEntriesAsMalformedWithTheirNumbers) {
    const std::string good =
        R"({"time":"2026-01-31T10:15:00Z","uid":0,"host":"db01","operation":"snap","array":"arr",)"
        R"("device":"/dev/sdb","dataset":"p/Local/x/v","snapshot":"KY-1","methods":["createSnapshots"],)"
        R"("result":"succeeded","status":"snapshot created","statusCode":3,"exitStatus":0,"seconds":1.5})";
    struct Bad {
        std::string line;
        const char* problem;  // a part of what kysnap log says of it
    };
    const std::vector<Bad> bad = {
        {"not json at all", "not valid JSON"},
        {R"({"time":"yesterday","uid":0,"host":"h","operation":"snap","result":"succeeded"})",
         "\"time\""},
        {R"({"time":"2026-01-31T10:15:00Z","uid":"root","host":"h","operation":"snap","result":"x"})",
         "\"uid\""},
        {R"({"time":"2026-01-31T10:15:00Z","uid":0,"host":"h","operation":"snap"})", "\"result\""},
        {R"({"time":"2026-01-31T10:15:00Z","uid":0,"uid":1,"host":"h","operation":"s","result":"x"})",
         "twice"},
        {std::string(kysnap::kMaxAuditLineBytes + 10, 'x'), "bytes long"},
        // The last line, cut short by a write that did not finish.
        {R"({"time":"2026-01-31T10:15:00Z","uid":0,"ho)", "not valid JSON"},
    };
    std::string log = good + "\n";
    for (size_t i = 0; i < bad.size(); ++i) {
        log += bad[i].line + (i + 1 < bad.size() ? "\n" : "");
    }
    std::ofstream(path("audit.log")) << log;

    const CliRun json = expectRun({"log", "--json"});
    nlohmann::json document;
    std::string error;
    ASSERT_TRUE(strictjson::parseObject(json.out, document, error)) << error << json.out;
    // version and command first, as in every document.
    EXPECT_LT(json.out.find("\"version\""), json.out.find("\"command\""));
    EXPECT_LT(json.out.find("\"command\""), json.out.find("\"entries\""));
    EXPECT_EQ(document["version"], 1);
    EXPECT_EQ(document["command"], "log");
    const nlohmann::json& entries = document["entries"];
    ASSERT_EQ(entries.size(), bad.size() + 1);
    EXPECT_EQ(entries[0]["entry"]["snapshot"], "KY-1");
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(bad[i].problem);
        const nlohmann::json& shown = entries[i + 1];
        EXPECT_EQ(shown["line"], i + 2);
        EXPECT_FALSE(shown.contains("entry"));
        EXPECT_NE(shown["problem"].get<std::string>().find(bad[i].problem), std::string::npos)
            << shown;
        EXPECT_LE(shown["malformed"].get<std::string>().size(), kysnap::kShownMalformedBytes);
    }

    const CliRun text = expectRun({"log", "3"});
    EXPECT_EQ(text.out.find("KY-1"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("line 6 is malformed"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("line 8 is malformed"), std::string::npos) << text.out;
    expectRun({"log", "0"}, 2);
    expectRun({"log", "x"}, 2);
}

TEST_F(KysnapAudit, ALogThatCannotBeWrittenIsAWarningAndTheOperationStandsAsDone) {
    expectRun({"prepare", kOraData});
    struct Case {
        const char* what;
        int (*plant)(const std::string& path);  // 0 when planted
        const char* says;
    };
    const std::vector<Case> cases = {
        {"a symbolic link", [](const std::string& at) { return symlink("/dev/null", at.c_str()); },
         "symbolic link"},
        {"a directory", [](const std::string& at) { return mkdir(at.c_str(), 0700); },
         "regular file"},
        {"a FIFO", [](const std::string& at) { return mkfifo(at.c_str(), 0600); }, "regular file"},
    };
    for (const Case& planted : cases) {
        SCOPED_TRACE(planted.what);
        const std::string log =
            path(std::string("planted-") + std::to_string(&planted - &cases[0]));
        ASSERT_EQ(planted.plant(log), 0);
        writeConfig("audit-log = " + log + "\n");
        const CliRun run = expectRun({"snap", kOraData});
        EXPECT_NE(run.out.find("snapshot created"), std::string::npos) << run.out;
        EXPECT_NE(run.err.find("kysnap: warning: the audit log lacks this run's 1 entry"),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find(planted.says), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    // A relative audit-log would depend on where kysnap is started: refused.
    writeConfig("audit-log = audit.log\n");
    EXPECT_NE(expectRun({"snap", kOraData}, 1).err.find("audit-log must be an absolute path"),
              std::string::npos);
}

// trust opens no catalog, so on a new machine it may be the first to write beside it.
TEST_F(KysnapAudit, TrustAsTheFirstCommandMakesTheLogsDirectory) {
    runner->environment["KYSNAP_STATE"] = path("new/state/catalog.json");
    const CliRun run = expectRun({"trust", "arr", "--yes"});
    EXPECT_EQ(run.err, "");
    struct stat info {};
    ASSERT_EQ(stat(path("new/state").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(path("new/state/audit.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_NE(readFile(path("new/state/audit.log")).find("\"operation\":\"trust\""),
              std::string::npos);
}

// The methods are read from the plug-in's lines as it logs them: a request line names one,
// unless the call's memory answered it (the next line says so), and nothing else does.
TEST(ArrayMethodsSent, AreTheRequestLinesNotAnsweredFromTheCallsMemory) {
    const auto request = [](const std::string& method) {
        return hostkit::LogLine{1, "Tegile CMRESTClient::sendRequestInternal() -",
                                "type [1] url [https://10.0.0.5:443/zebi/api/v2/" + method +
                                    "] request [[\"url [https://x/zebi/api/v2/notThis]\"]]"};
    };
    const auto line = [](const std::string& text) {
        return hostkit::LogLine{1, "Tegile CMRESTClient::sendRequestInternal() -", text};
    };
    const std::vector<hostkit::LogLine> lines = {
        request("listVolumes"),
        line("http response received [[{\"name\": \"v\"}]]"),
        request("listVolumes"),
        line("http response received from the call's memory [[{\"name\": \"v\"}]]"),
        request("cloneVolumeSnapshot"),
        line("http request failed: timed out"),
        line("http response received from the call's memory [not after a sent request]"),
        line("a line that mentions url [https://x/zebi/api/v2/listShares] in passing"),
        request("createMappingForVolume"),
    };
    EXPECT_EQ(kysnap::arrayMethodsSent(lines),
              (Strings{"listVolumes", "cloneVolumeSnapshot", "createMappingForVolume"}));
}

}  // namespace
}  // namespace kysnap_test
