// SPDX-License-Identifier: Apache-2.0
#include "ArrayApiFixture.h"
#include "PropertyNames.h"

namespace {

using CloneLookup = ArrayApiFixture;
using CloneRemoval = ArrayApiFixture;
using TargetLookup = ArrayApiFixture;
using Mapping = ArrayApiFixture;

TEST_F(CloneLookup, CloneBodiesDifferForVolumesAndShares) {
    map[TARGET_DEVICE_DATASET_PATH_NAME] = "p/Local/j/v@Manual-V-S";
    map[TARGET_DEVICE_MOUNT_NAME] = "MNT_S";
    reply("cloneVolumeSnapshot", 200, "");
    EXPECT_EQ(api->mountCopy(map), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("cloneVolumeSnapshot"), R"(["p/Local/j/v@Manual-V-S","MNT_S",false,false])");
    map[SNAP_CONFIG_PROTOCOL] = "NFS";
    reply("cloneShareSnapshot", 500, "Access Denied");
    EXPECT_EQ(api->mountCopy(map), COPY_ACCESS_DENIED);
    EXPECT_EQ(bodyOf("cloneShareSnapshot"), R"(["p/Local/j/v@Manual-V-S","MNT_S",false])");
}

TEST_F(CloneLookup, TheFirstCloneOfTheNameGivesItsLunId) {
    map[SOURCE_DEVICE_POOL_NAME] = "pool1";
    map[SOURCE_DEVICE_PROJECT_NAME] = "projA";
    map[TARGET_DEVICE_MOUNT_NAME] = "MNT_S";
    reply(
        "listVolumes", 200,
        R"([{"name":"vol1","luId":"A"},{"name":"MNT_S","luId":"B"},{"name":"MNT_S","luId":"C"}])");
    EXPECT_EQ(api->getMountedCopy(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_MOUNTED], "true");
    EXPECT_EQ(map[TARGET_DEVICE_MOUNT_ID], "B");
    EXPECT_EQ(bodyOf("listVolumes"), R"(["pool1","projA","true"])");

    map[SNAP_CONFIG_PROTOCOL] = "NFS";
    reply("listShares", 200, R"([{"name":"MNT_S","mountpoint":"/export/MNT_S"}])");
    EXPECT_EQ(api->getMountedCopy(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_MOUNTPOINT_NAME], "/export/MNT_S");
}

TEST_F(CloneLookup, MissingCloneIsReportedUnmountedWithoutPolling) {
    map[TARGET_DEVICE_MOUNT_NAME] = "MNT_S";
    map[TARGET_DEVICE_MOUNTED] = "true";
    reply("listVolumes", 200, R"([{"name":"vol1","luId":"A"}])");
    api->setRetry(true);
    EXPECT_EQ(api->getMountedCopy(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_MOUNTED], "false");
    EXPECT_EQ(callsTo("listVolumes"), 1u);
    EXPECT_TRUE(sleeper.waits.empty());
    EXPECT_TRUE(request.logged("retry count [3] retry inteval [2]", 1));
}

TEST_F(CloneLookup, ListedEntriesWithoutNameOrLunIdFail) {
    map[TARGET_DEVICE_MOUNT_NAME] = "MNT_S";
    reply("listVolumes", 200, R"([{"luId":"A"}])");
    EXPECT_EQ(api->getMountedCopy(map), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON response: LUN or share name not found", 2));
    reply("listVolumes", 200, R"([{"name":"MNT_S"}])");
    EXPECT_EQ(api->getMountedCopy(map), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON response: luId not found", 2));
}

TEST_F(CloneLookup, CloneDatasetPathIsFoundByItsLunId) {
    map[TARGET_DEVICE_MOUNT_ID] = "B";
    reply("listLunsById", 200, R"([{"datasetPath":"pool1/Local/projA/MNT_S"}])");
    EXPECT_EQ(api->getMountedCopyByID(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_MOUNT_DATASET_PATH], "pool1/Local/projA/MNT_S");
    EXPECT_EQ(bodyOf("listLunsById"), R"([["B"]])");
}

TEST_F(CloneRemoval, CloneAlreadyGoneCountsAsDeletedAndTheLaterTextWins) {
    map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME] = "pool1/Local/projA/MNT_S";
    reply("deleteVolume", 200, "");
    EXPECT_EQ(api->unmountCopy(map), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("deleteVolume"), R"(["pool1/Local/projA/MNT_S",true,true])");
    reply("deleteVolume", 404, "No such volume exists");
    EXPECT_EQ(api->unmountCopy(map), COPY_SUCCESS);
    EXPECT_TRUE(request.logged("clone [pool1/Local/projA/MNT_S] does not exist in the array", 2));
    map[SNAP_CONFIG_PROTOCOL] = "NFS";
    reply("deleteShare", 403, "Access Denied; No such share exist");
    EXPECT_EQ(api->unmountCopy(map), COPY_SUCCESS);
    reply("deleteShare", 403, "Access Denied");
    EXPECT_EQ(api->unmountCopy(map), COPY_ACCESS_DENIED);
}

TEST_F(CloneRemoval, HyperVHostLosesOnlyTheMapping) {
    map[SNAP_CONFIG_OS] = "HYPERV";
    map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME] = "pool1/Local/projA/MNT_S";
    map[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME] = "KY-host1-FC";
    map[TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME] = "default-fc-target-group";
    reply("deleteMappingFromVolume", 200, "");
    EXPECT_EQ(api->unmountCopy(map), COPY_SUCCESS);
    EXPECT_EQ(callsTo("deleteVolume"), 0u);
    EXPECT_EQ(bodyOf("deleteMappingFromVolume"),
              R"(["pool1/Local/projA/MNT_S","KY-host1-FC","default-fc-target-group"])");
}

TEST_F(CloneRemoval, RetryModeDeletesUntilTheArrayAccepts) {
    map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME] = "pool1/Local/projA/MNT_S";
    reply("deleteVolume", 500, "dataset is busy");
    reply("deleteVolume", 500, "dataset is busy");
    reply("deleteVolume", 200, "");
    api->setRetry(true);
    EXPECT_EQ(api->unmountCopy(map), COPY_SUCCESS);
    EXPECT_EQ(callsTo("deleteVolume"), 3u);
    EXPECT_EQ(sleeper.waits, (std::vector<unsigned int>{2000, 2000}));
}

TEST_F(TargetLookup, TargetIsSearchedInEveryGroupOfItsProtocol) {
    map[DEVICE_TARGET_ID] = "iqn.2012-02.com.tegile:t1";
    reply("listISCSITargetGroups", 200, R"(["tg-a","tg-b"])");
    reply("listTargetsInTargetGroup", 200, R"(["iqn.2012-02.com.tegile:t1","iqn.x"])");
    reply("listTargetsInTargetGroup", 200, R"(["iqn.y"])");
    EXPECT_EQ(api->findTarget(map), COPY_SUCCESS);
    EXPECT_EQ(map[DEVICE_PROTOCOL], "ISCSI");
    EXPECT_EQ(map[DEVICE_TARGET_FOUND], "TRUE");
    EXPECT_EQ(bodyOf("listISCSITargetGroups"), "");
    EXPECT_EQ(bodyOf("listTargetsInTargetGroup", 1), R"(["tg-b"])");
    EXPECT_FALSE(request.logged("target  [iqn.x]")) << "the group's scan ends at its match";
}

TEST_F(TargetLookup, UnrecognisedTargetKeepsTheCallersProtocol) {
    map[DEVICE_TARGET_ID] = "naa.600144f0";
    map[DEVICE_PROTOCOL] = "ISCSI";
    reply("listISCSITargetGroups", 200, "[]");
    EXPECT_EQ(api->findTarget(map), COPY_SUCCESS);
    EXPECT_EQ(map.count(DEVICE_TARGET_FOUND), 0u);
    map[DEVICE_PROTOCOL] = "";
    reply("listFCTargetGroups", 200, "[]");
    EXPECT_EQ(api->findTarget(map), COPY_SUCCESS);
    EXPECT_EQ(callsTo("listFCTargetGroups"), 1u);
}

TEST_F(TargetLookup, AGroupThatCannotBeListedFailsTheLookupEvenAfterAMatch) {
    map[DEVICE_TARGET_ID] = "wwn.2100001B32A0B0C0";
    reply("listFCTargetGroups", 200, R"(["g1","g2"])");
    reply("listTargetsInTargetGroup", 200, R"(["wwn.2100001B32A0B0C0"])");
    reply("listTargetsInTargetGroup", 500, "internal error");
    EXPECT_EQ(api->findTarget(map), COPY_FAILED);
    EXPECT_EQ(map[DEVICE_TARGET_FOUND], "TRUE");
    reply("listFCTargetGroups", 200, R"(["g1"])");
    reply("listTargetsInTargetGroup", 200, R"({"not":"a list"})");
    EXPECT_EQ(api->findTarget(map), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON parsing failed", 2));
}

TEST_F(Mapping, EmptyTargetGroupsDefaultByProtocolAndAreWrittenBack) {
    map[SOURCE_DEVICE_POOL_NAME] = "pool1";
    map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME] = "pool1/Local/projA/MNT_S";
    map[TARGET_DEVICE_MAPPING_INDEX] = "0";
    map[TARGET_DEVICE_MAPPING_PROTOCOL] = "ISCSI";
    map[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME] = "KY-host1-ISCSI";
    reply("createMappingForVolume", 200, "");
    EXPECT_EQ(api->mapCopyToHost(map), COPY_SUCCESS);
    EXPECT_EQ(
        bodyOf("createMappingForVolume"),
        R"(["pool1/Local/projA/MNT_S","KY-host1-ISCSI","default-pool1-iscsi-target-group",-1])");
    EXPECT_EQ(map[TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME], "default-pool1-iscsi-target-group");

    map[TARGET_DEVICE_MAPPING_INDEX] = "1";
    map[TARGET_DEVICE_MAPPING_PROTOCOL2] = "FC";
    map[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME2] = "proxy-group";
    reply("createMappingForVolume", 409, "STMF_ERROR_VE_CONFLICT");
    EXPECT_EQ(api->mapCopyToHost(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME2], "default-fc-target-group");
    EXPECT_TRUE(request.logged("mapping already exist [", 2));
}

// A 200 answer whose command status is not 0 is the array saying the command failed.
TEST_F(Mapping, CommandStatusOtherThanZeroFailsTheCall) {
    map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME] = "pool1/Local/projA/MNT_S";
    map[TARGET_DEVICE_MAPPING_INDEX] = "0";
    map[TARGET_DEVICE_MAPPING_PROTOCOL] = "FC";
    map[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME] = "g1";
    const std::pair<const char*, Copy_Status> answers[] = {
        {"0", COPY_SUCCESS}, {" 0\n", COPY_SUCCESS}, {"", COPY_SUCCESS},
        {"1", COPY_FAILED},  {"-3", COPY_FAILED},     {"{\"x\":", COPY_FAILED},
    };
    for (const auto& [answer, status] : answers) {
        reply("createMappingForVolume", 200, answer);
        EXPECT_EQ(api->mapCopyToHost(map), status) << answer;
    }
    EXPECT_TRUE(request.logged("command status [1] reports a failure", 2));
}

TEST_F(Mapping, ShareAccessNamesTheHostByAddressKind) {
    map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME] = "pool2/Local/nfsproj/MNT_S";
    const std::pair<const char*, const char*> hosts[] = {
        {"10.1.2.3", "IP"}, {"10.1.2", "FQDN"}, {"esx1.example.com", "FQDN"}};
    for (const auto& [host, kind] : hosts) {
        server.clearRequests();
        map[TARGET_DEVICE_MAPPING_HOST_NAME] = host;
        reply("addNFSNetworkACLOnShare", 200, "");
        EXPECT_EQ(api->mapCopyToHostNFS(map), COPY_SUCCESS);
        EXPECT_EQ(bodyOf("addNFSNetworkACLOnShare"),
                  std::string(R"(["pool2/Local/nfsproj/MNT_S",")") + kind + R"(",")" + host +
                      R"(","rw",false])");
    }
    reply("addNFSNetworkACLOnShare", 409, "rule already exists");
    EXPECT_EQ(api->mapCopyToHostNFS(map), COPY_SUCCESS);
    reply("addNFSNetworkACLOnShare", 500, "no space");
    EXPECT_EQ(api->mapCopyToHostNFS(map), COPY_FAILED);
}

}  // namespace
