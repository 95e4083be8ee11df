#include "ArrayApiFixture.h"
#include "PropertyNames.h"

namespace {

using VolumeLookup = ArrayApiFixture;
using ShareLookup = ArrayApiFixture;

const char* const kLun = "600144F0A1B2C3D4E5F60718293A4B5C";

std::string volume(const std::string& lun, const std::string& extra = "") {
    return R"({"name":"vol1","luId":")" + lun + R"(","volSize":5497558138880,)" +
           R"("blockSize":"32KB","thinProvision":true,"protocol":"FC",)" +
           R"("datasetPath":"pool1/Local/projA/vol1")" + extra + "}";
}

TEST_F(VolumeLookup, VolumeIsFoundByLunIdAndItsFullSizeKept) {
    reply("listLunsById", 200, R"([{"datasetPath":"pool1/Local/projA/vol1"}])");
    reply("listVolumes", 200, "[" + volume("0000") + "," + volume(kLun) + "]");
    map[SOURCE_DEVICE_ID] = kLun;
    ASSERT_EQ(api->getdevice(map), COPY_SUCCESS) << log();
    EXPECT_EQ(bodyOf("listLunsById"), std::string("[[\"") + kLun + "\"]]");
    EXPECT_EQ(bodyOf("listVolumes"), R"(["pool1","projA","true"])");
    EXPECT_EQ(map[SOURCE_DEVICE_POOL_NAME], "pool1");
    EXPECT_EQ(map[SOURCE_DEVICE_MODE], "Local");
    EXPECT_EQ(map[SOURCE_DEVICE_PROJECT_NAME], "projA");
    EXPECT_EQ(map[SOURCE_DEVICE_NAME], "vol1");
    EXPECT_EQ(map[SOURCE_DEVICE_DATASET_PATH], "pool1/Local/projA/vol1");
    // 5 TiB: a 32-bit size would have been truncated to 0.
    EXPECT_EQ(map[SOURCE_DEVICE_SIZE], "5497558138880");
    EXPECT_EQ(map[SOURCE_DEVICE_BLOCK_SIZE], "32KB");
    EXPECT_EQ(map[SOURCE_DEVICE_THIN_PROVISION], "true");
    EXPECT_EQ(map[SOURCE_DEVICE_PROTOCOL], "FC");
    EXPECT_TRUE(request.logged("JSON response: source device found lun id", 1));
}

TEST_F(VolumeLookup, MoreThanOneVolumeForOneLunIdWritesNothing) {
    reply("listLunsById", 200, R"([{"datasetPath":"a/b/c/d"},{"datasetPath":"e/f/g/h"}])");
    map[SOURCE_DEVICE_ID] = kLun;
    EXPECT_EQ(api->getdevice(map), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON response: received data not matching with request", 2));
    EXPECT_EQ(map.count(SOURCE_DEVICE_POOL_NAME), 0u);
}

TEST_F(VolumeLookup, DatasetPathMustHaveExactlyFourParts) {
    struct Case {
        const char* path;
        bool valid;
        const char* pool;
    };
    const Case cases[] = {
        {"pool1/Local/projA/vol1/", true, "pool1"},
        {"/Local/projA/vol1", true, ""},
        {"pool1/Local/projA/sub/vol1", false, nullptr},
        {"pool1/projA/vol1", false, nullptr},
    };
    for (const Case& c : cases) {
        server.clearRequests();
        map.clear();
        map[SOURCE_DEVICE_ID] = kLun;
        reply("listLunsById", 200, std::string(R"([{"datasetPath":")") + c.path + "\"}]");
        reply("listVolumes", 200, "[]");
        api->getdevice(map);
        EXPECT_EQ(callsTo("listVolumes"), c.valid ? 1u : 0u) << c.path;
        if (c.valid) {
            EXPECT_EQ(map[SOURCE_DEVICE_POOL_NAME], c.pool) << c.path;
        } else {
            EXPECT_TRUE(request.logged(std::string("JSON response: datasetPath not valid [") +
                                       c.path + "]"));
        }
    }
}

TEST_F(VolumeLookup, AVolumeWithoutLunIdEndsTheScanEvenBeforeAMatch) {
    reply("listLunsById", 200, R"([{"datasetPath":"pool1/Local/projA/vol1"}])");
    reply("listVolumes", 200, R"([{"name":"x"},)" + volume(kLun) + "]");
    map[SOURCE_DEVICE_ID] = kLun;
    EXPECT_EQ(api->getdevice(map), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON response: LUN ID not found", 2));
    EXPECT_EQ(map.count(SOURCE_DEVICE_SIZE), 0u);
}

TEST_F(VolumeLookup, MembersOfTheWrongTypeFailWithTheirOwnText) {
    struct Case {
        std::string volumeJson;
        const char* missing;
    };
    const Case cases[] = {
        {R"({"luId":"L","volSize":"1024"})", "JSON response: volsize not found"},
        {R"({"luId":"L","volSize":-5})", "JSON response: volsize not found"},
        {R"({"luId":"L","volSize":1024,"blockSize":32768})", "JSON response: blocksize not found"},
        {R"({"luId":"L","volSize":1024,"blockSize":"8KB","thinProvision":"true"})",
         "JSON response: thinProvision not found"},
    };
    for (const Case& c : cases) {
        map.clear();
        map[SOURCE_DEVICE_ID] = "L";
        reply("listLunsById", 200, R"([{"datasetPath":"p/Local/j/v"}])");
        reply("listVolumes", 200, "[" + c.volumeJson + "]");
        EXPECT_EQ(api->getdevice(map), COPY_FAILED) << c.volumeJson;
        EXPECT_TRUE(request.logged(c.missing, 2)) << c.missing;
    }
}

TEST_F(VolumeLookup, UnknownLunIdIsNotFound) {
    reply("listLunsById", 200, R"([{"datasetPath":"pool1/Local/projA/vol1"}])");
    reply("listVolumes", 200, "[" + volume("0000") + "]");
    map[SOURCE_DEVICE_ID] = kLun;
    EXPECT_EQ(api->getdevice(map), COPY_FAILED);
    EXPECT_TRUE(request.logged(
        std::string("JSON response: source device not found lun id [") + kLun + "]", 1));
}

TEST_F(ShareLookup, ShareIsFoundByItsMountPoint) {
    reply("listSharesByMountPoints", 200,
          R"({"/export/share1":[{"poolName":"pool2","name":"share1","projectName":"nfsproj",)"
          R"("datasetPath":"pool2/Local/nfsproj/share1","local":false,)"
          R"("availableSize":100,"totalSize":6597069766656}]})");
    map[SOURCE_DEVICE_MOUNT_POINT_NAME_HINT] = "/export/share1";
    ASSERT_EQ(api->getdeviceNFS(map), COPY_SUCCESS) << log();
    EXPECT_EQ(bodyOf("listSharesByMountPoints"), R"([["/export/share1"]])");
    EXPECT_EQ(map[SOURCE_DEVICE_POOL_NAME], "pool2");
    EXPECT_EQ(map[SOURCE_DEVICE_NAME], "share1");
    EXPECT_EQ(map[SOURCE_DEVICE_PROJECT_NAME], "nfsproj");
    EXPECT_EQ(map[SOURCE_DEVICE_DATASET_PATH], "pool2/Local/nfsproj/share1");
    EXPECT_EQ(map[SOURCE_DEVICE_MODE], "Replica");
    EXPECT_EQ(map[SOURCE_DEVICE_AVAILABLE_SIZE], "100");
    EXPECT_EQ(map[SOURCE_DEVICE_TOTAL_SIZE], "6597069766656");
}

TEST_F(ShareLookup, AnswerKeyedByAnotherTextOrHoldingTwoSharesFails) {
    map[SOURCE_DEVICE_MOUNT_POINT_NAME_HINT] = "/export/share1";
    reply("listSharesByMountPoints", 200, R"({"/export/share1/":[{"poolName":"p"}]})");
    EXPECT_EQ(api->getdeviceNFS(map), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON response: srcDeviceMountPointName not found", 2));

    reply("listSharesByMountPoints", 200, R"({"/export/share1":[{},{}]})");
    EXPECT_EQ(api->getdeviceNFS(map), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON response: received data not matching with request", 2));

    reply("listSharesByMountPoints", 200, R"({"/export/share1":[{"poolName":"p","name":"n"}]})");
    EXPECT_EQ(api->getdeviceNFS(map), COPY_FAILED);
    EXPECT_TRUE(request.logged("JSON response: project name  not found", 2));
    EXPECT_EQ(map[SOURCE_DEVICE_NAME], "n") << "values read before the failure stay";
}

}  // namespace
