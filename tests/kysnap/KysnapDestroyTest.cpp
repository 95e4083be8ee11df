// SPDX-License-Identifier: Apache-2.0
// kysnap delete and revert against an array that destroys what its documentation says it does:
// a snapshot delete takes the snapshot's clones, a rollback the newer snapshots and theirs.
// kysnap must name the loss, refuse what a host uses, send nothing that changes the array when
// it refuses or only previews, and leave the catalog listing only what the array still holds.
#include <algorithm>
#include <functional>

#include "Faults.h"
#include "KysnapSite.h"
#include "Model.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;

const std::string kVolume = "pool-a/Local/oracle/ora-data";

class KysnapDestroy : public KysnapSite {
protected:
    // Snapshots the prepared ora-data once and returns the new id.
    std::string snap() {
        const CliRun run = expectRun({"snap", kOraData, "--json"});
        jsonxx::Object report;
        EXPECT_TRUE(report.parse(run.out)) << run.out;
        return report.get<jsonxx::Array>("requests")
            .get<jsonxx::Object>(0)
            .get<jsonxx::String>("snapshot");
    }
    double counted(const char* name) { return simulator->counters().get<jsonxx::Number>(name); }
    double requestsOf(const std::string& method) {
        const jsonxx::Object methods = simulator->counters().get<jsonxx::Object>("methods");
        return methods.has<jsonxx::Number>(method) ? methods.get<jsonxx::Number>(method) : 0;
    }
    Strings arraySnapshots() {
        Strings names;
        simulator->withModel([&](arraysim::Model& model) {
            for (const arraysim::Snapshot& snapshot : model.findDataset(kVolume)->snapshots) {
                names.push_back(snapshot.name);
            }
        });
        return names;
    }
    bool onArray(const std::string& id) {
        const Strings names = arraySnapshots();
        return std::find(names.begin(), names.end(), "Manual-V-" + id) != names.end();
    }
    // A clone on the array that kysnap did not make (an administrator's copy, say).
    void foreignClone(const std::string& id, const std::string& name) {
        adminClone(kVolume, id, name);
    }
    bool datasetExists(const std::string& name) {
        bool found = false;
        simulator->withModel([&](arraysim::Model& model) {
            found = model.findDataset("pool-a/Local/oracle/" + name) != nullptr;
        });
        return found;
    }
    size_t mappingsOf(const std::string& name) {
        size_t count = 0;
        simulator->withModel([&](arraysim::Model& model) {
            count = model.mappingsOf("pool-a/Local/oracle/" + name).size();
        });
        return count;
    }
    Strings catalogIds() {
        Strings ids;
        const jsonxx::Array records = catalog().get<jsonxx::Array>("snapshots");
        for (size_t i = 0; i < records.size(); ++i) {
            ids.push_back(records.get<jsonxx::Object>(i).get<jsonxx::String>("name"));
        }
        return ids;
    }
};

// The delete's rule: a snapshot that is mounted or has any clone is not deleted, and the
// array is not asked to; each row names what blocks it and how it is freed.
TEST_F(KysnapDestroy, DeleteIsRefusedWithoutAnyChangingRequestWhileAnythingDependsOnIt) {
    expectRun({"prepare", kOraData});
    struct Case {
        const char* what;
        std::function<void(const std::string& id)> arrange;
        int exit;
        std::string says;  // "ID" stands for the snapshot's id
        bool deleted;
    };
    const std::vector<Case> cases = {
        {"mounted: its clone is named with kysnap unmap",
         [&](const std::string& id) {
             expectRun({"map", id});
         },
         1, "clone pool-a/Local/oracle/MNT_ID is mounted as /dev/sim/600144F05A3C9E21", false},
        {"a clone whose mapping was never recorded: kysnap unmap removes it",
         [&](const std::string& id) { foreignClone(id, "MNT_" + id); }, 1,
         "clone pool-a/Local/oracle/MNT_ID: kysnap unmap ID removes it", false},
        {"a clone kysnap did not make: named, to be deleted on the array",
         [&](const std::string& id) { foreignClone(id, "qa-copy"); }, 1,
         "clone pool-a/Local/oracle/qa-copy was not made by kysnap for this snapshot", false},
        {"recorded as mounted though the array holds no clone: unmap first",
         [&](const std::string& id) {
             expectRun({"map", id});
             simulator->withModel([&](arraysim::Model& model) {
                 model.datasets.erase("pool-a/Local/oracle/MNT_" + id);
             });
         },
         1, "ID is mounted as /dev/sim/600144F05A3C9E21", false},
        {"nothing depends on it: deleted", [](const std::string&) {}, 0, "deleted (", true},
        {"gone from the array already: only the record goes",
         [&](const std::string& id) {
             simulator->withModel([&](arraysim::Model& model) {
                 std::vector<arraysim::Snapshot>& list = model.findDataset(kVolume)->snapshots;
                 list.erase(std::find_if(list.begin(), list.end(), [&](const auto& snapshot) {
                     return snapshot.name == "Manual-V-" + id;
                 }));
             });
         },
         0, "deleted (", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string id = snap();
        c.arrange(id);
        const double deletes = requestsOf("deleteVolumeSnapshot");
        const double changing = counted("changingRequests");
        std::string says = c.says;
        for (size_t at; (at = says.find("ID")) != std::string::npos;) {
            says.replace(at, 2, id);
        }
        const CliRun run = runner->run({"delete", id});
        EXPECT_EQ(run.status, c.exit) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(says), std::string::npos) << run.out << run.err;
        EXPECT_EQ(requestsOf("deleteVolumeSnapshot") - deletes, c.deleted ? 1 : 0);
        EXPECT_EQ(counted("changingRequests") - changing, c.deleted ? 1 : 0);
        const Strings ids = catalogIds();
        EXPECT_EQ(std::find(ids.begin(), ids.end(), id) == ids.end(), c.deleted);
        if (!c.deleted) {
            EXPECT_NE(run.err.find("kysnap: nothing was deleted"), std::string::npos) << run.err;
            EXPECT_TRUE(onArray(id));
        }
    }
}

TEST_F(KysnapDestroy, DeletingAMountedSnapshotLeavesItsCloneMappedAndTheArrayUntouched) {
    expectRun({"prepare", kOraData});
    const std::string id = snap();
    expectRun({"map", id});
    ASSERT_EQ(mappingsOf("MNT_" + id), 1u);
    const CliRun dry = runner->run({"delete", "--dry-run", id});
    EXPECT_EQ(dry.status, 1) << dry.out << dry.err;
    EXPECT_NE(dry.out.find("the delete would be refused"), std::string::npos) << dry.out;
    expectRun({"delete", id}, 1);
    EXPECT_EQ(requestsOf("deleteVolumeSnapshot"), 0);
    EXPECT_EQ(requestsOf("deleteVolume"), 0);
    EXPECT_EQ(mappingsOf("MNT_" + id), 1u);
    EXPECT_TRUE(onArray(id));
    // Unmapped, it goes.
    expectRun({"unmap", id});
    expectRun({"delete", id});
    EXPECT_FALSE(onArray(id));
}

// With the array stopped, neither a delete nor its dry run can tell what the array would take
// with the snapshot: both say so, and neither claims what "would be" done.
TEST_F(KysnapDestroy, WithoutTheArrayNothingIsSaidToBeSafe) {
    expectRun({"prepare", kOraData});
    const std::string id = snap();
    simulator->stop();
    for (const Strings& arguments : {Strings{"delete", "-n", id}, Strings{"delete", id},
                                     Strings{"revert", "-n", "--destroy-newer", id}}) {
        const CliRun run = runner->run(arguments);
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.err.find("would destroy, so nothing was changed"), std::string::npos)
            << run.err;
        EXPECT_EQ(run.out.find("would be deleted"), std::string::npos) << run.out;
    }
    EXPECT_EQ(catalogIds(), Strings{id});
}

// An array answer kysnap cannot read (a key given twice, text after the listing) could hide
// a clone or a newer snapshot: a delete or a revert then says why and changes nothing.
TEST_F(KysnapDestroy, AnArrayAnswerThatCannotBeReadIsNeverTakenAsSafe) {
    expectRun({"prepare", kOraData});
    const std::string id = snap();
    struct Case {
        const char* what;
        const char* method;
        std::string answer;
        Strings arguments;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"a dataset with its name twice", "listVolumes",
         "[{\"name\": \"ora-data\", \"name\": \"MNT_" + id + "\"}]", Strings{"delete", id},
         "listVolumes on array arr answered what is not a JSON array: the key \"name\" appears "
         "twice in one object (at byte "},
        {"text after the snapshot listing", "listSnapshots",
         "[\"Manual-V-" + id + "\"] [\"Manual-V-newer\"]", Strings{"revert", "--destroy-newer", id},
         "listSnapshots on array arr answered what is not a JSON array: there is text after the "
         "JSON document"},
        {"a dataset that is no object", "listVolumes", "[\"MNT_" + id + "\"]",
         Strings{"delete", id}, "listVolumes on array arr answered a dataset that is no object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        arraysim::Fault answer;
        answer.method = c.method;
        answer.action = arraysim::FaultAction::Respond;
        answer.remaining = -1;
        answer.status = 200;
        answer.body = c.answer;
        simulator->faults().add(answer);
        const double changing = counted("changingRequests");
        const CliRun run = runner->run(c.arguments);
        simulator->faults().clear();
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("would destroy, so nothing was changed"), std::string::npos)
            << run.err;
        EXPECT_EQ(counted("changingRequests") - changing, 0);
        EXPECT_TRUE(onArray(id));
        EXPECT_EQ(catalogIds(), Strings{id});
    }
}

// The reproduction from the field: two snapshots, the older one mounted, then a revert to it
// with no terminal. The array destroys the newer snapshot, so kysnap says so, goes on only when
// told, and afterwards no longer lists it.
TEST_F(KysnapDestroy, RevertToAMountedSnapshotNamesTheNewerOneAndForgetsItOnceDestroyed) {
    expectRun({"prepare", kOraData});
    const std::string id1 = snap();
    const std::string id2 = snap();
    expectRun({"map", id1});

    const CliRun dry = runner->run({"revert", "--dry-run", id1});
    EXPECT_EQ(dry.status, 1) << dry.out << dry.err;
    EXPECT_NE(
        dry.out.find("destroys newer snapshot " + kVolume + "@Manual-V-" + id2 + " (" + id2 + ")"),
        std::string::npos)
        << dry.out;
    EXPECT_EQ(dry.out.find("refuses"), std::string::npos) << dry.out;

    const CliRun refused = runner->run({"revert", id1});
    EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
    EXPECT_EQ(requestsOf("rollBackToVolumeSnapshot"), 0);
    EXPECT_TRUE(onArray(id2));

    const CliRun done = runner->run({"revert", "--destroy-newer", id1});
    EXPECT_EQ(done.status, 0) << done.out << done.err;
    EXPECT_NE(done.out.find("(the array destroyed " + id2 + " with it; removed from the catalog)"),
              std::string::npos)
        << done.out;
    EXPECT_FALSE(onArray(id2));
    EXPECT_EQ(catalogIds(), Strings{id1});
    EXPECT_EQ(expectRun({"list"}).out.find(id2), std::string::npos);
    EXPECT_EQ(mappingsOf("MNT_" + id1), 1u);  // a clone of the target itself stays
}

// What a revert names, and when it goes on: every newer snapshot (this catalog's and others),
// every clone of them, every catalog mount; only with --destroy-newer; never while a host uses
// a newer snapshot's clone.
TEST_F(KysnapDestroy, RevertNamesEverythingItDestroysAndGoesOnOnlyWhenToldAndNothingIsInUse) {
    expectRun({"prepare", kOraData});
    const std::string id1 = snap();
    const std::string id2 = snap();
    const std::string id3 = snap();
    simulator->withModel([&](arraysim::Model& model) {
        model.addSnapshot(*model.findDataset(kVolume), "Auto-hourly-other-host");
    });
    foreignClone(id3, "qa-copy");
    expectRun({"map", id2});
    const std::string mounted = "/dev/sim/600144F05A3C9E21";
    struct Case {
        const char* what;
        Strings arguments;
        int exit;
        Strings says;
        std::string never = "";
        std::function<void()> arrange = [] {};
        int changes = 0;  // requests that may change the array, counted by it
    };
    const std::vector<Case> cases = {
        {"the preview names every newer snapshot, clone and mount, and the block",
         {"revert", "-n", "--destroy-newer", id1},
         1,
         {"destroys newer snapshot " + kVolume + "@Manual-V-" + id2 + " (" + id2 + ")",
          "destroys newer snapshot " + kVolume + "@Manual-V-" + id3 + " (" + id3 + ")",
          "destroys newer snapshot " + kVolume + "@Auto-hourly-other-host (not in this catalog)",
          "destroys clone pool-a/Local/oracle/MNT_" + id2 + " of Manual-V-" + id2,
          "destroys clone pool-a/Local/oracle/qa-copy of Manual-V-" + id3,
          "blocked: clone pool-a/Local/oracle/MNT_" + id2 + " of newer snapshot " + id2 +
              " is mounted as " + mounted,
          "the revert would be refused"}},
        {"the preview in JSON lists what goes and what blocks",
         {"revert", "-n", "--json", "--destroy-newer", id1},
         1,
         {"\"destroys\": [", "MNT_" + id2, "qa-copy", "\"blocked\": [",
          "\"refused\": \"the revert would be refused (blocked above)\""}},
        {"a mounted clone of a newer snapshot blocks, whatever is given",
         {"revert", "--destroy-newer", "--yes", id1},
         1,
         {"kysnap: nothing was reverted: free what is blocked above first"},
         "reverted ("},
        {"without --destroy-newer it is refused, and nothing is asked of the array",
         {"revert", id1},
         1,
         {"destroys clone pool-a/Local/oracle/qa-copy of Manual-V-" + id3,
          "kysnap revert --destroy-newer goes on"},
         "reverted (",
         [&] {
             expectRun({"unmap", id2});
         }},
        {"a dry run with --destroy-newer would go on, and changes nothing",
         {"revert", "--dry-run", "--destroy-newer", id1},
         0,
         {"revert    dry run: nothing was changed\n"},
         "blocked"},
        {"with --destroy-newer the newer snapshots and their clones go",
         {"revert", "--destroy-newer", id1},
         0,
         {"reverted (",
          "(the array destroyed " + id2 + ", " + id3 + " with it; removed from the catalog)"},
         "",
         [] {},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        const double changing = counted("changingRequests");
        const CliRun run = runner->run(c.arguments);
        EXPECT_EQ(run.status, c.exit) << run.out << run.err;
        for (const std::string& text : c.says) {
            EXPECT_NE((run.out + run.err).find(text), std::string::npos) << text << "\n"
                                                                         << run.out << run.err;
        }
        if (!c.never.empty()) {
            EXPECT_EQ((run.out + run.err).find(c.never), std::string::npos) << run.out << run.err;
        }
        EXPECT_EQ(counted("changingRequests") - changing, c.changes);
    }
    EXPECT_EQ(arraySnapshots(),
              (Strings{"Auto-daily-20240301", "Manual-V-before-upgrade", "Manual-V-" + id1}));
    EXPECT_FALSE(datasetExists("qa-copy"));
    EXPECT_FALSE(datasetExists("MNT_" + id2));
    EXPECT_EQ(catalogIds(), Strings{id1});
}

// Another host's kysnap snapshot of the same volume, mounted there through the plug-in's clone:
// this catalog knows neither, yet the clone exists to be mapped to a host, so it blocks.
TEST_F(KysnapDestroy, APluginCloneOfAnotherHostsNewerSnapshotBlocksTheRevert) {
    expectRun({"prepare", kOraData});
    const std::string id = snap();
    const std::string other = "KY-20261209T000000Z-9";
    simulator->withModel([&](arraysim::Model& model) {
        model.addSnapshot(*model.findDataset(kVolume), "Manual-V-" + other);
    });
    foreignClone(other, "MNT_" + other);
    const CliRun run = runner->run({"revert", "--destroy-newer", "--yes", id});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("blocked: clone pool-a/Local/oracle/MNT_" + other +
                           " of newer snapshot Manual-V-" + other +
                           " was made by the plug-in for a host, but not by this catalog"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(requestsOf("rollBackToVolumeSnapshot"), 0);
    EXPECT_TRUE(datasetExists("MNT_" + other));
}

TEST_F(KysnapDestroy, TwoRevertsOfOneSourceInOneRunAreRefused) {
    expectRun({"prepare", kOraData});
    const std::string id1 = snap();
    const std::string id2 = snap();
    const CliRun run = runner->run({"revert", "--destroy-newer", id1, id2});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("are snapshots of the same source"), std::string::npos) << run.err;
    EXPECT_EQ(requestsOf("rollBackToVolumeSnapshot"), 0);
}

}  // namespace
}  // namespace kysnap_test
