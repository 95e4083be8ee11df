// SPDX-License-Identifier: Apache-2.0
#include <string>
#include <vector>

#include "PropertyNames.h"
#include "StorageServerFixture.h"

// The storage headers declare no global Properties: the layers above are free to use the name.
struct Properties;

namespace {

using VersionPolicy = StorageServerFixture;
using MountPointWalk = StorageServerFixture;
using SnapshotPolicy = StorageServerFixture;

const char* const kVolumeLookup = R"([{"datasetPath":"pool1/Local/projA/vol1"}])";
const char* const kVolumeList =
    R"([{"luId":"L1","volSize":1024,"blockSize":"8KB","thinProvision":false,"protocol":"FC",)"
    R"("datasetPath":"pool1/Local/projA/vol1"}])";

std::string shareAt(const std::string& mountPoint) {
    return R"({")" + mountPoint +
           R"(":[{"poolName":"pool2","name":"share1","projectName":"nfs","datasetPath":"d",)"
           R"("local":true,"availableSize":1,"totalSize":2}]})";
}

TEST_F(VersionPolicy, BlockVolumesNeedApiTwoZeroAndSharesTwoOne) {
    struct Case {
        const char* version;  // as it stands in the JSON answer
        bool nfs;
        Copy_Status expected;
        const char* shown = nullptr;  // how a refusal line shows the version
    };
    const Case cases[] = {
        {"2.0", false, COPY_SUCCESS},
        {"2.0", true, COPY_NOT_SUPPORTED, "2.0"},
        {"2.1", true, COPY_SUCCESS},
        {"3", false, COPY_SUCCESS},
        {"1.9", false, COPY_NOT_SUPPORTED, "1.9"},
        {"1.9", true, COPY_NOT_SUPPORTED, "1.9"},
        {"", false, COPY_NOT_SUPPORTED, ""},
        {"abc", true, COPY_NOT_SUPPORTED, "abc"},
        // Compared as decimal numbers: 2.10 is 2.1, 2.05 is below it.
        {"2.10", true, COPY_SUCCESS},
        {"2.05", true, COPY_NOT_SUPPORTED, "2.05"},
        // A leading decimal number decides; a patch level or blanks around it change nothing.
        {" 2.1", true, COPY_SUCCESS},
        {"2.1.0", true, COPY_SUCCESS},
        {"3.10.0.1", true, COPY_SUCCESS},
        {"2.1 ", true, COPY_SUCCESS},
        {"\\t2.0\\t", false, COPY_SUCCESS},
        {"1.9.9", false, COPY_NOT_SUPPORTED, "1.9.9"},
        {"2.0.9", true, COPY_NOT_SUPPORTED, "2.0.9"},
        // Nothing that a lenient number reader would take for 2.1 or more passes: exponents,
        // signs, hex, other text after the number, control characters, stray bytes, blanks
        // alone, or more than 32 characters.
        {"1e999", false, COPY_NOT_SUPPORTED, "1e999"},
        {"9e9", true, COPY_NOT_SUPPORTED, "9e9"},
        {"2.1e0", true, COPY_NOT_SUPPORTED, "2.1e0"},
        {"+2.1", true, COPY_NOT_SUPPORTED, "+2.1"},
        {"-3", false, COPY_NOT_SUPPORTED, "-3"},
        {"0x10", false, COPY_NOT_SUPPORTED, "0x10"},
        {"2.1b", true, COPY_NOT_SUPPORTED, "2.1b"},
        {"2.", false, COPY_NOT_SUPPORTED, "2."},
        {" ", false, COPY_NOT_SUPPORTED, " "},
        {"2.1000000000000000000000000000000", true, COPY_NOT_SUPPORTED,
         "2.1000000000000000000000000000000"},
        {"2.1\\u0000", true, COPY_NOT_SUPPORTED, "2.1\\x00"},
        {"2.1\\n", true, COPY_NOT_SUPPORTED, "2.1\\x0a"},
        {"2.1\xff", true, COPY_NOT_SUPPORTED, "2.1\\xff"},
        {"2.1\x1b[2J\x07", true, COPY_NOT_SUPPORTED, "2.1\\x1b[2J\\x07"},
    };
    for (const Case& c : cases) {
        device.getProperties().clear();
        server.clearRequests();
        request.logLines.clear();
        prop(SOURCE_DEVICE_ID) = "L1";
        if (c.nfs) {
            prop(SNAP_CONFIG_PROTOCOL) = "NFS";
            prop(SOURCE_DEVICE_MOUNT_POINT_NAME) = "/export/share1";
        }
        reply("listSystemProperties", 200,
              std::string(R"(["IntelliFlash","3.10",")") + c.version + R"(","0"])");
        reply("listLunsById", 200, kVolumeLookup);
        reply("listVolumes", 200, kVolumeList);
        reply("listSharesByMountPoints", 200, shareAt("/export/share1"));
        EXPECT_EQ(storage->prepare(&device), c.expected)
            << c.version << (c.nfs ? " nfs" : " block") << "\n"
            << log();
        if (c.expected == COPY_NOT_SUPPORTED) {
            EXPECT_EQ(callsTo("listLunsById") + callsTo("listSharesByMountPoints"), 0u);
            // One line, with the text as the array sent it, control bytes made visible.
            const std::string line = c.nfs ? "storage server version not supported for NFS  ["
                                           : "storage server version not supported version [";
            EXPECT_TRUE(request.logged(line + c.shown + "]", 2)) << log();
        }
    }
}

TEST_F(VersionPolicy, FailedLookupIsReportedWithTheApisStatus) {
    reply("listSystemProperties", 200, R"(["m","v","2.1","0"])");
    reply("listLunsById", 200, "[]");
    prop(SOURCE_DEVICE_ID) = "L1";
    EXPECT_EQ(storage->prepare(&device), COPY_FAILED);
    EXPECT_TRUE(request.logged("storage API get source device failed error [1]", 2));
    reply("listSystemProperties", 401, "Access Denied");
    EXPECT_EQ(storage->prepare(&device), COPY_ACCESS_DENIED);
    EXPECT_TRUE(request.logged("storage API get config failed error [8]", 2));
}

TEST_F(MountPointWalk, ParentsAreTriedLongestFirstUntilAShareIsFound) {
    reply("listSystemProperties", 200, R"(["m","v","2.1","0"])");
    always("listSharesByMountPoints", 200, "{}");
    reply("listSharesByMountPoints", 200, "{}");
    reply("listSharesByMountPoints", 200, shareAt("/vol/a"));
    prop(SNAP_CONFIG_PROTOCOL) = "NFS";
    prop(SOURCE_DEVICE_MOUNT_POINT_NAME) = "/vol/a/b";
    ASSERT_EQ(storage->prepare(&device), COPY_SUCCESS) << log();
    ASSERT_EQ(callsTo("listSharesByMountPoints"), 2u);
    EXPECT_EQ(bodyOf("listSharesByMountPoints", 0), R"([["/vol/a/b"]])");
    EXPECT_EQ(bodyOf("listSharesByMountPoints", 1), R"([["/vol/a"]])");
    EXPECT_EQ(prop(SOURCE_DEVICE_MOUNT_POINT_NAME_HINT), "/vol/a");
}

TEST_F(MountPointWalk, EmptyPiecesAreSkippedAndTheLastFailureIsReturned) {
    always("listSystemProperties", 200, R"(["m","v","2.1","0"])");
    always("listSharesByMountPoints", 200, "{}");
    prop(SNAP_CONFIG_PROTOCOL) = "NFS";
    prop(SOURCE_DEVICE_MOUNT_POINT_NAME) = "//vol//a/";
    EXPECT_EQ(storage->prepare(&device), COPY_FAILED);
    ASSERT_EQ(callsTo("listSharesByMountPoints"), 2u);
    EXPECT_EQ(bodyOf("listSharesByMountPoints", 0), R"([["/vol/a"]])");
    EXPECT_EQ(bodyOf("listSharesByMountPoints", 1), R"([["/vol"]])");

    server.clearRequests();
    prop(SOURCE_DEVICE_MOUNT_POINT_NAME) = "///";
    EXPECT_EQ(storage->prepare(&device), COPY_SUCCESS);
    EXPECT_EQ(callsTo("listSharesByMountPoints"), 0u);
}

TEST_F(SnapshotPolicy, DatasetPathOf255CharactersIsCreatedAnd256IsRefused) {
    prop(SOURCE_DEVICE_POOL_NAME) = "pool1";
    prop(SOURCE_DEVICE_MODE) = "Local";
    prop(SOURCE_DEVICE_PROJECT_NAME) = "projA";
    prop(SOURCE_DEVICE_NAME) = "vol1";
    const size_t fixed = std::string("pool1/Local/projA/vol1@Manual-V-").size();
    always("createVolumeSnapshot", 200, "");
    prop(TARGET_DEVICE_NAME) = std::string(255 - fixed, 's');
    EXPECT_EQ(storage->createCopy(&device), COPY_SUCCESS);
    prop(TARGET_DEVICE_NAME) = std::string(256 - fixed, 's');
    EXPECT_EQ(storage->createCopy(&device), COPY_PATH_TOO_LONG);
    EXPECT_EQ(callsTo("createVolumeSnapshot"), 1u);
    EXPECT_TRUE(request.logged("size [256]", 2));
}

TEST_F(SnapshotPolicy, CreationStatusIsAlwaysPolled) {
    prop(SOURCE_DEVICE_DATASET_PATH_NAME) = "pool1/Local/projA/vol1";
    prop(TARGET_DEVICE_NAME) = "KY-1";
    reply("getVolumeSnapshotCreationStatus", 200, R"({"snapshotProgressStatus":1})");
    reply("getVolumeSnapshotCreationStatus", 200, R"({"snapshotProgressStatus":0})");
    EXPECT_EQ(storage->getCopyCreatedStatus(&device), COPY_SUCCESS);
    EXPECT_EQ(callsTo("getVolumeSnapshotCreationStatus"), 2u);
    EXPECT_EQ(sleeper.waits, (std::vector<unsigned int>{100}));
}

TEST_F(SnapshotPolicy, ShareSnapshotsAreDeletedAndRolledBackUnderTheirShareName) {
    prop(SNAP_CONFIG_PROTOCOL) = "NFS";
    prop(SOURCE_DEVICE_POOL_NAME) = "pool2";
    prop(SOURCE_DEVICE_MODE) = "Local";
    prop(SOURCE_DEVICE_PROJECT_NAME) = "nfs";
    prop(SOURCE_DEVICE_NAME) = "share1";
    prop(TARGET_DEVICE_NAME) = "KY-1";
    reply("deleteShareSnapshot", 200, R"({"snapshotDeletionStatus":0})");
    EXPECT_EQ(storage->deleteCopy(&device), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("deleteShareSnapshot"), R"(["pool2/Local/nfs/share1@Manual-S-KY-1",true])");
    reply("rollBackToShareSnapshot", 200, "");
    EXPECT_EQ(storage->rollbackCopy(&device), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("rollBackToShareSnapshot"),
              R"(["pool2/Local/nfs/share1@Manual-S-KY-1",true])");

    prop(SNAP_CONFIG_PROTOCOL) = "";
    reply("rollBackToVolumeSnapshot", 200, "");
    EXPECT_EQ(storage->rollbackCopy(&device), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("rollBackToVolumeSnapshot"),
              R"(["pool2/Local/nfs/share1@Manual-V-KY-1",true])");
}

class ClonePolicy : public StorageServerFixture {
protected:
    void SetUp() override {
        StorageServerFixture::SetUp();
        prop(SOURCE_DEVICE_POOL_NAME) = "pool1";
        prop(SOURCE_DEVICE_MODE) = "Local";
        prop(SOURCE_DEVICE_PROJECT_NAME) = "projA";
        prop(SOURCE_DEVICE_NAME) = "vol1";
        prop(SOURCE_DEVICE_DATASET_PATH_NAME) = "pool1/Local/projA/vol1";
        prop(TARGET_DEVICE_NAME) = "KY-1";
        prop(TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME) = "KY-host1-FC";
        prop(TARGET_DEVICE_MAPPING_PROTOCOL) = "FC";
    }
};

TEST_F(ClonePolicy, SnapshotIsClonedFoundAndMapped) {
    reply("cloneVolumeSnapshot", 200, "");
    reply("listVolumes", 200, R"([{"name":"MNT_KY-1","luId":"C1"}])");
    reply("createMappingForVolume", 200, "");
    ASSERT_EQ(storage->mountCopy(&device), COPY_SUCCESS) << log();
    EXPECT_EQ(bodyOf("cloneVolumeSnapshot"),
              R"(["pool1/Local/projA/vol1@Manual-V-KY-1","MNT_KY-1",false,false])");
    EXPECT_EQ(bodyOf("createMappingForVolume"),
              R"(["pool1/Local/projA/MNT_KY-1","KY-host1-FC","default-fc-target-group",-1])");
    EXPECT_EQ(prop(TARGET_DEVICE_MOUNT_ID), "C1");
    EXPECT_EQ(prop(TARGET_DEVICE_MOUNT_DATASET_PATH_NAME), "pool1/Local/projA/MNT_KY-1");
}

TEST_F(ClonePolicy, SecondMappingFailureStillMounts) {
    prop(TARGET_DEVICE_MAPPING_COUNT) = "2";
    prop(TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME2) = "proxy";
    reply("cloneVolumeSnapshot", 200, "");
    reply("listVolumes", 200, R"([{"name":"MNT_KY-1","luId":"C1"}])");
    reply("createMappingForVolume", 200, "");
    reply("createMappingForVolume", 500, "no such group");
    EXPECT_EQ(storage->mountCopy(&device), COPY_SUCCESS) << log();
    EXPECT_EQ(callsTo("createMappingForVolume"), 2u);
    EXPECT_EQ(prop(TARGET_DEVICE_MAPPING_INDEX), "1");
    EXPECT_TRUE(request.logged("storage API mapCopyToHost failed but skipping error [1]", 2));

    // A count other than exactly "2" maps once.
    server.clearRequests();
    prop(SKIP_TARGET_DEVICE_MOUNT) = "true";
    prop(TARGET_DEVICE_MAPPING_COUNT) = "1";
    reply("createMappingForVolume", 200, "");
    EXPECT_EQ(storage->mountCopy(&device), COPY_SUCCESS);
    EXPECT_EQ(callsTo("createMappingForVolume"), 1u);
}

TEST_F(ClonePolicy, ExistingCloneIsOnlyMapped) {
    prop(SKIP_TARGET_DEVICE_MOUNT) = "true";
    reply("createMappingForVolume", 200, "");
    EXPECT_EQ(storage->mountCopy(&device), COPY_SUCCESS);
    EXPECT_EQ(callsTo("cloneVolumeSnapshot") + callsTo("listVolumes"), 0u);
    EXPECT_EQ(prop(TARGET_DEVICE_MOUNT_NAME), "MNT_KY-1");
    EXPECT_EQ(prop(TARGET_DEVICE_MOUNT_DATASET_PATH_NAME), "pool1/Local/projA/MNT_KY-1");
}

TEST_F(ClonePolicy, CloneTheArrayDoesNotListFailsTheMount) {
    reply("cloneVolumeSnapshot", 200, "");
    reply("listVolumes", 200, "[]");
    EXPECT_EQ(storage->mountCopy(&device), COPY_FAILED);
    EXPECT_EQ(callsTo("createMappingForVolume"), 0u);
    EXPECT_TRUE(request.logged("could not find the target mount device", 2));
}

TEST_F(ClonePolicy, ShareCloneIsOpenedToTheHostInsteadOfMapped) {
    prop(SNAP_CONFIG_PROTOCOL) = "NFS";
    prop(TARGET_DEVICE_MAPPING_HOST_NAME) = "10.0.0.7";
    reply("cloneShareSnapshot", 200, "");
    reply("listShares", 200, R"([{"name":"MNT_KY-1","mountpoint":"/export/MNT_KY-1"}])");
    reply("addNFSNetworkACLOnShare", 200, "");
    EXPECT_EQ(storage->mountCopy(&device), COPY_SUCCESS) << log();
    EXPECT_EQ(bodyOf("cloneShareSnapshot"),
              R"(["pool1/Local/projA/vol1@Manual-S-KY-1","MNT_KY-1",false])");
    EXPECT_EQ(callsTo("createMappingForVolume"), 0u);
    EXPECT_EQ(bodyOf("addNFSNetworkACLOnShare"),
              R"(["pool1/Local/projA/MNT_KY-1","IP","10.0.0.7","rw",false])");
}

TEST_F(ClonePolicy, UnmountNamesTheCloneUnderLocalWhateverTheSourceMode) {
    prop(SOURCE_DEVICE_MODE) = "Replica";
    prop(TARGET_DEVICE_MOUNT_NAME) = "MNT_KY-1";
    reply("deleteVolume", 200, "");
    EXPECT_EQ(storage->unmountCopy(&device), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("deleteVolume"), R"(["pool1/Local/projA/MNT_KY-1",true,true])");
}

class InitiatorSelection : public StorageServerFixture {
protected:
    void SetUp() override {
        StorageServerFixture::SetUp();
        prop(DEVICE_MAPPING_HOST_NAME) = "host1";
        prop(DEVICE_MAPPING_INITIATOR_LIST) = "wwn.C|wwn.A|wwn.B|";
    }
};

TEST_F(InitiatorSelection, FirstHostInitiatorTheArrayKnowsWins) {
    reply("listFCInitiatorGroups", 200, R"(["G","H"])");
    reply("listInitiatorsInInitiatorGroup", 200, R"(["wwn.B"])");
    reply("listInitiatorsInInitiatorGroup", 200, R"(["wwn.Z"])");
    EXPECT_EQ(storage->selectFCInitiator(&device), COPY_SUCCESS) << log();
    EXPECT_EQ(prop(DEVICE_MAPPING_INITIATOR_NAME), "wwn.B");
    EXPECT_EQ(prop(DEVICE_MAPPING_INITIATOR_GROUP_NAME), "G");
    EXPECT_EQ(prop(DEVICE_MAPPING_PROTOCOL), "FC");
    EXPECT_EQ(callsTo("initiatorGroupExists") + callsTo("addInitiatorToInitiatorGroup"), 0u);
    EXPECT_TRUE(request.logged("FC initiator selected [wwn.B], [G]", 1));
}

TEST_F(InitiatorSelection, UnknownInitiatorsAreAddedInNameOrderToTheHostsGroup) {
    reply("listFCInitiatorGroups", 200, "[]");
    reply("initiatorGroupExists", 200, "false");
    reply("createInitiatorGroup", 200, "0");
    reply("addInitiatorToInitiatorGroup", 404, "Initiator wwn.A does not exist");
    reply("addInitiatorToInitiatorGroup", 200, "0");
    EXPECT_EQ(storage->selectFCInitiator(&device), COPY_SUCCESS) << log();
    EXPECT_EQ(bodyOf("createInitiatorGroup"), R"(["KY-host1-FC"])");
    ASSERT_EQ(callsTo("addInitiatorToInitiatorGroup"), 2u);
    EXPECT_EQ(bodyOf("addInitiatorToInitiatorGroup", 0), R"(["wwn.A","KY-host1-FC"])");
    EXPECT_EQ(bodyOf("addInitiatorToInitiatorGroup", 1), R"(["wwn.B","KY-host1-FC"])");
    EXPECT_EQ(prop(DEVICE_MAPPING_INITIATOR_NAME), "wwn.B");
    EXPECT_EQ(prop(DEVICE_MAPPING_INITIATOR_GROUP_NAME), "KY-host1-FC");
}

TEST_F(InitiatorSelection, NoUsableInitiatorIsNotFoundButTheGroupStays) {
    reply("listFCInitiatorGroups", 200, "[]");
    reply("initiatorGroupExists", 200, "true");
    always("addInitiatorToInitiatorGroup", 500, "refused");
    EXPECT_EQ(storage->selectFCInitiator(&device), COPY_NOT_FOUND);
    EXPECT_EQ(callsTo("addInitiatorToInitiatorGroup"), 3u);
    EXPECT_TRUE(request.logged("could not select FC initiator", 1));

    server.clearRequests();
    prop(DEVICE_MAPPING_INITIATOR_LIST) = "";
    reply("listFCInitiatorGroups", 200, "[]");
    reply("initiatorGroupExists", 200, "true");
    EXPECT_EQ(storage->selectFCInitiator(&device), COPY_NOT_FOUND);
    EXPECT_EQ(callsTo("initiatorGroupExists"), 1u)
        << "the group is ensured even without initiators";
}

TEST_F(InitiatorSelection, GroupedIscsiInitiatorNeedsNothingCreated) {
    prop(DEVICE_MAPPING_INITIATOR_NAME) = "iqn.1998-01.com.vmware:h1";
    reply("getInitiatorGroup", 200, "\"hosts\"");
    EXPECT_EQ(storage->selectISCSIInitiator(&device), COPY_SUCCESS);
    EXPECT_EQ(prop(DEVICE_MAPPING_INITIATOR_GROUP_NAME), "hosts");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(InitiatorSelection, UngroupedIscsiInitiatorIsRegisteredGroupedAndAdded) {
    prop(DEVICE_MAPPING_INITIATOR_NAME) = "iqn.1998-01.com.vmware:h1";
    reply("getInitiatorGroup", 200, "");
    reply("createIscsiInitiator", 409, "already exist");
    reply("initiatorGroupExists", 200, "false");
    reply("createInitiatorGroup", 200, "0");
    reply("addInitiatorToInitiatorGroup", 200, "0");
    EXPECT_EQ(storage->selectISCSIInitiator(&device), COPY_SUCCESS) << log();
    EXPECT_EQ(bodyOf("createInitiatorGroup"), R"(["KY-host1-ISCSI"])");
    EXPECT_EQ(bodyOf("addInitiatorToInitiatorGroup"),
              R"(["iqn.1998-01.com.vmware:h1","KY-host1-ISCSI"])");

    server.clearRequests();
    reply("getInitiatorGroup", 200, "");
    reply("createIscsiInitiator", 500, "internal");
    EXPECT_EQ(storage->selectISCSIInitiator(&device), COPY_FAILED);
    EXPECT_EQ(callsTo("initiatorGroupExists"), 0u);
}

}  // namespace
