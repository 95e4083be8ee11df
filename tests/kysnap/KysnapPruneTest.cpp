// SPDX-License-Identifier: Apache-2.0
// kysnap prune against the simulated array, with catalogs of chosen creation times: it deletes
// what the retention rules let go and nothing protected (mounted, with a clone, the replication
// base, the newest, another host's), asks the array once per dataset however many snapshots
// the catalog holds, changes nothing on a dry run or when the array cannot tell, and two prunes
// started together leave what one leaves.
#include <algorithm>
#include <ctime>
#include <fstream>
#include <set>

#include <nlohmann/json.hpp>

#include "AuditLog.h"
#include "Catalog.h"
#include "Faults.h"
#include "HostConfig.h"
#include "KysnapSite.h"
#include "Model.h"
#include "Retention.h"
#include "SnapshotNames.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;
using Names = std::set<std::string>;

const std::string kDataVolume = "pool-a/Local/oracle/ora-data";
const std::string kLogsVolume = "pool-a/Local/oracle/ora-logs";
constexpr long kHour = 3600;

class KysnapPrune : public KysnapSite {
protected:
    // The policy "db" over ora-data and ora-logs, and both prepared and snapped once.
    void SetUp() override {
        KysnapSite::SetUp();
        writeConfig(policyText());
        expectRun({"prepare", kOraData, kOraLogs});
        expectRun({"snap", kOraData, kOraLogs});
        // Hour-aligned, two hours back: the history below lies entirely in the past.
        base = (std::time(nullptr) / kHour - 2) * kHour;
    }

    virtual std::string policyText() const {
        return "\n[policy db]\ndevices = " + std::string(kOraData) + " " + kOraLogs +
               "\nhourly = 6\ndaily = 3\nkeep-last = 2\n";
    }

    nlohmann::ordered_json readCatalog() {
        return nlohmann::ordered_json::parse(readFile(path("catalog.json")));
    }
    void writeCatalog(const nlohmann::ordered_json& catalog) {
        std::ofstream(path("catalog.json")) << catalog.dump();
    }

    // Adds `count` older records of `device` to the catalog, one every `step` seconds back from
    // `base`, made like the record its snap made (metadata naming each one), each with its
    // snapshot on the array. Returns their ids, oldest first.
    Strings addHistory(const std::string& device, const std::string& volume, int count, long step,
                       const std::string& tag) {
        nlohmann::ordered_json catalog = readCatalog();
        nlohmann::ordered_json& records = catalog["snapshots"];
        const auto made = std::find_if(records.begin(), records.end(), [&](const auto& record) {
            return record["device"] == device && record["state"] == "created";
        });
        EXPECT_NE(made, records.end());
        const nlohmann::ordered_json model = *made;
        const std::string modelName = model["name"];
        EXPECT_NE(model["metadata"].get<std::string>().find(modelName), std::string::npos);
        Strings ids;
        nlohmann::ordered_json older = nlohmann::ordered_json::array();
        for (int i = count - 1; i >= 0; --i) {
            const std::time_t created = base - i * step;
            std::string compact = kysnap::isoTime(created);
            compact.erase(std::remove_if(compact.begin(), compact.end(),
                                         [](char c) { return c == '-' || c == ':'; }),
                          compact.end());
            const std::string id = "KY-" + compact + "-" + tag + std::to_string(i);
            nlohmann::ordered_json record = model;
            record["name"] = id;
            std::string metadata = model["metadata"];
            metadata.replace(metadata.find(modelName), modelName.size(), id);
            record["metadata"] = metadata;
            record["created"] = kysnap::isoTime(created);
            older.push_back(record);
            ids.push_back(id);
        }
        // The catalog keeps records in creation order: the history before what snap made.
        older.insert(older.end(), records.begin(), records.end());
        records = older;
        writeCatalog(catalog);
        simulator->withModel([&](arraysim::Model& array) {
            for (const std::string& id : ids) {
                array.addSnapshot(*array.findDataset(volume), "Manual-V-" + id);
            }
        });
        return ids;
    }

    Names catalogNames() {
        Names names;
        const nlohmann::ordered_json catalog = readCatalog();  // the loop reads into it
        for (const auto& record : catalog["snapshots"]) {
            names.insert(record["name"].get<std::string>());
        }
        return names;
    }
    Names arraySnapshots() {
        Names names;
        simulator->withModel([&](arraysim::Model& array) {
            for (const std::string& volume : {kDataVolume, kLogsVolume}) {
                for (const arraysim::Snapshot& snapshot : array.findDataset(volume)->snapshots) {
                    names.insert(volume + "@" + snapshot.name);
                }
            }
        });
        return names;
    }
    double requestsOf(const std::string& method) {
        const jsonxx::Object methods = simulator->counters().get<jsonxx::Object>("methods");
        return methods.has<jsonxx::Number>(method) ? methods.get<jsonxx::Number>(method) : 0;
    }
    double changing() { return simulator->counters().get<jsonxx::Number>("changingRequests"); }

    // What the retention rules delete of the catalog as it stands, with `protections`.
    Names engineDeletes(const std::map<std::string, std::string>& protections) {
        kysnap::Catalog catalog;
        std::string error;
        EXPECT_TRUE(kysnap::Catalog::fromJson(readFile(path("catalog.json")), catalog, error))
            << error;
        kysnap::HostConfig config;
        EXPECT_TRUE(
            kysnap::parseHostConfig(readFile(path("kysnap.conf")), "kysnap.conf", config, error))
            << error;
        Names deleted;
        for (const kysnap::Policy& policy : config.policies) {
            for (const std::string& device : policy.devices) {
                std::vector<kysnap::SnapshotRecord> records;
                for (const kysnap::SnapshotRecord& record : catalog.snapshots) {
                    if (record.device == device) {
                        records.push_back(record);
                    }
                }
                kysnap::RetentionFacts facts;
                facts.now = std::time(nullptr);
                facts.protections = protections;
                for (const auto& decision : kysnap::decideRetention(records, policy, facts)) {
                    if (decision.verdict == kysnap::Verdict::Delete) {
                        deleted.insert(decision.snapshot);
                    }
                }
            }
        }
        return deleted;
    }

    // A clone of snapshot `id` of ora-data on the array, made by an administrator.
    void cloneOnArray(const std::string& id, const std::string& name) {
        adminClone(kDataVolume, id, name);
    }
    void replicatedUpTo(const std::string& id) {
        simulator->withModel([&](arraysim::Model& array) {
            arraysim::ReplicationConfig config;
            config.name = "ora-data-to-dr";
            config.remoteHost = "dr-array";
            config.lastReplicatedSnapshot = "Manual-V-" + id;
            array.findDataset(kDataVolume)->replications = {config};
        });
    }

    static Names withoutAll(Names from, const Names& removed) {
        for (const std::string& name : removed) {
            from.erase(name);
        }
        return from;
    }
    static Names onArray(const Names& ids, const std::string& volume) {
        Names paths;
        for (const std::string& id : ids) {
            paths.insert(volume + "@Manual-V-" + id);
        }
        return paths;
    }

    std::time_t base = 0;
};

TEST_F(KysnapPrune, PruneDeletesWhatTheRulesLetGoAndNothingProtected) {
    const Strings data = addHistory(kOraData, kDataVolume, 80, kHour, "d");
    const Strings logs = addHistory(kOraLogs, kLogsVolume, 30, 2 * kHour, "l");
    // Protected, although no rule keeps them: mounted, with a clone, the replication base.
    const std::string mounted = data[5];
    const std::string cloned = data[10];
    const std::string base = data[15];
    expectRun({"map", mounted});
    cloneOnArray(cloned, "qa-copy");
    replicatedUpTo(base);
    // Another host's snapshot on the array, and a record that is not kysnap's.
    simulator->withModel([&](arraysim::Model& array) {
        array.addSnapshot(*array.findDataset(kDataVolume), "Manual-V-nightly");
    });
    nlohmann::ordered_json catalog = readCatalog();
    nlohmann::ordered_json foreign = catalog["snapshots"][0];
    foreign["name"] = "nightly";
    catalog["snapshots"].insert(catalog["snapshots"].begin(), foreign);
    // A record whose creation failed is left to reconcile and delete.
    catalog["snapshots"][2]["state"] = "failed";
    const std::string failed = catalog["snapshots"][2]["name"];
    writeCatalog(catalog);

    const Names expected = engineDeletes({{mounted, "mounted"}, {cloned, "clone"}, {base, "base"}});
    ASSERT_GT(expected.size(), 60u);
    for (const std::string& kept : {mounted, cloned, base, failed, std::string("nightly")}) {
        ASSERT_EQ(expected.count(kept), 0u) << kept;
    }
    const Names catalogBefore = catalogNames();
    const Names arrayBefore = arraySnapshots();

    const CliRun run = expectRun({"prune", "--json"});
    const nlohmann::json report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report["version"], 1);
    EXPECT_EQ(report["command"], "prune");
    EXPECT_EQ(report["exitStatus"], 0);
    EXPECT_EQ(report["deleted"], expected.size());
    EXPECT_EQ(report["failed"], 0);
    Names reported;
    for (const auto& device : report["devices"]) {
        for (const auto& snapshot : device["snapshots"]) {
            if (snapshot["verdict"] == "delete") {
                EXPECT_EQ(snapshot["deleted"], true);
                EXPECT_EQ(snapshot["reasons"][0],
                          "outside hourly 6, daily 3, keep-last 2 of policy db");
                reported.insert(snapshot["snapshot"].get<std::string>());
            }
        }
    }
    EXPECT_EQ(reported, expected);
    EXPECT_EQ(catalogNames(), withoutAll(catalogBefore, expected));
    Names gone = onArray(expected, kDataVolume);
    const Names logsGone = onArray(expected, kLogsVolume);
    gone.insert(logsGone.begin(), logsGone.end());
    Names arrayAfter = arraySnapshots();
    // Each deleted id was on one volume only.
    EXPECT_EQ(arrayBefore.size() - arrayAfter.size(), expected.size());
    for (const std::string& path : arrayAfter) {
        EXPECT_EQ(gone.count(path), 0u) << path;
    }
    EXPECT_EQ(requestsOf("deleteVolumeSnapshot"), expected.size());
    bool cloneKept = false;
    simulator->withModel([&](arraysim::Model& array) {
        cloneKept = array.findDataset("pool-a/Local/oracle/qa-copy") != nullptr;
    });
    EXPECT_TRUE(cloneKept);
    // Each deletion is in the audit log as prune's, with its snapshot and dataset.
    std::vector<kysnap::AuditRecord> audit;
    bool missing = false;
    std::string error;
    ASSERT_TRUE(kysnap::readAuditLog(path("audit.log"), 0, audit, missing, error)) << error;
    Names audited;
    for (const kysnap::AuditRecord& line : audit) {
        ASSERT_TRUE(line.wellFormed) << line.text;
        if (line.entry["operation"] == "prune") {
            EXPECT_EQ(line.entry["result"], "succeeded") << line.text;
            EXPECT_NE(line.entry["dataset"].get<std::string>().find("pool-a/Local/oracle/"),
                      std::string::npos)
                << line.text;
            audited.insert(line.entry["snapshot"].get<std::string>());
        }
    }
    EXPECT_EQ(audited, expected);

    // What is left is what the rules keep: a second prune deletes nothing.
    const double before = changing();
    const CliRun again = expectRun({"prune"});
    EXPECT_EQ(changing(), before);
    EXPECT_NE(again.out.find("prune: 0 deleted, 0 failed"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("kept        " + base + " of " + kOraData +
                             ": the replication base of replication ora-data-to-dr"),
              std::string::npos)
        << again.out;
}

TEST_F(KysnapPrune, ADryRunPrintsThePlanAndChangesNothing) {
    const Strings data = addHistory(kOraData, kDataVolume, 40, kHour, "d");
    const Names expected = engineDeletes({});
    const std::string catalogBefore = readFile(path("catalog.json"));
    const Names arrayBefore = arraySnapshots();
    const double before = changing();
    const CliRun run = expectRun({"prune", "--policy", "db", "--dry-run"});
    EXPECT_EQ(changing(), before);
    EXPECT_EQ(readFile(path("catalog.json")), catalogBefore);
    EXPECT_EQ(arraySnapshots(), arrayBefore);
    for (const std::string& id : expected) {
        EXPECT_NE(run.out.find("would prune " + id + " of " + kOraData +
                               ": outside hourly 6, daily 3, keep-last 2 of policy db\n"),
                  std::string::npos)
            << id << "\n"
            << run.out;
    }
    EXPECT_NE(run.out.find("prune: " + std::to_string(expected.size()) +
                           " would be deleted, 0 failed; dry run: nothing was changed"),
              std::string::npos)
        << run.out;
    const CliRun json = expectRun({"prune", "--dry-run", "--json"});
    EXPECT_EQ(nlohmann::json::parse(json.out)["wouldDelete"], expected.size());
    EXPECT_EQ(changing(), before);
}

TEST_F(KysnapPrune, TwoPrunesStartedTogetherLeaveWhatOneLeaves) {
    addHistory(kOraData, kDataVolume, 60, kHour, "d");
    addHistory(kOraLogs, kLogsVolume, 60, kHour, "l");
    const Names expected = engineDeletes({});
    const Names catalogBefore = catalogNames();
    const Names arrayBefore = arraySnapshots();
    const pid_t first = runner->start({"prune"}, 0);
    const pid_t second = runner->start({"prune"}, 1);
    const CliRun one = runner->finish(first, 0);
    const CliRun two = runner->finish(second, 1);
    EXPECT_EQ(one.status, 0) << one.out << one.err;
    EXPECT_EQ(two.status, 0) << two.out << two.err;
    EXPECT_EQ(catalogNames(), withoutAll(catalogBefore, expected));
    EXPECT_EQ(arrayBefore.size() - arraySnapshots().size(), expected.size());
    // Each deletion was done, and told, once.
    EXPECT_EQ(requestsOf("deleteVolumeSnapshot"), expected.size());
    for (const std::string& id : expected) {
        const std::string line = "pruned      " + id + " of ";
        const size_t told = (one.out.find(line) != std::string::npos ? 1 : 0) +
                            (two.out.find(line) != std::string::npos ? 1 : 0);
        EXPECT_EQ(told, 1u) << id;
    }
    EXPECT_TRUE(one.out.find("prune: 0 deleted") != std::string::npos ||
                two.out.find("prune: 0 deleted") != std::string::npos)
        << one.out << two.out;
}

TEST_F(KysnapPrune, TenThousandCatalogSnapshotsCostOneListingPerDataset) {
    addHistory(kOraData, kDataVolume, 5000, 60, "d");
    addHistory(kOraLogs, kLogsVolume, 5000, 60, "l");
    const Names expected = engineDeletes({});
    ASSERT_GT(expected.size(), 9900u);
    const Strings methods = {"listSnapshots", "getReplicationConfigList", "listVolumes",
                             "deleteVolumeSnapshot"};
    std::map<std::string, double> before;
    for (const std::string& method : methods) {
        before[method] = requestsOf(method);
    }
    const CliRun run = expectRun({"prune", "--json"});
    EXPECT_EQ(nlohmann::json::parse(run.out)["deleted"], expected.size());
    // Both volumes are in one project: one listing of its volumes.
    EXPECT_EQ(requestsOf("listSnapshots") - before["listSnapshots"], 2);
    EXPECT_EQ(requestsOf("getReplicationConfigList") - before["getReplicationConfigList"], 2);
    EXPECT_EQ(requestsOf("listVolumes") - before["listVolumes"], 1);
    EXPECT_EQ(requestsOf("deleteVolumeSnapshot") - before["deleteVolumeSnapshot"], expected.size());
}

// When the array cannot tell what a snapshot is used for, nothing of that dataset is deleted,
// and the run says why; the other datasets are pruned.
TEST_F(KysnapPrune, WhatTheArrayCannotTellIsNeverDeleted) {
    addHistory(kOraData, kDataVolume, 30, kHour, "d");
    addHistory(kOraLogs, kLogsVolume, 30, kHour, "l");
    struct Case {
        const char* what;
        const char* method;
        int status;
        std::string body;
        int skip;  // calls let through first: 1 reaches ora-logs only
        int exit;  // 1: nothing pruned; 3: ora-data pruned
        std::string says;
    };
    const std::vector<Case> cases = {
        {"the snapshot listing fails", "listSnapshots", 500, "", 0, 1,
         "listSnapshots on array arr failed: HTTP 500"},
        {"the project's volumes cannot be read", "listVolumes", 200, "{\"a\":1}", 0, 1,
         "listVolumes on array arr answered what is not a JSON array"},
        {"a replication configuration without its last snapshot", "getReplicationConfigList", 200,
         "[{\"name\": \"dr\"}]", 0, 1,
         "answered a configuration without a readable \"lastReplicatedSnapshot\""},
        {"a last snapshot that is no text", "getReplicationConfigList", 200,
         "[{\"name\": \"dr\", \"lastReplicatedSnapshot\": 7}]", 0, 1,
         "without a readable \"lastReplicatedSnapshot\""},
        {"a configuration given a key twice", "getReplicationConfigList", 200,
         "[{\"lastReplicatedSnapshot\": null, \"lastReplicatedSnapshot\": \"x\"}]", 0, 1,
         "getReplicationConfigList on array arr answered what is not a JSON array"},
        {"the replication configurations cannot be read", "getReplicationConfigList", 200,
         "not json", 0, 1, "getReplicationConfigList on array arr answered what is not"},
        {"only ora-logs' listing fails: ora-data is pruned", "listSnapshots", 500, "", 1, 3,
         "nothing of " + std::string(kOraLogs) + " (policy db) is pruned: listSnapshots"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string catalogBefore = readFile(path("catalog.json"));
        const double before = changing();
        arraysim::Fault fault;
        fault.method = c.method;
        fault.remaining = -1;
        fault.skip = c.skip;
        fault.status = c.status;
        if (c.status == 200) {
            fault.action = arraysim::FaultAction::Respond;
            fault.body = c.body;
        }
        simulator->faults().add(fault);
        const CliRun run = runner->run({"prune"});
        simulator->faults().clear();
        EXPECT_EQ(run.status, c.exit) << run.out << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        if (c.exit == 1) {
            EXPECT_EQ(changing(), before);
            EXPECT_EQ(readFile(path("catalog.json")), catalogBefore);
            EXPECT_NE(run.out.find("prune: 0 deleted, 0 failed"), std::string::npos) << run.out;
        } else {
            EXPECT_GT(changing(), before);
            EXPECT_EQ(run.out.find("pruned      KY-") != std::string::npos, true);
            EXPECT_EQ(run.out.find(std::string(" of ") + kOraLogs + ": outside"), std::string::npos)
                << run.out;
        }
    }
}

TEST_F(KysnapPrune, SnapPolicySnapshotsThePolicysDevicesAndPruneNamesUnknownPolicies) {
    const CliRun run = expectRun({"snap", "--policy", "db", "--json"});
    const jsonxx::Array requests = [&] {
        jsonxx::Object report;
        EXPECT_TRUE(report.parse(run.out)) << run.out;
        return report.get<jsonxx::Array>("requests");
    }();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests.get<jsonxx::Object>(0).get<jsonxx::String>("device"), kOraData);
    EXPECT_EQ(requests.get<jsonxx::Object>(1).get<jsonxx::String>("device"), kOraLogs);
    const CliRun unknown = expectRun({"snap", "--policy", "nightly"}, 1);
    EXPECT_NE(unknown.err.find("no [policy nightly] in " + path("kysnap.conf")), std::string::npos)
        << unknown.err;
    const CliRun both = expectRun({"snap", "--policy", "db", kOraData}, 2);
    EXPECT_NE(both.err.find("snap takes no device with --policy, which names them"),
              std::string::npos)
        << both.err;
    const CliRun prune = expectRun({"prune", "--policy", "nightly"}, 1);
    EXPECT_NE(prune.err.find("no [policy nightly] in "), std::string::npos) << prune.err;
}

}  // namespace
}  // namespace kysnap_test
