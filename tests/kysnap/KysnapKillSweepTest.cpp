// SPDX-License-Identifier: Apache-2.0
// Runs killed at random points and calls that time out, across the whole lifecycle: after each
// one and a reconcile, every snapshot and clone kysnap's snapshots have on the array is in the
// catalog, and at the end unmap and delete remove everything. Each disruption makes the array
// take its time over one call the command makes (before or after it acts), then either kills
// kysnap (SIGKILL) at a random moment of that call or lets the call time out.
//
// CTest runs a sample; KYSNAP_KILL_SWEEP=all runs 100 kills and 100 time-outs, and
// KYSNAP_KILL_SWEEP=N runs N of each.
#include <csignal>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>

#include "Faults.h"
#include "KysnapSite.h"
#include "Model.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;

constexpr int kSampleRuns = 6;
constexpr int kAllRuns = 100;

int runsOfEachKind() {
    const char* chosen = std::getenv("KYSNAP_KILL_SWEEP");
    if (chosen == nullptr || *chosen == '\0') {
        return kSampleRuns;
    }
    if (std::string(chosen) == "all") {
        return kAllRuns;
    }
    return std::max(1, std::atoi(chosen));
}

struct Record {
    std::string id;
    std::string device;
    std::string state;
    bool mounted = false;  // a mounted device or an adopted clone
};

struct Disruption {
    Strings command;
    Strings methods;  // what the command asks of the array, one of which is slowed
};

class KysnapKillSweep : public KysnapSite {
protected:
    std::vector<Record> records() {
        std::vector<Record> list;
        const jsonxx::Array snapshots = catalog().get<jsonxx::Array>("snapshots");
        for (size_t i = 0; i < snapshots.size(); ++i) {
            const jsonxx::Object& entry = snapshots.get<jsonxx::Object>(i);
            Record record;
            record.id = entry.get<jsonxx::String>("name");
            record.device = entry.get<jsonxx::String>("device");
            record.state = entry.get<jsonxx::String>("state");
            record.mounted = !entry.get<jsonxx::String>("mountedDevice").empty() ||
                             entry.has<jsonxx::String>("clone");
            list.push_back(record);
        }
        return list;
    }

    // Every snapshot and clone of a kysnap snapshot on the array belongs to a catalog record,
    // a clone to one that records it.
    void expectEverythingOnTheArrayIsInTheCatalog(const std::string& after) {
        std::set<std::string> ids;
        std::set<std::string> mounted;
        for (const Record& record : records()) {
            ids.insert(record.id);
            if (record.mounted) {
                mounted.insert(record.id);
            }
        }
        simulator->withModel([&](arraysim::Model& model) {
            for (const auto& [path, dataset] : model.datasets) {
                for (const arraysim::Snapshot& snapshot : dataset.snapshots) {
                    if (snapshot.name.rfind("Manual-V-KY-", 0) == 0) {
                        EXPECT_EQ(ids.count(snapshot.name.substr(9)), 1u)
                            << after << ": " << path << "@" << snapshot.name << " is not listed";
                    }
                }
                if (dataset.name.rfind("MNT_KY-", 0) == 0) {
                    EXPECT_EQ(mounted.count(dataset.name.substr(4)), 1u)
                        << after << ": clone " << path << " is not recorded";
                }
            }
        });
    }

    // What the next command is, given the catalog: a snapshot to make, map, unmap, delete or
    // revert to, so that every kind of call gets disrupted.
    Disruption nextCommand(std::mt19937& random) {
        const std::vector<Record> list = records();
        std::vector<const Record*> created;
        std::vector<const Record*> unmounted;
        std::vector<const Record*> withClone;
        for (const Record& record : list) {
            (record.mounted ? withClone : unmounted).push_back(&record);
            if (record.state == "created" && !record.mounted) {
                created.push_back(&record);
            }
        }
        const auto pick = [&](const std::vector<const Record*>& from) {
            return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)]->id;
        };
        const int choice = std::uniform_int_distribution<int>(0, 4)(random);
        if (list.size() < 2 || (choice == 0 && list.size() < 6)) {
            const char* device = random() % 2 == 0 ? kOraData : kOraLogs;
            return {{"snap", device}, {"createSnapshots"}};
        }
        if (choice == 1 && !created.empty()) {
            return {{"map", pick(created)},
                    {"cloneVolumeSnapshot", "createMappingForVolume", "listVolumes"}};
        }
        if (choice == 2 && !withClone.empty()) {
            return {{"unmap", pick(withClone)}, {"deleteVolume"}};
        }
        if (choice == 3 && !created.empty()) {
            // A revert of the device's oldest snapshot destroys the newer ones: it is refused
            // while one of them is mounted, which is a case of its own.
            return {{"revert", "--destroy-newer", created.front()->id},
                    {"rollBackToVolumeSnapshot", "listSnapshots"}};
        }
        if (!unmounted.empty()) {
            return {{"delete", pick(unmounted)}, {"deleteVolumeSnapshot", "listSnapshots"}};
        }
        return {{"unmap", pick(withClone)}, {"deleteVolume"}};
    }

    void slow(const std::string& method, bool process, int latencyMs) {
        arraysim::Fault fault;
        fault.method = method;
        fault.action = arraysim::FaultAction::Latency;
        fault.process = process;
        fault.latencyMs = latencyMs;
        simulator->faults().add(fault);
    }
    bool faultTaken(int withinMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(withinMs);
        while (!simulator->faults().describe().empty()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
};

// The create's answer is lost to a time-out while the array has not yet made the snapshot: a
// reconcile then must not forget it, and a later one records it once it is there.
TEST_F(KysnapKillSweep, ReconcileKeepsASnapshotTheArrayIsStillCreatingAndRecordsItLater) {
    expectRun({"prepare", kOraData});
    slow("createSnapshots", false, 2500);
    runner->environment["KYSNAP_HTTP_TIMEOUT"] = "1";
    expectRun({"snap", kOraData}, 1);
    runner->environment.erase("KYSNAP_HTTP_TIMEOUT");
    const std::string id = records().at(0).id;
    const CliRun early = expectRun({"reconcile", id});
    EXPECT_NE(early.out.find("not on the array, but the array may still finish creating it until "),
              std::string::npos)
        << early.out;
    EXPECT_EQ(records().at(0).state, "unknown");
    EXPECT_NE(expectRun({"list"}).out.find("[unknown: not on the array when last asked"),
              std::string::npos);
    // The array makes it once its delay is over.
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    const CliRun late = expectRun({"reconcile", id});
    EXPECT_NE(late.out.find("snapshot created (5) (its creation had not finished but it is on "
                            "the array: now recorded)"),
              std::string::npos)
        << late.out;
    EXPECT_EQ(records().at(0).state, "created");
    expectEverythingOnTheArrayIsInTheCatalog("the late snapshot");
}

// A map killed after the array made the clone: the clone is named by delete, found and
// recorded by reconcile, and removed by unmap.
TEST_F(KysnapKillSweep, AMapThatWasNotRecordedIsFoundRecordedAndRemoved) {
    expectRun({"prepare", kOraData});
    expectRun({"snap", kOraData});
    const std::string id = records().at(0).id;
    slow("createMappingForVolume", true, 3000);
    const pid_t pid = runner->start({"map", id}, 1);
    ASSERT_TRUE(faultTaken(20000));
    ::kill(pid, SIGKILL);
    runner->finish(pid, 1);
    EXPECT_FALSE(records().at(0).mounted);
    const std::string clone = "pool-a/Local/oracle/MNT_" + id;
    EXPECT_NE(expectRun({"delete", id}, 1)
                  .err.find("clone " + clone + ": kysnap unmap " + id + " removes it"),
              std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    const CliRun found = expectRun({"reconcile", id});
    EXPECT_NE(found.out.find("(found clone " + clone + ", seen on this host as /dev/sim/"),
              std::string::npos)
        << found.out;
    EXPECT_TRUE(records().at(0).mounted);
    EXPECT_NE(expectRun({"list"}).out.find("clone " + clone +
                                           " on the array (no map recorded it: "
                                           "kysnap unmap " +
                                           id + " removes it)"),
              std::string::npos);
    expectRun({"unmap", id});
    EXPECT_FALSE(records().at(0).mounted);
    simulator->withModel(
        [&](arraysim::Model& model) { EXPECT_EQ(model.findDataset(clone), nullptr); });
    expectRun({"delete", id});
    EXPECT_TRUE(records().empty());
}

TEST_F(KysnapKillSweep, NothingOnTheArrayIsOutsideTheCatalogAfterKillsAndTimeOuts) {
    writeConfig("create-settle-seconds = 2\n");
    expectRun({"prepare", kOraData, kOraLogs});
    std::mt19937 random(20261209);
    const int each = runsOfEachKind();
    int kills = 0;
    int timeOuts = 0;
    int disrupted = 0;
    for (int run = 0; run < 2 * each; ++run) {
        const bool kill = run % 2 == 0;
        const Disruption next = nextCommand(random);
        const std::string method =
            next.methods[std::uniform_int_distribution<size_t>(0, next.methods.size() - 1)(random)];
        const bool process = random() % 2 == 0;
        const int latencyMs = kill ? 600 : 1600;
        std::string what = std::string(kill ? "kill" : "time-out") + " in " + method +
                           (process ? " (done first)" : " (done after)") + " of";
        for (const std::string& word : next.command) {
            what += " " + word;
        }
        SCOPED_TRACE(what);
        slow(method, process, latencyMs);
        if (kill) {
            const pid_t pid = runner->start(next.command, 1);
            if (faultTaken(20000)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(
                    std::uniform_int_distribution<int>(0, latencyMs - 1)(random)));
                ::kill(pid, SIGKILL);
                ++kills;
                ++disrupted;
            }
            runner->finish(pid, 1);
        } else {
            runner->environment["KYSNAP_HTTP_TIMEOUT"] = "1";
            const CliRun ran = runner->run(next.command);
            runner->environment.erase("KYSNAP_HTTP_TIMEOUT");
            if (faultTaken(0)) {
                ++timeOuts;
                ++disrupted;
            }
            EXPECT_NE(ran.status, 128 + SIGKILL) << ran.out << ran.err;
        }
        simulator->faults().clear();
        // The array finishes the slowed call, then the catalog is settled.
        std::this_thread::sleep_for(std::chrono::milliseconds(latencyMs + 100));
        const CliRun settled = runner->run({"reconcile"});
        // Success, partial success, or a failure only for want of anything to reconcile.
        const bool nothingToReconcile =
            settled.err.find("the catalog holds no snapshot to reconcile") != std::string::npos;
        EXPECT_TRUE(settled.status == 0 || settled.status == 3 ||
                    (settled.status == 1 && nothingToReconcile))
            << settled.out << settled.err;
        expectEverythingOnTheArrayIsInTheCatalog(what);
        if (HasFailure()) {
            break;
        }
    }
    std::printf("kill sweep: %d kills and %d time-outs landed in an array call, of %d runs\n",
                kills, timeOuts, 2 * each);
    EXPECT_GE(disrupted, each);  // most disruptions reach their call

    // Everything goes: the clones first, then every snapshot, once nothing may still appear.
    writeConfig("create-settle-seconds = 0\n");
    for (const Record& record : records()) {
        if (record.mounted) {
            expectRun({"unmap", record.id});
        }
    }
    for (const Record& record : records()) {
        expectRun({"delete", record.id});
    }
    EXPECT_TRUE(records().empty());
    simulator->withModel([&](arraysim::Model& model) {
        for (const auto& [path, dataset] : model.datasets) {
            EXPECT_NE(dataset.name.rfind("MNT_", 0), 0u) << path;
            for (const arraysim::Snapshot& snapshot : dataset.snapshots) {
                EXPECT_NE(snapshot.name.rfind("Manual-V-KY-", 0), 0u)
                    << path << "@" << snapshot.name;
            }
        }
    });
}

}  // namespace
}  // namespace kysnap_test
