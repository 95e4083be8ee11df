// SPDX-License-Identifier: Apache-2.0
// kysnap end to end: its subcommands as subprocesses against an array simulator, the catalog
// across invocations, concurrent and interrupted runs, and the failures a new user meets.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "Faults.h"
#include "KysnapSite.h"
#include "Model.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;

class KysnapCli : public KysnapSite {
protected:
    // The requests of a --json report.
    static jsonxx::Array requestsOf(const CliRun& run) {
        jsonxx::Object report;
        EXPECT_TRUE(report.parse(run.out)) << run.out << run.err;
        return report.has<jsonxx::Array>("requests") ? report.get<jsonxx::Array>("requests")
                                                     : jsonxx::Array();
    }
    static const jsonxx::Object& request(const jsonxx::Array& list, size_t i) {
        return list.get<jsonxx::Object>(i);
    }
    int snapshotsOnArray(const std::string& datasetPath) {
        int count = 0;
        simulator->withModel([&](arraysim::Model& model) {
            count = static_cast<int>(model.findDataset(datasetPath)->snapshots.size());
        });
        return count;
    }
    Strings snapshotNames() { return snapshotField("name"); }
    Strings snapshotStates() { return snapshotField("state"); }
    Strings snapshotField(const char* member) {
        Strings values;
        const jsonxx::Object kept = catalog();
        const jsonxx::Array& list = kept.get<jsonxx::Array>("snapshots");
        for (size_t i = 0; i < list.size(); ++i) {
            values.push_back(request(list, i).get<jsonxx::String>(member));
        }
        return values;
    }
    // Makes the array's next createSnapshots call behave as `action` says.
    void faultOnCreate(arraysim::FaultAction action, bool process, int latencyMs = 0) {
        arraysim::Fault fault;
        fault.method = "createSnapshots";
        fault.action = action;
        fault.process = process;
        fault.latencyMs = latencyMs;
        simulator->faults().add(fault);
    }
    // Waits until the array has taken every injected fault (a call reached it).
    void awaitFaultsTaken() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!simulator->faults().describe().empty() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(simulator->faults().describe().empty());
    }
};

// What is at `path`, without following a link or blocking on a FIFO.
std::string describeFile(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return "nothing";
    }
    if (S_ISLNK(info.st_mode)) {
        char target[4096];
        const ssize_t size = readlink(path.c_str(), target, sizeof target);
        return "link to " + std::string(target, size > 0 ? static_cast<size_t>(size) : 0);
    }
    if (S_ISREG(info.st_mode)) {
        const std::string content = readFile(path);
        return content.size() < 4096
                   ? "file " + content
                   : "file of " + std::to_string(content.size()) + " bytes, hash " +
                         std::to_string(std::hash<std::string>()(content));
    }
    return "mode " + std::to_string(info.st_mode);
}

TEST_F(KysnapCli, EverySubcommandRunsAgainstTheSimulatorAndTheCatalogCarriesTheLifecycle) {
    // inquiry decodes what the plug-in's VPD processing reports.
    const CliRun inquiry = expectRun({"inquiry", kOraData, "--json"});
    jsonxx::Object answer;
    ASSERT_TRUE(answer.parse(inquiry.out)) << inquiry.out;
    EXPECT_EQ(answer.get<jsonxx::String>("vendor"), "TEGILE");
    EXPECT_EQ(answer.get<jsonxx::String>("product"), "INTELLIFLASH");
    EXPECT_EQ(answer.get<jsonxx::String>("lunId"), "600144F0C8A7B3D1E45F4A2B00010001");
    EXPECT_EQ(answer.get<jsonxx::String>("targetId"), "wwn.2100001B32A1B2C3");
    const CliRun vpd = expectRun({"vpd", kOraData, "--json"});
    EXPECT_EQ(request(requestsOf(vpd), 0).get<jsonxx::String>("detail"),
              "LUN 600144F0C8A7B3D1E45F4A2B00010001 target wwn.2100001B32A1B2C3 array arr");
    EXPECT_NE(expectRun({"support", kOraData, "/dev/sim/NONE"}, 3).out.find("not supported"),
              std::string::npos);

    const CliRun prepare = expectRun({"prepare", kOraData, kOraLogs, kHomeShare, "--verbose"});
    EXPECT_NE(prepare.err.find("hostPassword:******,engineName:kysnap"), std::string::npos);
    EXPECT_EQ((prepare.out + prepare.err).find(kPassword), std::string::npos);
    const jsonxx::Object prepared = catalog().get<jsonxx::Object>("devices");
    ASSERT_EQ(prepared.size(), 3u);
    EXPECT_EQ(prepared.get<jsonxx::Object>(kOraData).get<jsonxx::String>("metadata"),
              "2.0|600144F0C8A7B3D1E45F4A2B00010001|ora-data|pool-a|oracle|Local|");

    const jsonxx::Array snapped =
        requestsOf(expectRun({"snap", kOraData, kOraLogs, kHomeShare, "--json"}));
    ASSERT_EQ(snapped.size(), 3u);
    const std::regex form("KY-[0-9]{8}T[0-9]{6}Z-[0-9]+");
    Strings names;
    for (size_t i = 0; i < snapped.size(); ++i) {
        names.push_back(request(snapped, i).get<jsonxx::String>("snapshot"));
        EXPECT_TRUE(std::regex_match(names.back(), form)) << names.back();
        EXPECT_EQ(request(snapped, i).get<jsonxx::String>("status"), "snapshot created");
    }
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 3u);
    EXPECT_EQ(snapshotsOnArray("pool-a/Local/oracle/ora-logs"), 1);

    Strings map = {"map", "--json"};
    map.insert(map.end(), names.begin(), names.end());
    const jsonxx::Array mapped = requestsOf(expectRun(map));
    for (size_t i = 0; i < mapped.size(); ++i) {
        EXPECT_EQ(request(mapped, i).get<jsonxx::Number>("statusCode"), 12);
        EXPECT_EQ(request(mapped, i).get<jsonxx::String>("status"), "mounted");
    }
    const jsonxx::Array records = catalog().get<jsonxx::Array>("snapshots");
    EXPECT_EQ(request(records, 0).get<jsonxx::String>("mountedDevice").rfind("/dev/sim/", 0), 0u);
    EXPECT_NE(request(records, 0)
                  .get<jsonxx::String>("metadata")
                  .find("|MNT_" + names[0] + "|db-host-fc|"),
              std::string::npos);
    EXPECT_NE(request(records, 2)
                  .get<jsonxx::String>("mountedDevice")
                  .find("lunuuid:/export/files/MNT_" + names[2]),
              std::string::npos);

    Strings unmap = {"unmap"};
    unmap.insert(unmap.end(), names.begin(), names.end());
    expectRun(unmap);
    simulator->withModel([&](arraysim::Model& model) {
        EXPECT_TRUE(model.clonesOf("pool-a/Local/oracle/ora-data@Manual-V-" + names[0]).empty());
    });
    EXPECT_EQ(
        request(catalog().get<jsonxx::Array>("snapshots"), 0).get<jsonxx::String>("mountedDevice"),
        "");

    expectRun({"revert", "--destroy-newer", names[1]});
    expectRun({"reconcile"});
    Strings remove = {"delete"};
    remove.insert(remove.end(), names.begin(), names.end());
    expectRun(remove);
    EXPECT_TRUE(snapshotNames().empty());
    EXPECT_EQ(snapshotsOnArray("pool-a/Local/oracle/ora-logs"), 0);
    EXPECT_NE(expectRun({"reconcile"}, 1).err.find("no snapshot to reconcile"), std::string::npos);
}

TEST_F(KysnapCli, ConcurrentRunsEachKeepTheirRecords) {
    expectRun({"prepare", kOraData, kOraLogs});
    const Strings devices = {kOraData, kOraLogs, kOraData, kOraLogs};
    std::vector<pid_t> runs;
    for (size_t i = 0; i < devices.size(); ++i) {
        runs.push_back(runner->start({"snap", devices[i]}, static_cast<int>(i + 1)));
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        const CliRun run = runner->finish(runs[i], static_cast<int>(i + 1));
        EXPECT_EQ(run.status, 0) << run.out << run.err;
    }
    const Strings names = snapshotNames();
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 4u);
    EXPECT_EQ(snapshotsOnArray("pool-a/Local/oracle/ora-data"), 2 + 2);  // the seed holds two
}

// A run that writes holds the catalog's lock for its whole length (minutes, while devices are
// awaited); list shows the catalog as last saved at once instead of waiting for it.
TEST_F(KysnapCli, ListShowsTheCatalogAsSavedWithoutWaitingForARunThatWritesIt) {
    expectRun({"prepare", kOraData});
    faultOnCreate(arraysim::FaultAction::Latency, false, 3000);
    const pid_t pid = runner->start({"snap", kOraData}, 1);
    awaitFaultsTaken();
    const auto start = std::chrono::steady_clock::now();
    const CliRun listed = expectRun({"list"});
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
    EXPECT_NE(listed.out.find("(another kysnap run is writing it: shown as last saved)"),
              std::string::npos)
        << listed.out;
    EXPECT_NE(listed.out.find("[creating: kysnap reconcile settles it]"), std::string::npos)
        << listed.out;
    EXPECT_EQ(runner->finish(pid, 1).status, 0);
    EXPECT_EQ(expectRun({"list"}).out.find("another kysnap run"), std::string::npos);
}

TEST_F(KysnapCli, InterruptedCatalogWriteLeavesTheOldCatalogIntact) {
    expectRun({"prepare", kOraData});
    const std::string before = readFile(path("catalog.json"));
    ASSERT_GT(before.size(), 64u);
    // The run is killed (SIGXFSZ) while it writes the new catalog.
    EXPECT_EQ(runner->runWithFileSizeLimit({"unprepare", kOraData}, 32).status, 128 + SIGXFSZ);
    EXPECT_EQ(readFile(path("catalog.json")), before);
    EXPECT_EQ(catalog().get<jsonxx::Object>("devices").size(), 1u);
    // A snap killed while it records the snapshot it is about to make has not asked the array.
    const int onArray = snapshotsOnArray("pool-a/Local/oracle/ora-data");
    EXPECT_EQ(runner->runWithFileSizeLimit({"snap", kOraData}, 32).status, 128 + SIGXFSZ);
    EXPECT_EQ(snapshotsOnArray("pool-a/Local/oracle/ora-data"), onArray);
    EXPECT_EQ(readFile(path("catalog.json")), before);
    // The next writer finishes the job and sweeps the interrupted run's temporary file away.
    expectRun({"unprepare", kOraData});
    EXPECT_EQ(catalog().get<jsonxx::Object>("devices").size(), 0u);
    DIR* dir = opendir(directory.c_str());
    while (const dirent* entry = readdir(dir)) {
        EXPECT_EQ(std::string(entry->d_name).find(".tmp."), std::string::npos) << entry->d_name;
    }
    closedir(dir);
}

// The catalog is the only record of what the array holds for this host: kysnap refuses a
// catalog it cannot trust and a place where others could redirect its writes, says which
// member or file is wrong, and changes nothing.
TEST_F(KysnapCli, DamagedOrUnsafeCatalogsAreRefusedAndLeftAsTheyAre) {
    expectRun({"prepare", kOraData});
    const std::string good = readFile(path("catalog.json"));
    const std::string victim = path("victim");
    std::ofstream(victim) << "precious\n";
    const auto snapshot = [](const std::string& name, const std::string& status) {
        return "{\"name\": \"" + name + "\", \"device\": \"" + kOraData +
               "\", \"array\": \"arr\", \"metadata\": \"\", \"transMetadata\": \"\", "
               "\"status\": " +
               status + ", \"mountedDevice\": \"\", \"created\": \"2025-03-01T10:15:00Z\"}";
    };
    const std::string one = snapshot("KY-20250301T101500Z-1", "5");
    const auto oldCatalog = [](const std::string& snapshots) {
        return "{\"format\": 1, \"targets\": {}, \"devices\": {}, \"snapshots\": " + snapshots +
               "}\n";
    };
    struct Case {
        const char* what;
        std::string text;  // the catalog's content ("" for none)
        std::function<void(const std::string& dir, const std::string& state)> arrange;
        Strings arguments;
        int exit;
        std::string says;
        Strings unchanged = {};  // beside the catalog (which, unless `exit` is 0, stays too)
        std::function<void(pid_t)> during = nullptr;  // while the run goes on
    };
    const Strings prepare = {"prepare", kOraLogs};
    const auto none = [](const std::string&, const std::string&) {};
    // The catalog one directory further down, in a directory of its own (mode 0700).
    const auto innerCatalog = [&](const std::string& dir) {
        EXPECT_EQ(mkdir((dir + "/inner").c_str(), 0700), 0);
        runner->environment["KYSNAP_STATE"] = dir + "/inner/catalog.json";
    };
    const std::vector<Case> cases = {
        {"snapshots given as an object", oldCatalog("{\"0\": " + one + "}"), none, prepare, 1,
         "is damaged: snapshots is not an array"},
        {"status beyond any number", oldCatalog("[" + snapshot("KY-1", "1e999") + "]"), none,
         prepare, 1, "number overflow parsing '1e999')"},
        {"status beyond the 32-bit range", oldCatalog("[" + snapshot("KY-1", "2147483648") + "]"),
         none, prepare, 1, "snapshots[0].status is not a whole number in the 32-bit range"},
        {"status with a fraction", oldCatalog("[" + snapshot("KY-1", "5.5") + "]"), none, prepare,
         1, "snapshots[0].status is not a whole number in the 32-bit range"},
        {"status as a word", oldCatalog("[" + snapshot("KY-1", "\"five\"") + "]"), none, prepare, 1,
         "snapshots[0].status is not a number"},
        {"text after the document", oldCatalog("[" + one + "]") + "}garbage", none, prepare, 1,
         "there is text after the JSON document"},
        {"one snapshot name twice", oldCatalog("[" + one + ", " + one + "]"), none, prepare, 1,
         "snapshots[1].name \"KY-20250301T101500Z-1\" is given twice"},
        {"a member given twice",
         "{\"format\": 1, \"targets\": {}, \"devices\": {}, \"snapshots\": [" + one +
             "], \"snapshots\": []}",
         none, prepare, 1, "the key \"snapshots\" appears twice"},
        {"a member given twice inside a record",
         oldCatalog("[" + snapshot("KY-1", "5").insert(1, "\"status\": 7, ") + "]"), none, prepare,
         1, "the key \"status\" appears twice in one object (at byte"},
        {"a member given twice, once escaped",
         "{\"format\": 1, \"targets\": {}, \"devices\": {}, \"snapshots\": [], "
         "\"\\u0073napshots\": []}",
         none, prepare, 1, "the key \"snapshots\" appears twice"},
        {"a single-quoted text", oldCatalog("[" + snapshot("KY-1", "'5'") + "]"), none, prepare, 1,
         "it is not valid JSON (at byte"},
        {"a second document after the first", oldCatalog("[]") + oldCatalog("[]"), none, prepare, 1,
         "there is text after the JSON document (at byte 61)"},
        {"catalog that is a FIFO",
         "",
         [](const std::string&, const std::string& state) { mkfifo(state.c_str(), 0600); },
         {"list"},
         1,
         "catalog.json is not a regular file (it is a FIFO)"},
        {"catalog without end",
         "",
         [&](const std::string&, const std::string&) {
             runner->environment["KYSNAP_STATE"] = "/dev/zero";
         },
         {"list"},
         1,
         "the catalog /dev/zero is not a regular file (it is a character device)"},
        {"catalog beyond the size limit", good,
         [](const std::string&, const std::string& state) {
             EXPECT_EQ(truncate(state.c_str(), (64 << 20) + 1), 0);
         },
         prepare, 1, "catalog.json is larger than 67108864 bytes"},
        {"catalog that is a symbolic link",
         "",
         [&](const std::string& dir, const std::string& state) {
             std::ofstream(dir + "/real.json") << good;
             EXPECT_EQ(symlink((dir + "/real.json").c_str(), state.c_str()), 0);
         },
         prepare,
         1,
         "catalog.json is a symbolic link, which kysnap does not follow",
         {"real.json"}},
        {"lock that is a symbolic link",
         good,
         [&](const std::string&, const std::string& state) {
             EXPECT_EQ(symlink(victim.c_str(), (state + ".lock").c_str()), 0);
         },
         prepare,
         1,
         "the catalog lock",
         {"catalog.json.lock", victim}},
        {"directory others can write", good,
         [](const std::string& dir, const std::string&) { chmod(dir.c_str(), 0777); }, prepare, 1,
         "can be written by group or others (mode 0777); run: chmod go-w"},
        {"directory of another user", good,
         [](const std::string& dir, const std::string&) {
             EXPECT_EQ(chown(dir.c_str(), 4242, 4242), 0) << "the suite runs as root";
         },
         prepare, 1, "belongs to another user (uid 4242)"},
        {"parent directory others can write", good,
         [&](const std::string& dir, const std::string&) {
             chmod(dir.c_str(), 0777);
             innerCatalog(dir);
         },
         prepare, 1,
         "catalog.json lies in " + path("row") +
             ", which can be written by group or others (mode 0777); run: chmod go-w " +
             path("row")},
        {"parent directory of another user", good,
         [&](const std::string& dir, const std::string&) {
             innerCatalog(dir);
             EXPECT_EQ(chown(dir.c_str(), 4242, 4242), 0) << "the suite runs as root";
         },
         prepare, 1, "lies in " + path("row") + ", which belongs to another user (uid 4242)"},
        {"parent directory shared and sticky", good,
         [&](const std::string& dir, const std::string&) {
             chmod(dir.c_str(), 01777);
             innerCatalog(dir);
         },
         prepare, 0, "prepared"},
        {"catalog of another user", good,
         [](const std::string&, const std::string& state) {
             EXPECT_EQ(chown(state.c_str(), 4242, 4242), 0) << "the suite runs as root";
         },
         prepare, 1, "catalog.json belongs to another user (uid 4242)"},
        {"another user's file with a temporary file's name in a shared sticky directory",
         good,
         [](const std::string& dir, const std::string&) {
             chmod(dir.c_str(), 01777);
             const std::string other = dir + "/catalog.json.tmp.AbC123";
             std::ofstream(other) << "not ours";
             EXPECT_EQ(chown(other.c_str(), 4242, 4242), 0) << "the suite runs as root";
         },
         prepare,
         0,
         "prepared",
         {"catalog.json.tmp.AbC123"}},
        {"link planted as the temporary file while the run waits on the array",
         good,
         [&](const std::string&, const std::string&) {
             faultOnCreate(arraysim::FaultAction::Latency, false, 1500);
         },
         {"snap", kOraData},
         0,
         "snapshot created",
         {victim},
         [&](pid_t pid) {
             awaitFaultsTaken();
             // The name a run might use; an exclusive creation under a random name defeats it.
             EXPECT_EQ(symlink(victim.c_str(),
                               (path("row") + "/catalog.json.tmp." + std::to_string(pid)).c_str()),
                       0);
         }},
    };
    const auto environment = runner->environment;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = path("row");
        const std::string state = dir + "/catalog.json";
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        if (!c.text.empty()) {
            std::ofstream(state) << c.text;
        }
        runner->environment["KYSNAP_STATE"] = state;
        c.arrange(dir, state);
        Strings kept = c.unchanged;
        if (c.exit != 0) {
            kept.push_back("catalog.json");
        }
        std::map<std::string, std::string> before;
        for (std::string& name : kept) {
            name = name.front() == '/' ? name : dir + "/" + name;
            before[name] = describeFile(name);
        }
        const pid_t pid = runner->start(c.arguments, 1);
        if (c.during) {
            c.during(pid);
        }
        const CliRun run = runner->finish(pid, 1, 20);
        EXPECT_EQ(run.status, c.exit) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
        for (const auto& [name, description] : before) {
            EXPECT_EQ(describeFile(name), description) << name;
        }
        runner->environment = environment;
        simulator->faults().clear();
        chmod(dir.c_str(), 0700);
        std::error_code ignored;  // a leftover temporary directory is no test failure
        std::filesystem::remove_all(dir, ignored);
    }

    // A catalog written before records had a state still loads, each record as created.
    std::ofstream(path("catalog.json")) << oldCatalog("[" + one + "]");
    expectRun({"prepare", kOraData});
    EXPECT_EQ(snapshotStates(), Strings{"created"});
}

// The array made the snapshot but its answer was lost (or the run died during the call): the
// record written before the call lets reconcile and delete settle it, and a retry gets a new
// name instead of colliding with it.
TEST_F(KysnapCli, ASnapshotWhoseAnswerWasLostIsRecordedSettledAndItsNameNeverReused) {
    const std::string volume = "pool-a/Local/oracle/ora-data";
    expectRun({"prepare", kOraData});
    ASSERT_EQ(snapshotsOnArray(volume), 2);  // the seed's

    faultOnCreate(arraysim::FaultAction::Drop, true);
    expectRun({"snap", kOraData}, 1);
    const Strings lost = snapshotNames();
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(snapshotStates(), Strings{"failed"});
    EXPECT_EQ(snapshotsOnArray(volume), 3);
    EXPECT_NE(expectRun({"map", lost[0]}, 1).err.find("was not made completely"),
              std::string::npos);

    expectRun({"snap", kOraData});  // at once, in the same second as likely as not
    const Strings both = snapshotNames();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_NE(both[1], lost[0]);
    EXPECT_EQ(snapshotsOnArray(volume), 4);

    EXPECT_NE(expectRun({"reconcile", lost[0]}).out.find("it is on the array: now recorded"),
              std::string::npos);
    EXPECT_EQ(snapshotStates(), (Strings{"created", "created"}));
    // A normal record now: the prepared device's metadata and the id find it on the array.
    expectRun({"map", lost[0]});
    expectRun({"unmap", lost[0]});
    expectRun({"delete", lost[0]});
    EXPECT_EQ(snapshotsOnArray(volume), 3);

    // Refused before the array acted: reconcile finds nothing, but the array may still be at
    // work on it until the settle time has passed; then the record goes.
    faultOnCreate(arraysim::FaultAction::Fail, false);
    expectRun({"snap", kOraData}, 1);
    const std::string refused = snapshotNames().back();
    EXPECT_NE(expectRun({"reconcile", refused}).out.find("kept as unknown"), std::string::npos);
    EXPECT_EQ(snapshotStates().back(), "unknown");
    EXPECT_NE(expectRun({"map", refused}, 1).err.find("was not made completely"),
              std::string::npos);
    writeConfig("create-settle-seconds = 0\n");
    EXPECT_NE(expectRun({"reconcile", refused}).out.find("not on the array: record removed"),
              std::string::npos);
    EXPECT_EQ(snapshotNames(), Strings{both[1]});
    writeConfig();
    expectRun({"snap", kOraData});
    EXPECT_NE(snapshotNames().back(), refused);

    // A run killed while the array works leaves the record "creating"; delete removes both.
    faultOnCreate(arraysim::FaultAction::Latency, false, 1000);
    const pid_t pid = runner->start({"snap", kOraData}, 1);
    awaitFaultsTaken();
    kill(pid, SIGKILL);
    runner->finish(pid, 1);
    EXPECT_EQ(snapshotStates().back(), "creating");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the array finishes
    const int before = snapshotsOnArray(volume);
    expectRun({"delete", snapshotNames().back()});
    EXPECT_EQ(snapshotStates(), (Strings{"created", "created"}));
    EXPECT_EQ(snapshotsOnArray(volume), before - 1);

    // The same for an NFS datastore, whose metadata has another form.
    const std::string share = "pool-b/Local/files/home";
    expectRun({"prepare", kHomeShare});
    const int shareBefore = snapshotsOnArray(share);
    faultOnCreate(arraysim::FaultAction::Drop, true);
    expectRun({"snap", kHomeShare}, 1);
    const std::string lostShare = snapshotNames().back();
    EXPECT_EQ(snapshotStates().back(), "failed");
    EXPECT_EQ(snapshotsOnArray(share), shareBefore + 1);
    expectRun({"reconcile", lostShare});
    EXPECT_EQ(snapshotStates().back(), "created");
    expectRun({"delete", lostShare});
    EXPECT_EQ(snapshotsOnArray(share), shareBefore);
}

// Another host sharing the array made a snapshot of the same volume under the id this run
// picks: the array refuses the create, and the snapshot there is not this host's to adopt or
// delete, so kysnap drops the record at once and says why.
TEST_F(KysnapCli, ASnapshotIdTakenByAnotherHostIsNotAdopted) {
    const std::string volume = "pool-a/Local/oracle/ora-data";
    expectRun({"prepare", kOraData});
    const std::time_t now = std::time(nullptr);
    simulator->withModel([&](arraysim::Model& model) {
        for (std::time_t t = now; t < now + 10; ++t) {
            char stamp[32];
            std::tm utc{};
            gmtime_r(&t, &utc);
            std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
            model.addSnapshot(*model.findDataset(volume),
                              std::string("Manual-V-KY-") + stamp + "-1");
        }
    });
    const int before = snapshotsOnArray(volume);
    EXPECT_NE(expectRun({"snap", kOraData}, 1).out.find("not this host's: no record kept"),
              std::string::npos);
    EXPECT_TRUE(snapshotNames().empty());
    expectRun({"reconcile"}, 1);  // nothing to reconcile, so nothing adopted
    EXPECT_EQ(snapshotsOnArray(volume), before);
}

// A catalog that cannot be saved after the array acted: the run says which snapshots the
// catalog lacks and exits 4, and they are on disk as "creating" for reconcile to settle.
TEST_F(KysnapCli, AFullDiskNamesEverySnapshotTheCatalogDoesNotRecord) {
    const std::string small = path("small");
    mkdir(small.c_str(), 0700);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                     << "); the full-disk case needs one";
    }
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};
    runner->environment["KYSNAP_STATE"] = small + "/catalog.json";
    expectRun({"prepare", kOraData, kOraLogs});
    faultOnCreate(arraysim::FaultAction::Latency, false, 1000);
    const pid_t pid = runner->start({"snap", kOraData, kOraLogs, "--json"}, 1);
    awaitFaultsTaken();
    {
        // Fills the file system while the array works.
        std::ofstream filler(small + "/filler");
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    }
    const CliRun run = runner->finish(pid, 1);
    EXPECT_EQ(run.status, 4) << run.out << run.err;
    jsonxx::Object report;
    ASSERT_TRUE(report.parse(run.out)) << run.out;
    EXPECT_EQ(report.get<jsonxx::Number>("exitStatus"), 4);
    EXPECT_NE(report.get<jsonxx::String>("catalogError").find("No space left on device"),
              std::string::npos);
    ASSERT_EQ(report.get<jsonxx::Array>("unrecorded").size(), 2u);
    std::remove((small + "/filler").c_str());
    const Strings names = snapshotNames();
    ASSERT_EQ(names.size(), 2u);
    for (const std::string& name : names) {
        EXPECT_NE(run.err.find(" " + name), std::string::npos) << run.err;
    }
    EXPECT_EQ(snapshotStates(), (Strings{"creating", "creating"}));
    expectRun({"reconcile"});
    EXPECT_EQ(snapshotStates(), (Strings{"created", "created"}));

    // Full before the call: nothing is made, and a script reading --json still gets an answer.
    {
        std::ofstream filler(small + "/filler");
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    }
    const CliRun refused = runner->run({"snap", kOraData, "--json"});
    EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
    jsonxx::Object answer;
    ASSERT_TRUE(answer.parse(refused.out)) << refused.out;
    EXPECT_EQ(answer.get<jsonxx::Number>("exitStatus"), 1);
    EXPECT_NE(answer.get<jsonxx::String>("error").find("no snapshot was made"), std::string::npos);
    EXPECT_EQ(snapshotNames().size(), 2u);
}

TEST_F(KysnapCli, SnapshotCommandsSayWhatTheyDoAndWhatToDoNext) {
    expectRun({"prepare", kOraData, kOraLogs, kHomeShare});
    const jsonxx::Array snapped =
        requestsOf(expectRun({"snap", kOraData, kHomeShare, kOraLogs, "--json"}));
    ASSERT_EQ(snapped.size(), 3u);
    Strings names;
    for (size_t i = 0; i < snapped.size(); ++i) {
        names.push_back(request(snapped, i).get<jsonxx::String>("snapshot"));
    }
    const std::string& volume = names[0];
    const std::string& share = names[1];
    const std::string& unmapped = names[2];
    expectRun({"map", volume, share});
    struct Case {
        const char* what;
        Strings arguments;
        int exit;
        std::string says;
        std::string never = "";
        std::string typed = "";   // typed on a terminal, when the run has one
        bool onTerminal = false;  // standard input, output and error are a terminal
        std::function<void()> arrange = [] {};
    };
    // New mappings stay out of the host's view for its first `queries` rescans.
    const auto hideNewMappings = [&](int queries) {
        simulator->withModel(
            [&](arraysim::Model& model) { model.behaviour.mappingVisibilityDelay = queries; });
    };
    const std::vector<Case> cases = {
        {"NFS clone listed as server:/path",
         {"list"},
         0,
         "mounted as 127.0.0.1:/export/files/MNT_" + share + "\n",
         "idatype"},
        {"status by name in JSON", {"list", "--json"}, 0, "\"status\": \"mounted\""},
        {"status code beside its name in JSON", {"list", "--json"}, 0, "\"statusCode\": 12"},
        {"volume metadata as named fields in JSON",
         {"list", "--json"},
         0,
         "\"clone\": \"MNT_" + volume + "\"",
         "|MNT_"},
        {"share metadata as an object in JSON, not JSON in a string",
         {"list", "--json"},
         0,
         "\"share\": \"home\"",
         "\"{"},
        {"metadata as named fields in text",
         {"list"},
         0,
         "metadata: version 2.0, lunId 600144F0C8A7B3D1E45F4A2B00010001, volume ora-data, "
         "pool pool-a, project oracle"},
        {"mounted snapshot shown on its device", {"devices"}, 0, "  arr    " + volume + "\n"},
        {"deleting a mounted snapshot names its clone and the command that removes it",
         {"delete", volume},
         1,
         "is mounted as /dev/sim/600144F05A3C9E21",
         "delete    " + volume},
        {"deleting a mounted NFS snapshot names its clone share",
         {"delete", share},
         1,
         "clone pool-b/Local/files/MNT_" + share + " is mounted as 127.0.0.1:/export/files/MNT_" +
             share + ": kysnap unmap " + share + " removes it"},
        {"deleting a mounted snapshot says to unmap it first",
         {"delete", volume},
         1,
         ": kysnap unmap " + volume + " removes it\nkysnap: nothing was deleted"},
        {"delete --dry-run changes nothing",
         {"delete", "--dry-run", unmapped},
         0,
         "delete    " + unmapped + " (" + kOraLogs + "): would be deleted on array arr"},
        {"delete --dry-run of a mounted snapshot says it would be refused",
         {"delete", "--dry-run", volume, unmapped},
         1,
         "delete    " + volume + " (" + kOraData + "): would be refused on array arr"},
        {"revert -n changes nothing",
         {"revert", "-n", "--destroy-newer", unmapped},
         0,
         std::string("would roll ") + kOraLogs + " back to it on array arr"},
        {"revert -n without --destroy-newer says the revert needs it",
         {"revert", "-n", unmapped},
         1,
         "revert    dry run: nothing was changed; the revert needs --destroy-newer"},
        {"revert without --destroy-newer is refused without a terminal",
         {"revert", unmapped},
         1,
         "nothing was reverted: kysnap revert --destroy-newer goes on",
         "reverted ("},
        {"revert without --destroy-newer is refused on a terminal, without asking",
         {"revert", unmapped},
         1,
         "nothing was reverted: kysnap revert --destroy-newer goes on",
         "Revert?",
         "y\n",
         true},
        {"revert on a terminal asks, and no is no",
         {"revert", "--destroy-newer", unmapped},
         1,
         "nothing was reverted",
         "reverted (",
         "n\n",
         true},
        {"revert on a terminal asks, and yes reverts",
         {"revert", "--destroy-newer", unmapped},
         0,
         "Revert? [y/N] ",
         "",
         "y\n",
         true},
        {"revert --yes on a terminal does not ask",
         {"revert", "--destroy-newer", "--yes", unmapped},
         0,
         "reverted (",
         "Revert?",
         "",
         true},
        {"--destroy-newer is for revert only",
         {"delete", "--destroy-newer", unmapped},
         2,
         "--destroy-newer is for revert"},
        {"mapping attempts shown one per line without a terminal",
         {"map", unmapped},
         0,
         "kysnap: mapping attempt 1 of 2 found no device; the host rescans and tries again\n"
         "kysnap: the device appeared at mapping attempt 2 of 2\n",
         "",
         "",
         false,
         [&] { hideNewMappings(1); }},
        {"no mapping attempt shown with --quiet",
         {"map", "--quiet", unmapped},
         0,
         "map       " + unmapped,
         "mapping attempt",
         "",
         false,
         [&] {
             expectRun({"unmap", unmapped});
             hideNewMappings(1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        const CliRun run = c.onTerminal ? runner->runOnTerminal(c.arguments, c.typed, 20)
                                        : runner->run(c.arguments, 20);
        EXPECT_EQ(run.status, c.exit) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
        if (!c.never.empty()) {
            EXPECT_EQ((run.out + run.err).find(c.never), std::string::npos) << run.out << run.err;
        }
    }
    // Nothing above deleted a snapshot.
    EXPECT_EQ(snapshotNames(), names);
}

// LUNs made before IntelliFlash 3.x answer TEGILE with ZEBI-FC or ZEBI-ISCSI: each command
// that judges a device names such a LUN for what it is, while the plug-in still says no.
TEST_F(KysnapCli, OlderIntelliFlashIdentitiesAreNamedForWhatTheyAre) {
    for (const std::string product : {"ZEBI-FC", "ZEBI-ISCSI"}) {
        SCOPED_TRACE(product);
        simulator->withModel([&](arraysim::Model& model) {
            model.findDataset("pool-a/Local/oracle/ora-logs")->inquiryProduct = product;
        });
        const std::string older = "an IntelliFlash LUN of an older identity (TEGILE " + product +
                                  ", from before IntelliFlash 3.x), which this plug-in does "
                                  "not support";
        struct Case {
            Strings arguments;
            int exit;
            std::string says;
        };
        const std::vector<Case> cases = {
            {{"inquiry", kOraLogs}, 0, "supported: no (" + older + ")"},
            {{"inquiry", kOraLogs, "--json"}, 0, "\"identity\": \"" + older + "\""},
            {{"inquiry", kOraData}, 0, "supported: yes (IntelliFlash volume)"},
            {{"devices"}, 0, std::string(kOraLogs) + " is " + older + "\n"},
            {{"devices", "--json"}, 0, "\"identity\": \"" + older + "\""},
            {{"check"}, 0, "LUN 600144F0C8A7B3D1E45F4A2B00010002 is " + older},
            {{"support", kOraLogs}, 1, "not supported"},
        };
        for (const Case& c : cases) {
            const CliRun run = runner->run(c.arguments);
            EXPECT_EQ(run.status, c.exit) << c.arguments[0] << "\n" << run.out << run.err;
            EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << c.says << "\n"
                                                                           << run.out << run.err;
        }
    }
}

TEST_F(KysnapCli, RunFromTheBuildTreeItFindsThePluginBuiltBesideItFromAnyDirectory) {
    // The plug-in's place is kept relative to kysnap's own directory, not to where it runs.
    std::map<std::string, std::string> environment = runner->environment;
    environment["KYSNAP_PLUGIN"] = "";
    KysnapRunner elsewhere("/", environment);
    const CliRun run = elsewhere.run({"--version"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(std::string(KYSNAP_PLUGIN_PATH) + ": plug-in version 1."),
              std::string::npos)
        << run.out << run.err;
}

TEST_F(KysnapCli, EachFailureIsOneClearMessage) {
    const std::string port = std::to_string(simulator->port());
    struct Case {
        const char* what;
        std::function<void()> arrange;
        Strings arguments;
        int exit;
        std::string says;
        std::string never = "";  // must not reach the terminal
    };
    // What the array says, as a hostile array or something in its place says it.
    const auto fault = [&](const char* method, arraysim::FaultAction action, int latencyMs,
                           std::string body) {
        arraysim::Fault added;
        added.method = method;
        added.action = action;
        added.remaining = -1;
        added.status = 200;
        added.latencyMs = latencyMs;
        added.body = std::move(body);
        simulator->faults().add(added);
    };
    // Every call of `method` fails with HTTP 500.
    const auto failEvery = [&](const char* method) {
        arraysim::Fault failed;
        failed.method = method;
        failed.remaining = -1;
        simulator->faults().add(failed);
    };
    const auto apiVersion = [&](const std::string& version) {
        simulator->withModel([&](arraysim::Model& model) { model.system.apiVersion = version; });
    };
    std::string originalVersion;
    std::vector<arraysim::TargetGroup> originalTargetGroups;
    simulator->withModel([&](arraysim::Model& model) {
        originalVersion = model.system.apiVersion;
        originalTargetGroups = model.targetGroups;
    });
    // Every target group's first target, the one its LUNs' page 0x83 names, becomes `name`.
    const auto firstTarget = [&](const std::string& name) {
        simulator->withModel([&](arraysim::Model& model) {
            for (arraysim::TargetGroup& group : model.targetGroups) {
                if (!group.targets.empty()) {
                    group.targets.front() = name;
                }
            }
        });
    };
    const std::string emptyRoot = path("empty-root");
    mkdir(emptyRoot.c_str(), 0700);
    const std::string linuxConfig =
        "[host]\nbackend = linux\n[array arr]\naddress = 127.0.0.1:" + port +
        "\nuser = admin\npassword-file = " + path("array.password") + "\n";
    const std::string config = path("kysnap.conf");
    // A configuration whose only array has `address`, on line 3.
    const auto arrayAt = [&](const std::string& address) {
        return [&, address] {
            writeConfig("", "[host]\n[array arr]\naddress = " + address +
                                "\nuser = admin\npassword-file = " + path("array.password") + "\n");
        };
    };
    // A FIFO where `variable` points: whatever opens it blocking waits for good.
    const std::string fifo = path("fifo");
    const std::string isFifo = " is not a regular file (it is a FIFO)";
    const auto fifoIn = [&](const char* variable) {
        return [&, variable] {
            mkfifo(fifo.c_str(), 0600);
            runner->environment[variable] = fifo;
        };
    };
    const std::string withNul = std::string("name = db", 9) + '\0' + "01\n";
    const std::string pin = "sha256//" + std::string(43, 'Q') + "=";
    // Files and directories of the pins file's rows, with their mode set whatever the umask,
    // and given to another user where a row says so (the suite runs as root).
    const std::string elsewhere = path("elsewhere");
    constexpr uid_t kNoOwner = static_cast<uid_t>(-1);
    constexpr uid_t kOtherUser = 65534;
    const auto giveTo = [](const std::string& name, mode_t mode, uid_t owner) {
        EXPECT_EQ(chmod(name.c_str(), mode), 0) << name;
        if (owner != kNoOwner) {
            EXPECT_EQ(chown(name.c_str(), owner, owner), 0) << "the suite runs as root";
        }
    };
    const auto pinsFileAt = [&](const std::string& name, mode_t mode, uid_t owner) {
        std::ofstream(name) << "127.0.0.1 " + pin + "\n";
        giveTo(name, mode, owner);
    };
    const auto directoryAt = [&](const std::string& name, mode_t mode, uid_t owner) {
        EXPECT_EQ(mkdir(name.c_str(), 0700), 0) << name;
        giveTo(name, mode, owner);
    };
    // The pins file elsewhere/kysnap.pins, named by KYSNAP_TLS_PINS_FILE.
    const std::string pinsElsewhere = elsewhere + "/kysnap.pins";
    const auto pinsIn = [&](mode_t directoryMode, uid_t directoryOwner, uid_t fileOwner) {
        return [&, directoryMode, directoryOwner, fileOwner] {
            directoryAt(elsewhere, directoryMode, directoryOwner);
            pinsFileAt(pinsElsewhere, 0644, fileOwner);
            runner->environment["KYSNAP_TLS_PINS_FILE"] = pinsElsewhere;
        };
    };
    const std::vector<Case> cases = {
        {"missing plug-in",
         [&] { runner->environment["KYSNAP_PLUGIN"] = path("nowhere/libKySnapTegile.so"); },
         {"version"},
         1,
         "cannot load the plug-in " + path("nowhere/libKySnapTegile.so")},
        {"library that is no plug-in",
         [&] { runner->environment["KYSNAP_PLUGIN"] = KYPLATFORM_PATH; },
         {"prepare", kOraData},
         1,
         "is not a snapshot plug-in: it lacks kyso_version, "},
        {"malformed configuration",
         [&] { writeConfig("", "[host]\nretry-count = soon\n"); },
         {"list"},
         1,
         "kysnap.conf:2: retry-count must be a whole number"},
        {"an FC initiator that is no port name",
         [&] { writeConfig("", "[host]\nfc-initiators = 21:00:00:24:ff:3d:2a:10, 21:00:00:24\n"); },
         {"list"},
         1,
         "kysnap.conf:2: fc-initiators: '21:00:00:24' is not an FC port name: 16 hex digits, "
         "with or without ':' or wwn."},
        {"an iSCSI initiator that is no iSCSI name",
         [&] { writeConfig("", "[host]\niscsi-initiators = db01\n"); },
         {"list"},
         1,
         "kysnap.conf:2: iscsi-initiators: 'db01' is not an iSCSI name"},
        {"a settle time out of range",
         [&] { writeConfig("", "[host]\ncreate-settle-seconds = -1\n"); },
         {"list"},
         1,
         "kysnap.conf:2: create-settle-seconds must be a whole number from 0 to 86400"},
        {"unknown configuration key",
         [&] { writeConfig("colour = blue\n"); },
         {"check"},
         1,
         "kysnap.conf:7: unknown key 'colour' in [host]"},
        {"second [host] section",
         [&] { writeConfig("[host]\nname = other\n"); },
         {"check"},
         1,
         "kysnap.conf:7: [host] is given a second time (first at " + config + ":1); give it once"},
        {"same array section twice",
         [&] { writeConfig("[array arr]\nuser = other\n"); },
         {"list"},
         1,
         "kysnap.conf:10: [array arr] is given a second time (first at " + config + ":7)"},
        {"key given twice in a section",
         [&] { writeConfig("retry-count = 5\n"); },
         {"list"},
         1,
         "kysnap.conf:7: 'retry-count' in [host] is given a second time (first at " + config +
             ":5)"},
        {"address with an empty port",
         arrayAt("127.0.0.1:"),
         {"list"},
         1,
         "kysnap.conf:3: the port of address '127.0.0.1:' must be a number from 1 to 65535 "
         "after ':'"},
        {"address with a port over 65535",
         arrayAt("127.0.0.1:99999"),
         {"list"},
         1,
         "kysnap.conf:3: the port of address '127.0.0.1:99999' must be a number from 1 to "
         "65535, not '99999'"},
        {"address with port 0", arrayAt("127.0.0.1:0"), {"list"}, 1, "not '0'"},
        {"address with a named port", arrayAt("array.example:https"), {"list"}, 1, "not 'https'"},
        {"bare IPv6 address",
         arrayAt("fd00::5"),
         {"list"},
         1,
         "an IPv6 address goes in brackets, as [ADDRESS] or [ADDRESS]:PORT"},
        {"pins file line without a pin",
         [&] { std::ofstream(path("kysnap.pins")) << "# arrays\n127.0.0.1:" + port + "\n"; },
         {"list"},
         1,
         "kysnap.pins:2: no pin after the address 127.0.0.1:" + port},
        {"pins file with a pin that is no SHA-256 digest",
         [&] { std::ofstream(path("kysnap.pins")) << "127.0.0.1 sha256//abc=\n"; },
         {"check"},
         1,
         "kysnap.pins:1: 'sha256//abc=' is no pin: a pin is sha256// and the base64 form of a "
         "32-byte SHA-256 digest (44 characters ending in '='); correct that line of " +
             path("kysnap.pins")},
        {"pins file giving one array twice, written two ways",
         [&] {
             std::ofstream(path("kysnap.pins"))
                 << "[fd00::10] " + pin + "\n\n[FD00:0::10]:443 " + pin + "\n";
         },
         {"list"},
         1,
         "kysnap.pins:3: the array [FD00:0::10]:443 is given a second time (first at " +
             path("kysnap.pins") + ":1)"},
        {"pins file with an IPv6 address without brackets",
         [&] { std::ofstream(path("kysnap.pins")) << "fd00::10 " + pin + "\n"; },
         {"list"},
         1,
         "kysnap.pins:1: 'fd00::10' is no array address"},
        {"pins file with a control character",
         [&] { std::ofstream(path("kysnap.pins")) << "127.0.0.1 " + pin + "\x1b[2J\n"; },
         {"list"},
         1,
         "kysnap.pins:1: the byte 0x1b at column 63: a pins file holds only printable ASCII"},
        {"pins file anybody may write",
         [&] {
             std::ofstream(path("kysnap.pins")) << "127.0.0.1 " + pin + "\n";
             chmod(path("kysnap.pins").c_str(), 0666);
         },
         {"list"},
         1,
         "the pins file " + path("kysnap.pins") + " can be written by anybody"},
        {"pins file its group may write",
         [&] { pinsFileAt(path("kysnap.pins"), 0664, kNoOwner); },
         {"list"},
         1,
         "the pins file " + path("kysnap.pins") + " can be written by its group (mode 0664), " +
             "who could then decide which keys are trusted; run: chmod go-w " +
             path("kysnap.pins")},
        {"pins file of another user",
         [&] { pinsFileAt(path("kysnap.pins"), 0644, kOtherUser); },
         {"list"},
         1,
         "the pins file " + path("kysnap.pins") + " belongs to another user (uid 65534)"},
        {"pins file that is a symbolic link",
         [&] {
             directoryAt(elsewhere, 0700, kNoOwner);
             pinsFileAt(elsewhere + "/real.pins", 0644, kNoOwner);
             EXPECT_EQ(symlink((elsewhere + "/real.pins").c_str(), path("kysnap.pins").c_str()), 0);
         },
         {"list"},
         1,
         "the pins file " + path("kysnap.pins") + " is a symbolic link"},
        {"pins file in a directory its group may write",
         [&] {
             directoryAt(elsewhere, 0770, kNoOwner);
             pinsFileAt(pinsElsewhere, 0644, kNoOwner);
             writeConfig("pins-file = " + pinsElsewhere + "\n");
         },
         {"list"},
         1,
         "the pins file " + pinsElsewhere + " lies in " + elsewhere +
             ", which can be written by group or others (mode 0770); run: chmod go-w " + elsewhere},
        {"KYSNAP_TLS_PINS_FILE below a directory others may write",
         [&] {
             directoryAt(elsewhere, 0777, kNoOwner);
             directoryAt(elsewhere + "/inner", 0700, kNoOwner);
             pinsFileAt(elsewhere + "/inner/kysnap.pins", 0644, kNoOwner);
             runner->environment["KYSNAP_TLS_PINS_FILE"] = elsewhere + "/inner/kysnap.pins";
         },
         {"check"},
         1,
         "the pins file " + elsewhere + "/inner/kysnap.pins lies in " + elsewhere +
             ", which can be written by group or others (mode 0777)"},
        {"KYSNAP_TLS_PINS_FILE naming another user's file",
         pinsIn(0755, kNoOwner, kOtherUser),
         {"prepare", kOraData},
         1,
         "the pins file " + pinsElsewhere + " belongs to another user (uid 65534)"},
        {"pins file in another user's directory",
         pinsIn(0755, kOtherUser, kNoOwner),
         {"list"},
         1,
         "the pins file " + pinsElsewhere + " lies in " + elsewhere +
             ", which belongs to another user (uid 65534)"},
        {"pins file in a shared sticky directory is ours alone",
         pinsIn(01777, kNoOwner, kNoOwner),
         {"trust", "--list"},
         0,
         "pins in " + pinsElsewhere + ":\n  127.0.0.1 " + pin},
        {"pins lock of another user",
         [&] {
             std::ofstream(path("kysnap.pins.lock")).flush();
             EXPECT_EQ(chown(path("kysnap.pins.lock").c_str(), kOtherUser, kOtherUser), 0);
         },
         {"trust", "--remove", "arr"},
         1,
         "the pins lock " + path("kysnap.pins.lock") + " belongs to another user (uid 65534)"},
        {"pins lock that is a FIFO",
         [&] { mkfifo(path("kysnap.pins.lock").c_str(), 0600); },
         {"trust", "--remove", "arr"},
         1,
         "the pins lock " + path("kysnap.pins.lock") + " is not a regular file (it is a FIFO)"},
        {"NUL byte in a line",
         [&] { writeConfig(withNul); },
         {"list"},
         1,
         "kysnap.conf:7: a NUL byte at column 10: a configuration holds only text"},
        {"control character in a line",
         [&] { writeConfig("target-group = fc\x1b[2J\n"); },
         {"list"},
         1,
         "kysnap.conf:7: the control character \\x1b at column 18"},
        {"byte order mark at the start is accepted",
         [&] {
             writeConfig();
             writeConfig("", "\xEF\xBB\xBF" + readFile(config));
         },
         {"snap", kOraLogs},
         1,
         kOraLogs + std::string(" is not prepared")},
        {"invisible character shown escaped",
         [&] {
             writeConfig(
                 "\xEF\xBB\xBF"
                 "colour = blue\n");
         },
         {"list"},
         1,
         "kysnap.conf:7: unknown key '\\u{FEFF}colour' in [host]"},
        {"password file others can read",
         [&] { chmod(path("array.password").c_str(), 0644); },
         {"prepare", kOraData},
         1,
         "can be read or written by group or others (mode 0644); run: chmod 600 " +
             path("array.password")},
        {"unreachable array",
         [&] {
             writeConfig("",
                         "[host]\nfc-initiators = 21:00:00:24:ff:3d:2a:10\n[array arr]\n"
                         "address = 127.0.0.1:1\nuser = admin\npassword-file = " +
                             path("array.password") + "\n");
         },
         {"check"},
         1,
         "FAIL  array arr: cannot connect to 127.0.0.1:1: Connection refused"},
        {"snapshot of an unprepared device",
         [] {},
         {"snap", kOraLogs},
         1,
         kOraLogs + std::string(" is not prepared")},
        {"linux host without HBAs",
         [&] {
             writeConfig("", linuxConfig);
             runner->environment["KYSNAP_LINUX_ROOT"] = emptyRoot;
         },
         {"check"},
         1,
         "this machine has no FC HBA (nothing in /sys/class/fc_host)"},
        {"configuration that is a FIFO",
         fifoIn("KYSNAP_CONFIG"),
         {"list"},
         1,
         "the configuration " + fifo + isFifo},
        {"configuration without end",
         [&] { runner->environment["KYSNAP_CONFIG"] = "/dev/zero"; },
         {"list"},
         1,
         "the configuration /dev/zero is not a regular file (it is a character device)"},
        {"password file that is a FIFO",
         [&] {
             mkfifo(path("fifo").c_str(), 0600);
             writeConfig("",
                         "[host]\nfc-initiators = 21:00:00:24:ff:3d:2a:10\n[array arr]\n"
                         "address = 127.0.0.1:" +
                             port + "\nuser = admin\npassword-file = " + path("fifo") + "\n");
         },
         {"prepare", kOraData},
         1,
         "password file " + path("fifo") + " is not a regular file (it is a FIFO)"},
        {"CA file that is a FIFO, when the array is checked",
         fifoIn("KYSNAP_TLS_CA_FILE"),
         {"check"},
         1,
         "the CA file " + fifo + isFifo},
        {"CA file that is a FIFO, when the array's key is pinned",
         fifoIn("KYSNAP_TLS_CA_FILE"),
         {"trust", "arr", "--yes"},
         1,
         "the CA file " + fifo + isFifo},
        {"ca-file that is a FIFO, when the plug-in and the host view reach the array",
         [&] {
             mkfifo(path("fifo").c_str(), 0600);
             writeConfig("", readFile(config) + "ca-file = " + path("fifo") + "\n");
         },
         {"prepare", kOraData},
         1,
         "the CA file " + fifo + isFifo},
        {"CA file that holds no certificate, in the host view",
         [&] {
             std::ofstream(path("not-a-ca.pem")) << "no certificate here\n";
             runner->environment["KYSNAP_TLS_CA_FILE"] = path("not-a-ca.pem");
         },
         {"inquiry", kOraData},
         1,
         "the CA file " + path("not-a-ca.pem") + " cannot be read as PEM certificates",
         "SSLLoadingCerts"},
        {"plug-in that is a FIFO",
         fifoIn("KYSNAP_PLUGIN"),
         {"version"},
         1,
         "the plug-in " + fifo + isFifo},
        {"plug-in that is a FIFO, in check",
         fifoIn("KYSNAP_PLUGIN"),
         {"check"},
         1,
         "the plug-in " + fifo + isFifo},
        {"linux host without the device",
         [&] {
             writeConfig("", linuxConfig);
             runner->environment["KYSNAP_LINUX_ROOT"] = emptyRoot;
         },
         {"inquiry", emptyRoot + "/dev/sdq"},
         1,
         "/dev/sdq: No such file or directory"},
        {"inquiry without a configuration asks the device alone",
         [&] {
             runner->environment["KYSNAP_CONFIG"] = "";
             runner->environment["HOME"] = emptyRoot;
             runner->environment["XDG_CONFIG_HOME"] = "";
         },
         {"inquiry", emptyRoot + "/dev/sdq"},
         1,
         "kysnap: INQUIRY of " + emptyRoot + "/dev/sdq failed: ",
         "configuration"},
        {"binary target id printed escaped and as hex",
         [&] { firstTarget("wwn.\x01\x1b[2J\xff"); },
         {"inquiry", kOraData},
         0,
         "target id: wwn.\\x01\\x1b[2J\\xff (hex 77776e2e011b5b324aff)",
         "\x1b"},
        {"binary target id as text and as hex in JSON",
         [&] { firstTarget("wwn.\x01\x1b[2J\xff"); },
         {"inquiry", kOraData, "--json"},
         0,
         "\"targetIdHex\": \"77776e2e011b5b324aff\"",
         "\x1b"},
        {"check of a device whose target id names no array target",
         [&] { fault("listTargetsInTargetGroup", arraysim::FaultAction::Respond, 0, "[]"); },
         {"check"},
         1,
         "FAIL  device " + std::string(kOraData) +
             ": LUN 600144F0C8A7B3D1E45F4A2B00010001: its target id \"wwn.2100001B32A1B2C3\" "
             "names no FC target of a configured array; vpd and prepare will not find it: add "
             "the [array NAME] section of the array that presents it"},
        {"time-out in check",
         [&] {
             runner->environment["KYSNAP_HTTP_TIMEOUT"] = "1";
             fault("listSystemProperties", arraysim::FaultAction::Latency, 2500, "");
         },
         {"check"},
         1,
         "FAIL  array arr: its API version cannot be read: time-out: no complete answer within 1 "
         "seconds (KYSNAP_HTTP_TIMEOUT)"},
        {"answer over 64 MiB in check",
         [&] {
             fault("listSystemProperties", arraysim::FaultAction::Respond, 0,
                   std::string((64u << 20) + 1, ' '));
         },
         {"check"},
         1,
         "FAIL  array arr: its API version cannot be read: the answer exceeded 64 MiB"},
        {"answer over 64 MiB in prepare",
         [&] {
             fault("listSystemProperties", arraysim::FaultAction::Respond, 0,
                   std::string((64u << 20) + 1, ' '));
         },
         {"prepare", kOraData},
         1,
         "http request failed: the answer exceeded 64 MiB"},
        {"certificate refused with the sim backend",
         [&] { runner->environment["KYSNAP_TLS_CA_FILE"] = "/etc/ssl/certs/ca-certificates.crt"; },
         {"prepare", kOraData},
         1,
         "the certificate of the array simulator at 127.0.0.1:" + port + " was refused",
         "No such device"},
        {"wrong password on the host's first prepare",
         [&] {
             // No catalog: the plug-in must first find the array that serves the device.
             unlink(path("catalog.json").c_str());
             std::ofstream(path("array.password")) << "not-the-password\n";
         },
         {"prepare", kOraData},
         1,
         "prepare   the array refused the credentials; run kysnap check"},
        {"a long API version is cut where check quotes it, its length stated",
         [&] { apiVersion(std::string(50000, '9')); },
         {"check"},
         1,
         "FAIL  array arr: API version \"" + std::string(200, '9') +
             "... (50000 bytes in all)\" is no version number",
         std::string(201, '9')},
        {"a device is not blamed on the configuration when the array's targets cannot be read",
         [&] { failEvery("listFCTargetGroups"); },
         {"check"},
         1,
         "warn  device /dev/sim/600144F0C8A7B3D1E45F4A2B00010001: LUN "
         "600144F0C8A7B3D1E45F4A2B00010001: cannot tell which array presents it (target id "
         "\"wwn.2100001B32A1B2C3\"), because array arr: its FC target groups cannot be read "
         "(the array answered HTTP 500); run kysnap check again once the array answers",
         "add the [array NAME] section"},
        {"a device is not blamed when the array cannot be asked about its LUN",
         [&] { failEvery("listLunsById"); },
         {"check"},
         0,
         "warn  device /dev/sim/600144F0C8A7B3D1E45F4A2B00010001: LUN "
         "600144F0C8A7B3D1E45F4A2B00010001 on target wwn.2100001B32A1B2C3 of array arr (FC "
         "target group default-fc-target-group): the array cannot be asked for it (the array "
         "answered HTTP 500); run kysnap check again once the array answers",
         "check which array presents this LUN"},
        // An answer with a key twice could say either thing: check reads neither, and says so.
        {"a LUN answer with a key given twice is not read, and the device not called good",
         [&] {
             fault("listLunsById", arraysim::FaultAction::Respond, 0,
                   "[{\"datasetPath\": \"pool-a/Local/oracle/ora-data\", \"datasetPath\": "
                   "\"pool-b/Local/x/y\"}]");
         },
         {"check"},
         0,
         "warn  device /dev/sim/600144F0C8A7B3D1E45F4A2B00010001: LUN "
         "600144F0C8A7B3D1E45F4A2B00010001 on target wwn.2100001B32A1B2C3 of array arr (FC "
         "target group default-fc-target-group): the array cannot be asked for it (its answer "
         "cannot be read: the key \"datasetPath\" appears twice in one object (at byte",
         "is volume"},
        {"text after a target group listing: the groups are not read",
         [&] {
             fault("listFCTargetGroups", arraysim::FaultAction::Respond, 0,
                   "[\"default-fc-target-group\"] [\"other\"]");
         },
         {"check"},
         1,
         "FAIL  array arr: the FC target groups cannot be read; its answer cannot be read: there "
         "is text after the JSON document (at byte 28)",
         "ok    array arr: FC target group"},
        {"escape sequences in the API version",
         [&] { apiVersion("\x1b]0;owned\x07\x1b[2J2.1"); },
         {"check"},
         1,
         "FAIL  array arr: API version \"\\x1b]0;owned\\x07\\x1b[2J2.1\" is no version number "
         "(a decimal number such as 2.1, optionally with a patch level); not supported",
         "\x1b"},
        {"API version with a patch level",
         [&] { apiVersion("2.1.0"); },
         {"check"},
         0,
         "ok    array arr: API version 2.1.0: volumes and NFS shares supported"},
        {"exponent as API version",
         [&] { apiVersion("1e999"); },
         {"check"},
         1,
         "FAIL  array arr: API version \"1e999\" is no version number"},
        {"NUL in the API version",
         [&] { apiVersion(std::string("2.1\0", 4)); },
         {"check"},
         1,
         "FAIL  array arr: API version \"2.1\\x00\" is no version number"},
        // The simulator answers bytes that are no UTF-8 as the text \xNN.
        {"invalid UTF-8 in the API version",
         [&] { apiVersion("2.1\xff\xc0"); },
         {"check"},
         1,
         "FAIL  array arr: API version \"2.1\\xFF\\xC0\" is no version number"},
        {"--version without a command", [] {}, {"--version"}, 0, ": plug-in version 1."},
        {"--help shows the configuration format",
         [] {},
         {"--help"},
         0,
         "password-file = /etc/kysnap/ora1.password"},
        {"--opt=value form of an option",
         [&] { runner->environment["KYSNAP_CONFIG"] = path("nowhere.conf"); },
         {"--config=" + config, "snap", kOraLogs},
         1,
         kOraLogs + std::string(" is not prepared")},
        {"short options", [] {}, {"-J", "list", "-c", config}, 0, "\"snapshots\": ["},
        {"option that takes no value given one",
         [] {},
         {"list", "--json=yes"},
         2,
         "--json takes no value"},
        {"short option without its value", [] {}, {"list", "-c"}, 2, "--config needs a value"},
        {"map without a snapshot names the argument before the configuration",
         [&] { runner->environment["KYSNAP_CONFIG"] = path("nowhere.conf"); },
         {"map"},
         2,
         "map needs at least one snapshot",
         "configuration"},
        {"list without a configuration",
         [&] {
             runner->environment["KYSNAP_CONFIG"] = "";
             runner->environment["HOME"] = emptyRoot;
             runner->environment["XDG_CONFIG_HOME"] = "";
         },
         {"list"},
         0,
         "snapshots: 0",
         "configuration"},
        {"support needs no password on a linux host",
         [&] {
             writeConfig("", "[host]\nbackend = linux\n[array arr]\naddress = 127.0.0.1:" + port +
                                 "\nuser = admin\npassword-file = " + path("nowhere.password") +
                                 "\n");
             runner->environment["KYSNAP_LINUX_ROOT"] = emptyRoot;
         },
         {"support", emptyRoot + "/dev/sdq"},
         1,
         "/dev/sdq: not supported",
         "password"},
        {"refused connection of the host view says why",
         [&] {
             writeConfig("",
                         "[host]\nfc-initiators = 21:00:00:24:ff:3d:2a:10\n[array arr]\n"
                         "address = 127.0.0.1:1\nuser = admin\npassword-file = " +
                             path("array.password") + "\n");
         },
         {"inquiry", kOraData},
         1,
         "cannot be reached: Connection refused"},
        {"ca-file of the array is what the plug-in trusts",
         [&] {
             runner->environment["KYSNAP_TLS_CA_FILE"] = "";
             writeConfig("", readFile(config) + "ca-file = " + simulator->caFile() + "\n");
         },
         {"vpd", kOraData},
         0,
         "LUN 600144F0C8A7B3D1E45F4A2B00010001 target wwn.2100001B32A1B2C3 array arr"},
        {"arrays naming different CA files, each trusted for its own array",
         [&] {
             writeConfig("", readFile(config) + "ca-file = " + simulator->caFile() +
                                 "\n[array other]\naddress = 127.0.0.1:2\nuser = admin\n"
                                 "password-file = " +
                                 path("array.password") + "\nca-file = " + path("other-ca.pem") +
                                 "\n");
         },
         {"list"},
         0,
         "snapshots: 0"},
        {"devices shows each device's LUN, target and array",
         [&] {
             expectRun({"vpd", kOraData});
         },
         {"devices"},
         0,
         std::string(kOraData) +
             "  600144F0C8A7B3D1E45F4A2B00010001  wwn.2100001B32A1B2C3  arr    -"},
        {"devices in JSON",
         [] {},
         {"devices", "--json"},
         0,
         "\"lunId\": \"600144F0C8A7B3D1E45F4A2B00010002\""},
    };
    const auto environment = runner->environment;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        const CliRun run = runner->run(c.arguments, 20);
        EXPECT_EQ(run.status, c.exit) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
        EXPECT_EQ((run.out + run.err).find(kPassword), std::string::npos);
        if (!c.never.empty()) {
            EXPECT_EQ((run.out + run.err).find(c.never), std::string::npos) << run.out << run.err;
        }
        runner->environment = environment;
        simulator->faults().clear();
        apiVersion(originalVersion);
        simulator->withModel(
            [&](arraysim::Model& model) { model.targetGroups = originalTargetGroups; });
        std::ofstream(path("array.password")) << password << "\n";
        unlink(path("fifo").c_str());
        unlink(path("kysnap.pins").c_str());
        unlink(path("kysnap.pins.lock").c_str());
        std::error_code ignored;
        std::filesystem::remove_all(elsewhere, ignored);
        chmod(path("array.password").c_str(), 0600);
        writeConfig();
    }
}

// Another run that holds the pins lock is waited for with a notice, and for a bounded time: a
// lock nobody releases ends the run with a message instead of a silent hang.
TEST_F(KysnapCli, AHeldPinsLockIsAwaitedWithANoticeAndNotForever) {
    const std::string lock = path("kysnap.pins.lock");
    const int held = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const std::string notice = "kysnap: waiting for another kysnap run to release " + lock;

    // Released while the run waits: it goes on.
    const pid_t waiting = runner->start({"trust", "--remove", "arr"}, 1);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_EQ(flock(held, LOCK_UN), 0);
    const CliRun released = runner->finish(waiting, 1, 20);
    EXPECT_EQ(released.status, 1) << released.out << released.err;
    EXPECT_NE(released.err.find(notice), std::string::npos) << released.err;
    EXPECT_NE(released.out.find(") has no pin in " + path("kysnap.pins")), std::string::npos)
        << released.out;

    // Never released: the run gives up after its time.
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    const CliRun abandoned = runner->run({"trust", "--remove", "arr"}, 40);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(abandoned.status, 1) << abandoned.out << abandoned.err;
    EXPECT_NE(abandoned.err.find(notice), std::string::npos) << abandoned.err;
    EXPECT_NE(abandoned.err.find("kysnap: gave up waiting for " + lock + " after 10 seconds"),
              std::string::npos)
        << abandoned.err;
    EXPECT_LT(seconds, 20.0);
    close(held);
}

}  // namespace
}  // namespace kysnap_test
