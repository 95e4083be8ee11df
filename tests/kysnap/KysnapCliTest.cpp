// kysnap end to end: its subcommands as subprocesses against an array simulator, the catalog
// across invocations, concurrent and interrupted runs, and the failures a new user meets.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <regex>
#include <set>

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
    Strings snapshotNames() {
        Strings names;
        const jsonxx::Object kept = catalog();
        const jsonxx::Array& list = kept.get<jsonxx::Array>("snapshots");
        for (size_t i = 0; i < list.size(); ++i) {
            names.push_back(request(list, i).get<jsonxx::String>("name"));
        }
        return names;
    }
};

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
    EXPECT_NE(expectRun({"support", kOraData, "/dev/sim/NONE"}, 2).out.find("not supported"),
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
        EXPECT_EQ(request(snapped, i).get<jsonxx::String>("statusName"), "snapshot created");
    }
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 3u);
    EXPECT_EQ(snapshotsOnArray("pool-a/Local/oracle/ora-logs"), 1);

    Strings map = {"map", "--json"};
    map.insert(map.end(), names.begin(), names.end());
    const jsonxx::Array mapped = requestsOf(expectRun(map));
    for (size_t i = 0; i < mapped.size(); ++i) {
        EXPECT_EQ(request(mapped, i).get<jsonxx::Number>("status"), 12);
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

    expectRun({"revert", names[1]});
    expectRun({"reconcile"});
    Strings remove = {"delete"};
    remove.insert(remove.end(), names.begin(), names.end());
    expectRun(remove);
    EXPECT_TRUE(snapshotNames().empty());
    EXPECT_EQ(snapshotsOnArray("pool-a/Local/oracle/ora-logs"), 0);
    EXPECT_NE(expectRun({"reconcile"}, 3).err.find("no snapshot to reconcile"), std::string::npos);
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

TEST_F(KysnapCli, InterruptedCatalogWriteLeavesTheOldCatalogIntact) {
    expectRun({"prepare", kOraData});
    const std::string before = readFile(path("catalog.json"));
    ASSERT_GT(before.size(), 64u);
    // The run is killed (SIGXFSZ) while it writes the new catalog.
    EXPECT_EQ(runner->runWithFileSizeLimit({"unprepare", kOraData}, 32).status, 128 + SIGXFSZ);
    EXPECT_EQ(readFile(path("catalog.json")), before);
    EXPECT_EQ(catalog().get<jsonxx::Object>("devices").size(), 1u);
    // The next writer finishes the job and sweeps the interrupted run's temporary file away.
    expectRun({"unprepare", kOraData});
    EXPECT_EQ(catalog().get<jsonxx::Object>("devices").size(), 0u);
    DIR* dir = opendir(directory.c_str());
    while (const dirent* entry = readdir(dir)) {
        EXPECT_EQ(std::string(entry->d_name).find(".tmp."), std::string::npos) << entry->d_name;
    }
    closedir(dir);
}

TEST_F(KysnapCli, EachFailureIsOneClearMessage) {
    const std::string port = std::to_string(simulator->port());
    struct Case {
        const char* what;
        std::function<void()> arrange;
        Strings arguments;
        int exit;
        std::string says;
    };
    const std::string emptyRoot = path("empty-root");
    mkdir(emptyRoot.c_str(), 0700);
    const std::string linuxConfig =
        "[host]\nbackend = linux\n[array arr]\naddress = 127.0.0.1:" + port +
        "\nuser = admin\npassword-file = " + path("array.password") + "\n";
    const std::vector<Case> cases = {
        {"missing plug-in",
         [&] { runner->environment["KYSNAP_PLUGIN"] = path("nowhere/libKySnapTegile.so"); },
         {"version"},
         3,
         "cannot load the plug-in " + path("nowhere/libKySnapTegile.so")},
        {"library that is no plug-in",
         [&] { runner->environment["KYSNAP_PLUGIN"] = KYPLATFORM_PATH; },
         {"prepare", kOraData},
         3,
         "is not a snapshot plug-in: it lacks kyso_version, "},
        {"malformed configuration",
         [&] { writeConfig("retry-count = soon\n"); },
         {"list"},
         3,
         "kysnap.conf:7: retry-count must be a whole number"},
        {"unknown configuration key",
         [&] { writeConfig("colour = blue\n"); },
         {"check"},
         1,
         "kysnap.conf:7: unknown key 'colour' in [host]"},
        {"password file others can read",
         [&] { chmod(path("array.password").c_str(), 0644); },
         {"prepare", kOraData},
         3,
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
         3,
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
         [&] {
             mkfifo(path("fifo").c_str(), 0600);
             runner->environment["KYSNAP_CONFIG"] = path("fifo");
         },
         {"list"},
         3,
         "the configuration " + path("fifo") + " is not a regular file (it is a FIFO)"},
        {"configuration without end",
         [&] { runner->environment["KYSNAP_CONFIG"] = "/dev/zero"; },
         {"list"},
         3,
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
         3,
         "password file " + path("fifo") + " is not a regular file (it is a FIFO)"},
        {"linux host without the device",
         [&] {
             writeConfig("", linuxConfig);
             runner->environment["KYSNAP_LINUX_ROOT"] = emptyRoot;
         },
         {"inquiry", emptyRoot + "/dev/sdq"},
         1,
         "/dev/sdq: No such file or directory"},
    };
    const auto environment = runner->environment;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        const CliRun run = runner->run(c.arguments, 20);
        EXPECT_EQ(run.status, c.exit) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
        EXPECT_EQ((run.out + run.err).find(kPassword), std::string::npos);
        runner->environment = environment;
        unlink(path("fifo").c_str());
        chmod(path("array.password").c_str(), 0600);
        writeConfig();
    }
}

}  // namespace
}  // namespace kysnap_test
