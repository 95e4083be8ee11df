// SPDX-License-Identifier: Apache-2.0
// Snapshot, clone, mapping and deletion life cycles, driven over HTTPS with the request bodies
// the plug-in sends; each test checks that later answers follow from earlier calls.
#include <gtest/gtest.h>

#include "SimHarness.h"

namespace arraysim_test {
namespace {

const std::string kOraData = "pool-a/Local/oracle/ora-data";
const std::string kOraDataLun = "600144F0C8A7B3D1E45F4A2B00010001";

// The plug-in's createVolumeSnapshot body for ora-data (its volSize is the low 32 bits).
std::string volumeSnapshotBody(const std::string& name) {
    return "[{\"poolName\":\"pool-a\",\"projectName\":\"oracle\",\"name\":\"ora-data\","
           "\"luId\":\"" +
           kOraDataLun +
           "\",\"volSize\":0,\"blockSize\":\"8KB\",\"thinProvision\":true,"
           "\"protocol\":\"FC\",\"datasetPath\":\"" +
           kOraData + "\",\"local\":\"true\"},\"" + name + "\",false]";
}

class ArraySimLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.started()) << sim.startError(); }

    void snapshot(const std::string& name) {
        CallResult r = sim.call("createVolumeSnapshot", volumeSnapshotBody(name));
        ASSERT_EQ(200, r.status) << r.body;
    }
    void clone(const std::string& name, const std::string& cloneName) {
        CallResult r = sim.call("cloneVolumeSnapshot", "[\"" + kOraData + "@Manual-V-" + name +
                                                           "\",\"" + cloneName + "\",false,false]");
        ASSERT_EQ(200, r.status) << r.body;
    }
    std::vector<std::string> snapshotsOf(const std::string& path) {
        CallResult r = sim.call("listSnapshots", "[\"" + path + "\",\"\"]");
        EXPECT_EQ(200, r.status) << r.body;
        return asNames(r.body);
    }
    jsonxx::Object volumeNamed(const std::string& project, const std::string& name) {
        CallResult r = sim.call("listVolumes", "[\"pool-a\",\"" + project + "\",\"true\"]");
        EXPECT_EQ(200, r.status) << r.body;
        const jsonxx::Array volumes = asArray(r.body);
        for (const jsonxx::Value& v : volumes.values()) {
            if (v.get<jsonxx::Object>().get<std::string>("name") == name) {
                return v.get<jsonxx::Object>();
            }
        }
        return {};
    }

    SimHarness sim;
};

TEST_F(ArraySimLifecycleTest, SnapshotIsListedUnderItsManualNameAfterItsPendingPolls) {
    ASSERT_EQ(200, sim.control("POST", "config", "{\"snapshotPendingPolls\": 2}").status);
    snapshot("KY-s1");
    const std::string status = "[\"" + kOraData + "\",\"KY-s1\"]";
    for (int expected : {1, 1, 0, 0}) {
        CallResult r = sim.call("getVolumeSnapshotCreationStatus", status);
        ASSERT_EQ(200, r.status) << r.body;
        EXPECT_EQ(expected, asObject(r.body).get<jsonxx::Number>("snapshotProgressStatus"));
    }
    EXPECT_EQ(std::vector<std::string>{"Manual-V-KY-s1"},
              asNames(sim.call("listSnapshots", "[\"" + kOraData + "\",\"KY-\"]").body));
    EXPECT_EQ((std::vector<std::string>{"Auto-daily-20240301", "Manual-V-before-upgrade",
                                        "Manual-V-KY-s1"}),
              snapshotsOf(kOraData));

    CallResult again = sim.call("createVolumeSnapshot", volumeSnapshotBody("KY-s1"));
    EXPECT_EQ(409, again.status);
    EXPECT_TRUE(contains(again.body, "already exists")) << again.body;
    CallResult unknown =
        sim.call("getVolumeSnapshotCreationStatus", "[\"" + kOraData + "\",\"never-made\"]");
    EXPECT_EQ(404, unknown.status);
}

TEST_F(ArraySimLifecycleTest, BatchSnapshotAnswersEachPathOnItsOwn) {
    CallResult r = sim.call("createSnapshots",
                            "[[\"" + kOraData +
                                "@Manual-V-b1\",\"pool-b/Local/files/projects@Manual-S-b1\","
                                "\"pool-a/Local/oracle/gone@Manual-V-b1\"],false, false]");
    ASSERT_EQ(200, r.status) << r.body;
    jsonxx::Array results = asArray(r.body);
    ASSERT_EQ(3u, results.size());
    EXPECT_EQ(0, results.get<jsonxx::Object>(0).get<jsonxx::Number>("commandStatus"));
    EXPECT_EQ(0, results.get<jsonxx::Object>(1).get<jsonxx::Number>("commandStatus"));
    EXPECT_NE(0, results.get<jsonxx::Object>(2).get<jsonxx::Number>("commandStatus"));
    EXPECT_TRUE(results.get<jsonxx::Object>(2).has<jsonxx::Object>("commandException"));
    EXPECT_EQ((std::vector<std::string>{"Manual-S-weekly", "Manual-S-b1"}),
              snapshotsOf("pool-b/Local/files/projects"));
}

TEST_F(ArraySimLifecycleTest, CloneBecomesAVolumeWithItsOwnLunId) {
    snapshot("KY-c1");
    clone("KY-c1", "MNT_KY-c1");
    jsonxx::Object cloneVolume = volumeNamed("oracle", "MNT_KY-c1");
    ASSERT_TRUE(cloneVolume.has<std::string>("luId")) << cloneVolume.json();
    const std::string luId = cloneVolume.get<std::string>("luId");
    EXPECT_EQ(32u, luId.size());
    EXPECT_NE(kOraDataLun, luId);
    EXPECT_EQ(536870912000.0L, cloneVolume.get<jsonxx::Number>("volSize"));
    EXPECT_EQ(kOraData + "@Manual-V-KY-c1", cloneVolume.get<std::string>("originSnapshot"));

    jsonxx::Array byId = asArray(sim.call("listLunsById", "[[\"" + luId + "\"]]").body);
    ASSERT_EQ(1u, byId.size());
    EXPECT_EQ("pool-a/Local/oracle/MNT_KY-c1", textOf(byId.get<jsonxx::Object>(0), "datasetPath"));

    // Five parameters: the last one sets the clone's protocol (true: iSCSI).
    CallResult five = sim.call("cloneVolumeSnapshot", "[\"" + kOraData +
                                                          "@Manual-V-KY-c1\",\"MNT_iscsi\","
                                                          "false,false,true]");
    ASSERT_EQ(200, five.status) << five.body;
    EXPECT_EQ("iSCSI", volumeNamed("oracle", "MNT_iscsi").get<std::string>("protocol"));

    CallResult taken = sim.call("cloneVolumeSnapshot",
                                "[\"" + kOraData + "@Manual-V-KY-c1\",\"MNT_KY-c1\",false,false]");
    EXPECT_EQ(409, taken.status);
    EXPECT_TRUE(contains(taken.body, "already exists")) << taken.body;
    CallResult missing = sim.call("cloneVolumeSnapshot",
                                  "[\"" + kOraData + "@Manual-V-nope\",\"MNT_x\",false,false]");
    EXPECT_EQ(404, missing.status);
    EXPECT_TRUE(contains(missing.body, "does not exist")) << missing.body;
}

TEST_F(ArraySimLifecycleTest, MappedCloneIsSeenByTheHostAndItsMappingGoesWithIt) {
    snapshot("KY-m1");
    clone("KY-m1", "MNT_KY-m1");
    const std::string clonePath = "pool-a/Local/oracle/MNT_KY-m1";
    const std::string luId = volumeNamed("oracle", "MNT_KY-m1").get<std::string>("luId");
    const std::string map = "[\"" + clonePath + "\",\"db-host-fc\",\"default-fc-target-group\",-1]";
    CallResult mapped = sim.call("createMappingForVolume", map);
    ASSERT_EQ(200, mapped.status) << mapped.body;
    CallResult twice = sim.call("createMappingForVolume", map);
    EXPECT_NE(200, twice.status);
    EXPECT_TRUE(contains(twice.body, "STMF_ERROR_VE_CONFLICT")) << twice.body;

    const std::string host = "{\"initiators\": [\"21:00:00:24:ff:3d:2a:10\"]}";
    jsonxx::Array luns =
        asObject(sim.control("POST", "hostview", host).body).get<jsonxx::Array>("luns");
    int lun = -1;
    for (const jsonxx::Value& v : luns.values()) {
        if (v.get<jsonxx::Object>().get<std::string>("luId") == luId) {
            lun = static_cast<int>(v.get<jsonxx::Object>().get<jsonxx::Number>("lun"));
        }
    }
    EXPECT_EQ(2, lun);           // 0 and 1 are taken
    EXPECT_EQ(3u, luns.size());  // ora-data, ora-logs and the clone
    jsonxx::Object other = asObject(
        sim.control("POST", "hostview", "{\"initiators\": [\"wwn.21000024FF4E3B20\"]}").body);
    EXPECT_TRUE(other.get<jsonxx::Array>("luns").empty());

    ASSERT_EQ(200, sim.call("deleteVolume", "[\"" + clonePath + "\",true,true]").status);
    EXPECT_EQ(
        2u, asObject(sim.control("POST", "hostview", host).body).get<jsonxx::Array>("luns").size());
    CallResult gone = sim.call("deleteVolume", "[\"" + clonePath + "\",true,true]");
    EXPECT_EQ(404, gone.status);
    EXPECT_TRUE(contains(gone.body, "No such volume exists")) << gone.body;
    jsonxx::Array byId = asArray(sim.call("listLunsById", "[[\"" + luId + "\"]]").body);
    ASSERT_EQ(1u, byId.size());
    EXPECT_NE(0, numberOf(byId.get<jsonxx::Object>(0), "commandStatus", 0));
}

TEST_F(ArraySimLifecycleTest, UnmappingRemovesOnlyThatMapping) {
    const std::string body =
        "[\"pool-a/Local/oracle/ora-logs\",\"db-host-fc\","
        "\"default-fc-target-group\"]";
    ASSERT_EQ(200, sim.call("deleteMappingFromVolume", body).status);
    CallResult again = sim.call("deleteMappingFromVolume", body);
    EXPECT_EQ(404, again.status);
    EXPECT_EQ(
        1u,
        asObject(
            sim.control("POST", "hostview", "{\"initiators\": [\"wwn.21000024FF3D2A11\"]}").body)
            .get<jsonxx::Array>("luns")
            .size());
}

// The array documents the second parameter of a snapshot delete as "dependents of the
// snapshot are deleted before the snapshot": a mapped clone goes with its mapping, so its host
// loses the LUN. Without the flag the delete is refused while clones exist.
TEST_F(ArraySimLifecycleTest, DeletingASnapshotWithItsDependentsTakesItsMappedClones) {
    snapshot("KY-d1");
    clone("KY-d1", "MNT_KY-d1");
    const std::string clonePath = "pool-a/Local/oracle/MNT_KY-d1";
    const std::string cloneLun = volumeNamed("oracle", "MNT_KY-d1").get<std::string>("luId");
    ASSERT_EQ(200, sim.call("createMappingForVolume",
                            "[\"" + clonePath + "\",\"db-host-fc\",\"default-fc-target-group\",-1]")
                       .status);
    // A snapshot of the clone, and a clone of that: all of them depend on KY-d1.
    ASSERT_EQ(
        200,
        sim.call("createSnapshots", "[[\"" + clonePath + "@Manual-V-inner\"],false,false]").status);
    ASSERT_EQ(200, sim.call("cloneVolumeSnapshot",
                            "[\"" + clonePath + "@Manual-V-inner\",\"MNT_inner\",false,false]")
                       .status);
    const std::string host = "{\"initiators\": [\"21:00:00:24:ff:3d:2a:10\"]}";
    const auto hostSees = [&](const std::string& luId) {
        const jsonxx::Array luns =
            asObject(sim.control("POST", "hostview", host).body).get<jsonxx::Array>("luns");
        for (const jsonxx::Value& v : luns.values()) {
            if (v.get<jsonxx::Object>().get<std::string>("luId") == luId) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(hostSees(cloneLun));

    const std::string path = kOraData + "@Manual-V-KY-d1";
    CallResult refused = sim.call("deleteVolumeSnapshot", "[\"" + path + "\",false]");
    EXPECT_EQ(409, refused.status);
    EXPECT_TRUE(contains(refused.body, "EZEBI_RESOURCE_INUSE")) << refused.body;
    EXPECT_TRUE(contains(refused.body, "dependent clones: pool-a\\/Local\\/oracle\\/MNT_KY-d1"))
        << refused.body;
    EXPECT_FALSE(contains(refused.body, "does not exist")) << refused.body;
    EXPECT_EQ(409, sim.call("deleteVolumeSnapshot", "[\"" + path + "\"]").status);
    EXPECT_TRUE(hostSees(cloneLun));

    CallResult deleted = sim.call("deleteVolumeSnapshot", "[\"" + path + "\",true]");
    ASSERT_EQ(200, deleted.status) << deleted.body;
    const jsonxx::Object answer = asObject(deleted.body);
    EXPECT_EQ(0, numberOf(answer, "snapshotDeletionStatus", -1));
    EXPECT_EQ((std::vector<std::string>{"pool-a/Local/oracle/MNT_inner",
                                        clonePath + "@Manual-V-inner", clonePath, path}),
              asNames(answer.get<jsonxx::Array>("deletedList").json()));
    EXPECT_TRUE(answer.get<jsonxx::Array>("failedToDeleteList").empty());
    EXPECT_FALSE(hostSees(cloneLun));
    EXPECT_TRUE(volumeNamed("oracle", "MNT_KY-d1").empty());
    EXPECT_TRUE(volumeNamed("oracle", "MNT_inner").empty());

    CallResult twice = sim.call("deleteVolumeSnapshot", "[\"" + path + "\",true]");
    EXPECT_EQ(404, twice.status);
    EXPECT_TRUE(contains(twice.body, "does not exist")) << twice.body;
}

// A rollback told to destroy newer snapshots takes their clones too (a recursive rollback);
// without the flag it is refused while any newer snapshot exists, clones or not.
TEST_F(ArraySimLifecycleTest, RollbackWithTheFlagDestroysNewerSnapshotsAndTheirClones) {
    snapshot("r1");
    snapshot("r2");
    snapshot("r3");
    clone("r1", "MNT_r1");
    clone("r3", "MNT_r3");
    const std::string toR1 = kOraData + "@Manual-V-r1";
    CallResult refused = sim.call("rollBackToVolumeSnapshot", "[\"" + toR1 + "\",false]");
    EXPECT_EQ(409, refused.status);
    EXPECT_TRUE(contains(refused.body, "Manual-V-r2, Manual-V-r3")) << refused.body;
    EXPECT_EQ(409, sim.call("rollBackToVolumeSnapshot", "[\"" + toR1 + "\"]").status);
    EXPECT_EQ(5u, snapshotsOf(kOraData).size());

    CallResult done = sim.call("rollBackToVolumeSnapshot", "[\"" + toR1 + "\",true]");
    ASSERT_EQ(200, done.status) << done.body;
    EXPECT_EQ(
        (std::vector<std::string>{"Auto-daily-20240301", "Manual-V-before-upgrade", "Manual-V-r1"}),
        snapshotsOf(kOraData));
    EXPECT_TRUE(volumeNamed("oracle", "MNT_r3").empty());
    EXPECT_FALSE(volumeNamed("oracle", "MNT_r1").empty());  // a clone of the target stays
    EXPECT_EQ(
        404,
        sim.call("rollBackToVolumeSnapshot", "[\"" + kOraData + "@Manual-V-r3\",true]").status);
    // The most recent snapshot needs no flag.
    EXPECT_EQ(200, sim.call("rollBackToVolumeSnapshot", "[\"" + toR1 + "\",false]").status);
}

TEST_F(ArraySimLifecycleTest, ShareSnapshotCloneAndAccessRule) {
    // The plug-in writes this object with its JSON writer and strips the backslashes.
    CallResult created = sim.call(
        "createShareSnapshot",
        "[{\n\t\"availableSize\": \"751619276800\",\n\t\"datasetPath\": "
        "\"pool-b/Local/files/home\",\n\t\"local\": true,\n\t\"mountpoint\": "
        "\"/export/files/home\",\n\t\"name\": \"home\",\n\t\"poolName\": \"pool-b\",\n\t"
        "\"projectName\": \"files\",\n\t\"totalSize\": \"1099511627776\" \n},\"n1\",false]");
    ASSERT_EQ(200, created.status) << created.body;
    const std::string home = "pool-b/Local/files/home";
    CallResult status = sim.call("getShareSnapshotCreationStatus", "[\"" + home + "\",\"n1\"]");
    EXPECT_EQ(0, asObject(status.body).get<jsonxx::Number>("snapshotProgressStatus"));
    ASSERT_EQ(
        200,
        sim.call("cloneShareSnapshot", "[\"" + home + "@Manual-S-n1\",\"MNT_n1\",false]").status);

    jsonxx::Object byMount =
        asObject(sim.call("listSharesByMountPoints", "[[\"/export/files/MNT_n1\"]]").body);
    ASSERT_TRUE(byMount.has<jsonxx::Array>("/export/files/MNT_n1")) << byMount.json();
    jsonxx::Array shares = byMount.get<jsonxx::Array>("/export/files/MNT_n1");
    ASSERT_EQ(1u, shares.size());
    EXPECT_EQ("MNT_n1", shares.get<jsonxx::Object>(0).get<std::string>("name"));
    EXPECT_TRUE(shares.get<jsonxx::Object>(0).get<bool>("local"));

    const std::string clonePath = "pool-b/Local/files/MNT_n1";
    const std::string acl = "[\"" + clonePath + "\",\"IP\",\"10.1.2.3\",\"rw\",false]";
    ASSERT_EQ(200, sim.call("addNFSNetworkACLOnShare", acl).status);
    CallResult twice = sim.call("addNFSNetworkACLOnShare", acl);
    EXPECT_EQ(409, twice.status);
    EXPECT_TRUE(contains(twice.body, "already exists")) << twice.body;
    EXPECT_EQ(400, sim.call("addNFSNetworkACLOnShare",
                            "[\"" + clonePath + "\",\"IP\",\"10.1.2\",\"rw\",false]")
                       .status);

    ASSERT_EQ(200, sim.call("deleteShare", "[\"" + clonePath + "\",true,true]").status);
    CallResult gone = sim.call("deleteShare", "[\"" + clonePath + "\",true,true]");
    EXPECT_EQ(404, gone.status);
    EXPECT_TRUE(contains(gone.body, "No such share exist")) << gone.body;
}

TEST_F(ArraySimLifecycleTest, SourceLookupsAnswerWhatThePluginReads) {
    jsonxx::Array byId =
        asArray(sim.call("listLunsById", "[[\"600144f0c8a7b3d1e45f4a2b00020001\"]]").body);
    ASSERT_EQ(1u, byId.size());
    jsonxx::Object volume = byId.get<jsonxx::Object>(0);
    EXPECT_EQ("pool-a/Local/vmware/esx-ds1", textOf(volume, "datasetPath"));
    EXPECT_EQ("2199023255552", textOf(volume, "size"));
    EXPECT_EQ("32KB", textOf(volume, "blockSize"));
    const jsonxx::Object listed = volumeNamed("vmware", "esx-ds1");
    EXPECT_EQ(2199023255552.0L, listed.get<jsonxx::Number>("volSize"));
    EXPECT_TRUE(listed.get<bool>("thinProvision"));
    EXPECT_EQ("iSCSI", listed.get<std::string>("protocol"));

    EXPECT_EQ(1u,
              asArray(sim.call("listVolumes", "[\"pool-b\",\"backup\",\"false\"]").body).size());
    EXPECT_TRUE(asArray(sim.call("listVolumes", "[\"pool-b\",\"backup\",true]").body).empty());
    CallResult project = sim.call("listVolumes", "[\"pool-a\",\"nowhere\",\"true\"]");
    EXPECT_EQ(404, project.status);
    EXPECT_TRUE(asObject(sim.call("listSharesByMountPoints", "[[\"/export/files\"]]").body)
                    .get<jsonxx::Array>("/export/files")
                    .empty());
    EXPECT_EQ(2u, asNames(sim.call("listISCSITargetGroups", "").body).size());
    EXPECT_EQ((std::vector<std::string>{"wwn.2100001B32A1B2C3", "wwn.2101001B32A1B2C3"}),
              asNames(sim.call("listTargetsInTargetGroup", "[\"default-fc-target-group\"]").body));
    EXPECT_EQ(404, sim.call("listTargetsInTargetGroup", "[\"none\"]").status);
}

}  // namespace
}  // namespace arraysim_test
