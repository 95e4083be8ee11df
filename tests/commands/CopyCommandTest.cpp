// SPDX-License-Identifier: Apache-2.0
#include <map>
#include <memory>
#include <string>

#include "CMParser.h"
#include "CMTegileCopyCheckCommand.h"
#include "CMTegileCopyCreateCommand.h"
#include "CMTegileCopyDeleteCommand.h"
#include "CMTegileCopyMountCommand.h"
#include "CMTegileCopyPrepareCommand.h"
#include "CMTegileCopyRevertCommand.h"
#include "CMTegileCopyUnmountCommand.h"
#include "PropertyNames.h"
#include "StorageServerFixture.h"

namespace {

// The keys a stored metadata string is decoded against, in field order.
std::map<std::string, std::string> decodeSnapshotMetadata(const std::string& text) {
    std::map<std::string, std::string> keys;
    for (const char* key :
         {"01-META_DATA_VERSION", "02-SOURCE_DEVICE_ID", "03-SOURCE_DEVICE_NAME",
          "04-SOURCE_DEVICE_POOL_NAME", "05-SOURCE_DEVICE_PROJECT_NAME", "06-SOURCE_DEVICE_MODE",
          "07-TARGET_DEVICE_NAME", "08-TARGET_DEVICE_MOUNT_ID", "09-TARGET_DEVICE_MOUNT_NAME",
          "10-TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME",
          "11-TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME", "12-END"}) {
        keys[key] = "";
    }
    CMParser().setKeyValues(text, keys);
    return keys;
}

class CopyCommands : public StorageServerFixture {
protected:
    // A command of class T over a fresh device holding `properties`.
    template <typename T>
    std::unique_ptr<T> command(const char* type,
                               const std::map<std::string, std::string>& properties) {
        auto* device = new CMStorageDevice;
        device->getProperties() = properties;
        auto made = std::make_unique<T>(storage.get(), device, type);
        made->setLogger(&request);
        return made;
    }
    static std::map<std::string, std::string> volume() {
        return {{SOURCE_DEVICE_ID, "600144F0A1"},
                {SOURCE_DEVICE_NAME, "vol1"},
                {SOURCE_DEVICE_POOL_NAME, "pool1"},
                {SOURCE_DEVICE_PROJECT_NAME, "projA"},
                {SOURCE_DEVICE_MODE, "Local"},
                {SOURCE_DEVICE_DATASET_PATH_NAME, "pool1/Local/projA/vol1"},
                {META_DATA_VERSION, "2.0"},
                {TARGET_DEVICE_NAME, "KY-1"}};
    }
    static std::map<std::string, std::string> share() {
        return {{SNAP_CONFIG_PROTOCOL, "NFS"},
                {SOURCE_DEVICE_MOUNTPOINT_NAME, "/export/share1"},
                {SOURCE_DEVICE_NAME, "share1"},
                {SOURCE_DEVICE_POOL_NAME, "pool2"},
                {SOURCE_DEVICE_PROJECT_NAME, "nfs"},
                {SOURCE_DEVICE_MODE, "Local"},
                {SOURCE_DEVICE_DATASET_PATH_NAME, "pool2/Local/nfs/share1"},
                {META_DATA_VERSION, "2.0"},
                {TARGET_DEVICE_NAME, "KY-1"}};
    }
    void scriptVolumeLookup(const std::string& apiVersion) {
        reply("listSystemProperties", 200, R"(["m","v",")" + apiVersion + R"(","0"])");
        reply("listLunsById", 200, R"([{"datasetPath":"pool1/Local/projA/vol1"}])");
        reply("listVolumes", 200,
              R"([{"luId":"600144F0A1","volSize":5497558138880,"blockSize":"8KB",)"
              R"("thinProvision":false,"protocol":"FC","datasetPath":"pool1/Local/projA/vol1"}])");
    }
};

TEST_F(CopyCommands, PrepareRecordsVersionOneZeroBelowApiTwoOne) {
    scriptVolumeLookup("2.0");
    auto prepare =
        command<CMTegileCopyPrepareCommand>("prepare", {{SOURCE_DEVICE_ID, "600144F0A1"}});
    ASSERT_EQ(prepare->execute(), COPY_SUCCESS) << log();
    EXPECT_EQ(prepare->getMetaData(), "1.0|600144F0A1|vol1|pool1|projA|Local|");
    EXPECT_EQ(prepare->getTransMetaData(), "5497558138880|8KB|false|FC|");

    scriptVolumeLookup("2.1");
    prepare = command<CMTegileCopyPrepareCommand>("prepare", {{SOURCE_DEVICE_ID, "600144F0A1"}});
    ASSERT_EQ(prepare->execute(), COPY_SUCCESS) << log();
    EXPECT_EQ(prepare->getMetaData(), "2.0|600144F0A1|vol1|pool1|projA|Local|");
}

TEST_F(CopyCommands, BlockMetadataRoundTripsThroughTheNumberedKeys) {
    // The bytes the host stores with a mounted snapshot; later versions must read them.
    const std::string stored =
        "2.0|600144F0A1|vol1|pool1|projA|Local|KY-1|600144F0C1|MNT_KY-1|"
        "KY-host1-FC|default-fc-target-group|";
    const auto keys = decodeSnapshotMetadata(stored);
    EXPECT_EQ(keys.at("01-META_DATA_VERSION"), "2.0");
    EXPECT_EQ(keys.at("07-TARGET_DEVICE_NAME"), "KY-1");
    EXPECT_EQ(keys.at("09-TARGET_DEVICE_MOUNT_NAME"), "MNT_KY-1");
    EXPECT_EQ(keys.at("11-TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME"), "default-fc-target-group");
    EXPECT_EQ(keys.at("12-END"), "");

    auto properties = volume();
    properties[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME] = "KY-host1-FC";
    properties[TARGET_DEVICE_MAPPING_PROTOCOL] = "FC";
    reply("listVolumes", 200, R"([{"name":"MNT_KY-1","luId":"600144F0C1"}])");
    reply("createMappingForVolume", 200, "");
    auto mount = command<CMTegileCopyMountCommand>("mount", properties);
    ASSERT_EQ(mount->execute(), COPY_SUCCESS) << log();
    EXPECT_EQ(mount->getMetaData(), stored);
    EXPECT_EQ(callsTo("cloneVolumeSnapshot"), 0u) << "the listed clone is reused";
    EXPECT_EQ(mount->getType(), "mapCopyToHost");
    EXPECT_EQ(mount->execute(), COPY_SUCCESS) << "a second execute does nothing";
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(CopyCommands, ShareMetadataIsJsonWithFixedBytes) {
    reply("listSystemProperties", 200, R"(["m","v","2.1","0"])");
    reply("listSharesByMountPoints", 200, "{}");
    reply("listSharesByMountPoints", 200, "{}");
    reply("listSharesByMountPoints", 200,
          R"({"/vol/a":[{"poolName":"pool2","name":"share1","projectName":"nfs",)"
          R"("datasetPath":"pool2/Local/nfs/share1","local":true,"availableSize":100,)"
          R"("totalSize":500}]})");
    auto prepare = command<CMTegileCopyPrepareCommand>(
        "prepare", {{SNAP_CONFIG_PROTOCOL, "NFS"}, {SOURCE_DEVICE_MOUNT_POINT_NAME, "/vol/a/b/c"}});
    ASSERT_EQ(prepare->execute(), COPY_SUCCESS) << log();
    EXPECT_EQ(prepare->getMetaData(),
              "{\n"
              "\t\"META_DATA_VERSION\": \"2.0\",\n"
              "\t\"SOURCE_DEVICE_MODE\": \"Local\",\n"
              "\t\"SOURCE_DEVICE_MOUNTPOINT_NAME\": \"\\/vol\\/a\",\n"
              "\t\"SOURCE_DEVICE_NAME\": \"share1\",\n"
              "\t\"SOURCE_DEVICE_POOL_NAME\": \"pool2\",\n"
              "\t\"SOURCE_DEVICE_PROJECT_NAME\": \"nfs\" \n"
              "}");
    EXPECT_EQ(prepare->getTransMetaData(),
              "{\n\t\"SOURCE_DEVICE_AVAILABLE_SIZE\": \"100\",\n"
              "\t\"SOURCE_DEVICE_TOTAL_SIZE\": \"500\" \n}");
    jsonxx::Object readBack;
    ASSERT_TRUE(readBack.parse(prepare->getMetaData()));
    EXPECT_EQ(readBack.get<jsonxx::String>(SOURCE_DEVICE_MOUNTPOINT_NAME), "/vol/a");
}

TEST_F(CopyCommands, PrepareRefusesAnEmptySourceWithoutAskingTheArray) {
    auto block = command<CMTegileCopyPrepareCommand>("prepare", {});
    EXPECT_EQ(block->execute(), COPY_INVALID_REQUEST);
    auto nfs = command<CMTegileCopyPrepareCommand>("prepare", {{SNAP_CONFIG_PROTOCOL, "NFS"}});
    EXPECT_EQ(nfs->execute(), COPY_INVALID_REQUEST);
    EXPECT_TRUE(request.logged("source device mount point is empty", 2));
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(block->getMetaData(), "");
}

TEST_F(CopyCommands, SingleCreationMakesThenWaitsThenRecords) {
    auto properties = volume();
    properties[META_DATA_VERSION] = "1.0";
    auto create = command<CMTegileCopyCreateCommand>("create", properties);
    reply("createVolumeSnapshot", 200, "");
    ASSERT_EQ(create->execute(), COPY_SUCCESS) << log();
    EXPECT_EQ(create->getType(), "getCopyCreatedStatus");
    EXPECT_EQ(create->getMetaData(), "");

    reply("getVolumeSnapshotCreationStatus", 200, R"({"snapshotProgressStatus":1})");
    reply("getVolumeSnapshotCreationStatus", 200, R"({"snapshotProgressStatus":0})");
    ASSERT_EQ(create->execute(), COPY_SUCCESS) << log();
    EXPECT_EQ(create->getMetaData(), "1.0|600144F0A1|vol1|pool1|projA|Local|KY-1|");
    EXPECT_EQ(callsTo("getVolumeSnapshotCreationStatus"), 2u);

    // Each further execute of that phase asks the array again.
    reply("getVolumeSnapshotCreationStatus", 200, R"({"snapshotProgressStatus":0})");
    EXPECT_EQ(create->execute(), COPY_SUCCESS);
    EXPECT_EQ(callsTo("getVolumeSnapshotCreationStatus"), 3u);
}

TEST_F(CopyCommands, RefusedSnapshotLeavesTheCommandInItsFirstPhase) {
    auto create = command<CMTegileCopyCreateCommand>("create", volume());
    reply("createVolumeSnapshot", 500, "Access Denied");
    EXPECT_EQ(create->execute(), COPY_ACCESS_DENIED);
    EXPECT_EQ(create->getType(), "create");
    EXPECT_TRUE(request.logged("copy create command failed", 2));
}

TEST_F(CopyCommands, BatchCreationQueuesThenRecordsWithoutAskingAgain) {
    auto first = command<CMTegileCopyCreateCommand>("batchCreate", volume());
    auto second = command<CMTegileCopyCreateCommand>("batchCreate", share());
    ASSERT_EQ(first->execute(), COPY_SUCCESS);
    ASSERT_EQ(second->execute(), COPY_SUCCESS);
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(first->getType(), "batchCreateUpdate");

    reply("createSnapshots", 200, R"([{"commandStatus":0},{"commandStatus":0}])");
    ASSERT_EQ(storage->batchCreateCopy(), COPY_SUCCESS) << log();
    EXPECT_EQ(
        bodyOf("createSnapshots"),
        R"([["pool1/Local/projA/vol1@Manual-V-KY-1","pool2/Local/nfs/share1@Manual-S-KY-1"],false, false])");

    ASSERT_EQ(first->execute(), COPY_SUCCESS);
    ASSERT_EQ(second->execute(), COPY_SUCCESS);
    EXPECT_EQ(first->getMetaData(), "2.0|600144F0A1|vol1|pool1|projA|Local|KY-1|");
    jsonxx::Object shareRecord;
    ASSERT_TRUE(shareRecord.parse(second->getMetaData()));
    EXPECT_EQ(shareRecord.get<jsonxx::String>(TARGET_DEVICE_NAME), "KY-1");
    EXPECT_EQ(shareRecord.get<jsonxx::String>(SOURCE_DEVICE_MOUNTPOINT_NAME), "/export/share1");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(CopyCommands, CreationWithoutASnapshotNameIsInvalidInEitherFirstPhase) {
    auto properties = volume();
    properties[TARGET_DEVICE_NAME] = "";
    for (const char* type : {"create", "batchCreate"}) {
        auto create = command<CMTegileCopyCreateCommand>(type, properties);
        EXPECT_EQ(create->execute(), COPY_INVALID_REQUEST) << type;
        EXPECT_EQ(create->getType(), type);
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(CopyCommands, UnmountReturnsTheRecordToItsCreateForm) {
    auto properties = volume();
    properties[SOURCE_DEVICE_MODE] = "Replica";
    auto unmount = command<CMTegileCopyUnmountCommand>("unmount", properties);
    reply("deleteVolume", 404, "No such volume exists");
    ASSERT_EQ(unmount->execute(), COPY_SUCCESS) << log();
    EXPECT_EQ(bodyOf("deleteVolume"), R"(["pool1/Local/projA/MNT_KY-1",true,true])");
    EXPECT_EQ(unmount->getMetaData(), "2.0|600144F0A1|vol1|pool1|projA|Replica|KY-1|");
    EXPECT_EQ(unmount->getType(), "unmapCopyFromHost");
}

TEST_F(CopyCommands, DeleteAndRevertWriteTheirRecordEvenWhenTheArrayRefuses) {
    auto remove = command<CMTegileCopyDeleteCommand>("delete", volume());
    reply("deleteVolumeSnapshot", 500, "Access Denied");
    EXPECT_EQ(remove->execute(), COPY_ACCESS_DENIED);
    EXPECT_EQ(remove->getMetaData(), "2.0|600144F0A1|vol1|pool1|projA|Local|KY-1|");

    auto revert = command<CMTegileCopyRevertCommand>("revert", share());
    reply("rollBackToShareSnapshot", 500, "busy");
    EXPECT_EQ(revert->execute(), COPY_FAILED);
    EXPECT_EQ(revert->getMetaData(), "2.0||share1|pool2|nfs|Local|KY-1|")
        << "reverted share records are written in block form";
}

TEST_F(CopyCommands, CheckReportsWhetherTheSnapshotStillExists) {
    auto check = command<CMTegileCopyCheckCommand>("check", volume());
    reply("listSnapshots", 200, R"(["Manual-V-KY-1"])");
    EXPECT_EQ(check->execute(), COPY_SUCCESS);
    EXPECT_EQ(check->getDevice()->getProperties()[TARGET_DEVICE_STATUS], "available");
    EXPECT_EQ(check->getMetaData(), "");
}

TEST_F(CopyCommands, ATypeTheClassDoesNotActOnDoesNothing) {
    auto mount = command<CMTegileCopyMountCommand>("delete", volume());
    auto create = command<CMTegileCopyCreateCommand>("copyDone", volume());
    auto base = command<CMTegileCopyCommand>("mount", volume());
    EXPECT_EQ(mount->execute(), COPY_SUCCESS);
    EXPECT_EQ(create->execute(), COPY_SUCCESS);
    EXPECT_EQ(base->execute(), COPY_SUCCESS);
    EXPECT_EQ(mount->getMetaData() + create->getMetaData() + base->getMetaData(), "");
    EXPECT_EQ(server.requestCount(), 0u);
}

}  // namespace
