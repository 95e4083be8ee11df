// SPDX-License-Identifier: Apache-2.0
#include "ArrayApiFixture.h"
#include "CMStorageDevice.h"
#include "PropertyNames.h"

namespace {

using SnapshotCreation = ArrayApiFixture;
using SnapshotListing = ArrayApiFixture;
using SnapshotRemoval = ArrayApiFixture;

void fillVolume(CMTegileStorageAPI::Properties& map) {
    map[SOURCE_DEVICE_POOL_NAME] = "pool1";
    map[SOURCE_DEVICE_PROJECT_NAME] = "projA";
    map[SOURCE_DEVICE_NAME] = "vol1";
    map[SOURCE_DEVICE_MODE] = "Local";
    map[SOURCE_DEVICE_ID] = "600144F0";
    map[SOURCE_DEVICE_SIZE] = "1024";
    map[SOURCE_DEVICE_BLOCK_SIZE] = "8KB";
    map[SOURCE_DEVICE_THIN_PROVISION] = "false";
    map[SOURCE_DEVICE_PROTOCOL] = "iSCSI";
    map[SOURCE_DEVICE_DATASET_PATH] = "pool1/Local/projA/vol1";
    map[SOURCE_DEVICE_DATASET_PATH_NAME] = "pool1/Local/projA/vol1";
    map[TARGET_DEVICE_NAME] = "KY-snap1";
}

void fillShare(CMTegileStorageAPI::Properties& map) {
    map[SNAP_CONFIG_PROTOCOL] = "NFS";
    map[SOURCE_DEVICE_POOL_NAME] = "pool2";
    map[SOURCE_DEVICE_PROJECT_NAME] = "nfsproj";
    map[SOURCE_DEVICE_NAME] = "share1";
    map[SOURCE_DEVICE_MODE] = "Local";
    map[SOURCE_DEVICE_AVAILABLE_SIZE] = "100";
    map[SOURCE_DEVICE_TOTAL_SIZE] = "500";
    map[SOURCE_DEVICE_DATASET_PATH_NAME] = "pool2/Local/nfsproj/share1";
    map[SOURCE_DEVICE_MOUNTPOINT_NAME] = "/export/share1";
    map[TARGET_DEVICE_NAME] = "KY-snap1";
}

TEST_F(SnapshotCreation, VolumeSnapshotBodySendsSizeAndThinProvisioningBare) {
    fillVolume(map);
    reply("createVolumeSnapshot", 200, "");
    ASSERT_EQ(api->createCopy(map), COPY_SUCCESS) << log();
    EXPECT_EQ(bodyOf("createVolumeSnapshot"),
              R"([{"poolName":"pool1","projectName":"projA","name":"vol1","luId":"600144F0",)"
              R"("volSize":1024,"blockSize":"8KB","thinProvision":false,"protocol":"iSCSI",)"
              R"("datasetPath":"pool1/Local/projA/vol1","local":"true"},"KY-snap1",false])");
    for (const auto& line : request.logLines) {
        EXPECT_NE(line.text, "started") << "snapshot creation writes no started line";
    }
}

// A connection that dies after the array read a create must never make it reach the array
// twice: creates go on a new connection and their failure is reported instead.
TEST_F(SnapshotCreation, CreateOnADyingConnectionReachesTheArrayOnce) {
    fillVolume(map);
    reply("listSystemProperties", 200, R"([{"name":"ZEBI_API_VERSION","value":"2.1"}])");
    server.reply("/zebi/api/v2/createVolumeSnapshot", test::Reply::hangUp());
    ignoreStatus(api->getConfig(map), "it only opens the first connection");
    EXPECT_NE(api->createCopy(map), COPY_SUCCESS);
    const auto creates = server.requestsTo("/zebi/api/v2/createVolumeSnapshot");
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(server.requestsTo("/zebi/api/v2/listSystemProperties").at(0).connection, 1);
    EXPECT_EQ(creates[0].connection, 2);
}

TEST_F(SnapshotCreation, DamagedSizeIsQuotedRatherThanSplicedIntoTheBody) {
    fillVolume(map);
    map[SOURCE_DEVICE_SIZE] = R"(1,"x":2)";
    map[SOURCE_DEVICE_THIN_PROVISION] = "";
    reply("createVolumeSnapshot", 200, "");
    EXPECT_EQ(api->createCopy(map), COPY_SUCCESS) << log();
    jsonxx::Array sent;
    ASSERT_TRUE(sent.parse(bodyOf("createVolumeSnapshot")));
    const jsonxx::Object& volume = sent.get<jsonxx::Object>(0);
    EXPECT_EQ(volume.get<jsonxx::String>("volSize"), R"(1,"x":2)");
    EXPECT_FALSE(volume.has<jsonxx::Number>("x"));
    EXPECT_EQ(volume.get<jsonxx::String>("thinProvision"), "");
}

TEST_F(SnapshotCreation, ShareSnapshotBodyIsWrittenJsonWithPlainSlashes) {
    fillShare(map);
    reply("createShareSnapshot", 200, "");
    ASSERT_EQ(api->createCopy(map), COPY_SUCCESS) << log();
    const std::string body = bodyOf("createShareSnapshot");
    EXPECT_NE(body.find(R"("mountpoint": "/export/share1")"), std::string::npos) << body;
    EXPECT_NE(body.find(R"("local": true)"), std::string::npos) << body;
    EXPECT_NE(body.find(R"("availableSize": "100")"), std::string::npos) << body;
    EXPECT_EQ(body.find('\\'), std::string::npos) << body;
    const std::string tail = R"(},"KY-snap1",false])";
    ASSERT_GT(body.size(), tail.size());
    EXPECT_EQ(body.substr(body.size() - tail.size()), tail);
    EXPECT_EQ(body.substr(0, 2), "[{");
    jsonxx::Array sent;
    ASSERT_TRUE(sent.parse(body));
    EXPECT_EQ(sent.get<jsonxx::Object>(0).get<jsonxx::String>("datasetPath"),
              "pool2/Local/nfsproj/share1");
}

TEST_F(SnapshotCreation, ShareNameEscapesOtherThanSlashSurvive) {
    fillShare(map);
    map[SOURCE_DEVICE_NAME] = R"(sh"are\1)";
    reply("createShareSnapshot", 200, "");
    EXPECT_EQ(api->createCopy(map), COPY_SUCCESS) << log();
    jsonxx::Array sent;
    ASSERT_TRUE(sent.parse(bodyOf("createShareSnapshot"))) << bodyOf("createShareSnapshot");
    EXPECT_EQ(sent.get<jsonxx::Object>(0).get<jsonxx::String>("name"), R"(sh"are\1)");
}

TEST_F(SnapshotCreation, BatchCreatesAllQueuedSnapshotsInOneCall) {
    CMStorageDevice volume, share;
    fillVolume(volume.getProperties());
    fillShare(share.getProperties());
    api->addRequest(&volume);
    api->addRequest(&share);
    reply("createSnapshots", 200, R"([{"commandStatus":0},{"commandStatus":0.0}])");
    ASSERT_EQ(api->batchCreateCopy(), COPY_SUCCESS) << log();
    EXPECT_EQ(bodyOf("createSnapshots"),
              R"([["pool1/Local/projA/vol1@Manual-V-KY-snap1",)"
              R"("pool2/Local/nfsproj/share1@Manual-S-KY-snap1"],false, false])");
    EXPECT_EQ(share.getProperties()[TARGET_DEVICE_DATASET_PATH_NAME],
              "pool2/Local/nfsproj/share1@Manual-S-KY-snap1");
}

TEST_F(SnapshotCreation, BatchFailsAtTheFirstRefusedSnapshotOrAMismatchedAnswer) {
    CMStorageDevice first, second;
    fillVolume(first.getProperties());
    fillVolume(second.getProperties());
    api->addRequest(&first);
    api->addRequest(&second);
    reply("createSnapshots", 200,
          R"([{"commandStatus":0},{"commandStatus":3,"commandException":{"message":"busy"}}])");
    EXPECT_EQ(api->batchCreateCopy(), COPY_FAILED);
    EXPECT_TRUE(request.logged("snapshot creation failed ", 2));
    EXPECT_TRUE(request.logged("JSON error response: [", 2));
    EXPECT_TRUE(request.logged("\"message\": \"busy\"", 2));

    reply("createSnapshots", 200, R"([{"commandStatus":0}])");
    EXPECT_EQ(api->batchCreateCopy(), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON response: received data not matching with request", 2));

    reply("createSnapshots", 200, R"([{"commandStatus":"0"},{"commandStatus":0}])");
    EXPECT_EQ(api->batchCreateCopy(), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON response: commandStatus not found", 2));
}

TEST_F(SnapshotCreation, CreationIsPolledEvery100MsUntilTheArrayReportsIt) {
    fillVolume(map);
    for (int i = 0; i < 3; ++i) {
        reply("getVolumeSnapshotCreationStatus", 200, R"({"snapshotProgressStatus":1})");
    }
    reply("getVolumeSnapshotCreationStatus", 200, R"({"snapshotProgressStatus":0})");
    api->setRetry(true);
    EXPECT_EQ(api->getCopyCreatedStatus(map), COPY_SUCCESS) << log();
    EXPECT_EQ(callsTo("getVolumeSnapshotCreationStatus"), 4u);
    EXPECT_EQ(sleeper.waits, (std::vector<unsigned int>{100, 100, 100}));
    EXPECT_EQ(bodyOf("getVolumeSnapshotCreationStatus"),
              R"(["pool1/Local/projA/vol1","KY-snap1"])");

    // Retry mode was used up: the next call asks once.
    reply("getVolumeSnapshotCreationStatus", 200, R"({"snapshotProgressStatus":1})");
    EXPECT_EQ(api->getCopyCreatedStatus(map), COPY_IN_PROGRESS);
    EXPECT_EQ(callsTo("getVolumeSnapshotCreationStatus"), 5u);
}

TEST_F(SnapshotCreation, FailedCreationEndsPollingAtOnce) {
    fillShare(map);
    reply("getShareSnapshotCreationStatus", 200, R"({"snapshotProgressStatus":2})");
    api->setRetry(true);
    EXPECT_EQ(api->getCopyCreatedStatus(map), COPY_FAILED);
    EXPECT_EQ(callsTo("getShareSnapshotCreationStatus"), 1u);
    EXPECT_TRUE(sleeper.waits.empty());

    reply("getShareSnapshotCreationStatus", 200, R"({"snapshotProgressStatus":-1})");
    EXPECT_EQ(api->getCopyCreatedStatus(map), COPY_FAILED);
    reply("getShareSnapshotCreationStatus", 200, R"({"progress":0})");
    EXPECT_EQ(api->getCopyCreatedStatus(map), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON response: snapshot progress status not found", 2));
}

TEST_F(SnapshotListing, OneSnapshotIsLookedUpByItsFullName) {
    fillVolume(map);
    reply("listSnapshots", 200, R"(["Manual-V-KY-other","Manual-V-KY-snap1"])");
    EXPECT_EQ(api->getCopy(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_STATUS], "available");
    EXPECT_EQ(bodyOf("listSnapshots"), R"(["pool1/Local/projA/vol1","Manual-V-KY-snap1"])");

    reply("listSnapshots", 200, "");
    EXPECT_EQ(api->getCopy(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_STATUS], "unavailable");
}

TEST_F(SnapshotListing, SnapshotsOfOneDatasetAreListedOnceAndThenAnsweredFromTheCache) {
    fillVolume(map);
    reply("listSnapshots", 200, R"(["Manual-V-KY-snap1","Manual-V-KY-snap2"])");
    EXPECT_EQ(api->getCopies(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_STATUS], "available");
    EXPECT_EQ(bodyOf("listSnapshots"), R"(["pool1/Local/projA/vol1","KY-"])");

    map[TARGET_DEVICE_NAME] = "KY-snap2";
    EXPECT_EQ(api->getCopies(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_STATUS], "available");
    map[TARGET_DEVICE_NAME] = "KY-gone";
    EXPECT_EQ(api->getCopies(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_STATUS], "unavailable");
    EXPECT_EQ(callsTo("listSnapshots"), 1u);
    EXPECT_TRUE(request.logged("data set found target device not found in cache", 1));
}

TEST_F(SnapshotListing, DatasetWhoseListingWasEmptyIsAskedAgain) {
    fillVolume(map);
    reply("listSnapshots", 200, "[]");
    reply("listSnapshots", 200, R"(["Manual-V-KY-snap1"])");
    EXPECT_EQ(api->getCopies(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_STATUS], "unavailable");
    EXPECT_EQ(api->getCopies(map), COPY_SUCCESS);
    EXPECT_EQ(map[TARGET_DEVICE_STATUS], "available");
    EXPECT_EQ(callsTo("listSnapshots"), 2u);
}

TEST_F(SnapshotRemoval, DeletionReadsTheArraysDeletionStatus) {
    map[TARGET_DEVICE_DATASET_PATH_NAME] = "pool1/Local/projA/vol1@Manual-V-KY-snap1";
    reply("deleteVolumeSnapshot", 200, R"({"snapshotDeletionStatus":0})");
    EXPECT_EQ(api->deleteCopy(map), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("deleteVolumeSnapshot"),
              R"(["pool1/Local/projA/vol1@Manual-V-KY-snap1",true])");
    reply("deleteVolumeSnapshot", 200, R"({"snapshotDeletionStatus":4})");
    EXPECT_EQ(api->deleteCopy(map), COPY_FAILED);
    reply("deleteVolumeSnapshot", 200, R"({"status":0})");
    EXPECT_EQ(api->deleteCopy(map), COPY_FAILED);
}

TEST_F(SnapshotRemoval, SnapshotAlreadyGoneCountsAsDeletedUnlessAccessWasDenied) {
    map[SNAP_CONFIG_PROTOCOL] = "NFS";
    map[TARGET_DEVICE_DATASET_PATH_NAME] = "p/Local/j/s@Manual-S-KY-1";
    reply("deleteShareSnapshot", 404,
          R"({"code":"EZEBI_NOT_FOUND","message":"Snapshot does not exist"})");
    EXPECT_EQ(api->deleteCopy(map), COPY_SUCCESS);
    EXPECT_TRUE(request.logged(
        "snapshot [p/Local/j/s@Manual-S-KY-1] does not exist in the array. marking delete success",
        2));
    reply("deleteShareSnapshot", 403, "Access Denied: snapshot does not exist");
    EXPECT_EQ(api->deleteCopy(map), COPY_ACCESS_DENIED);
}

TEST_F(SnapshotRemoval, RollbackWarnsThatNewerSnapshotsGo) {
    map[TARGET_DEVICE_DATASET_PATH_NAME] = "pool1/Local/projA/vol1@Manual-V-KY-snap1";
    reply("rollBackToVolumeSnapshot", 200, "");
    EXPECT_EQ(api->rollbackCopy(map), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("rollBackToVolumeSnapshot"),
              R"(["pool1/Local/projA/vol1@Manual-V-KY-snap1",true])");
    EXPECT_TRUE(request.logged("WARNING : roll back of snap would delete all newer snaps", 2));
    reply("rollBackToVolumeSnapshot", 500, "Access Denied");
    EXPECT_EQ(api->rollbackCopy(map), COPY_ACCESS_DENIED);
}

}  // namespace
