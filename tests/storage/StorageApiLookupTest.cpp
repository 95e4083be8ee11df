// SPDX-License-Identifier: Apache-2.0
#include <cstdlib>
#include <memory>

#include "ArrayApiFixture.h"
#include "CallScope.h"
#include "LMSleep.h"
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

TEST_F(VolumeLookup, ACallReadsAProjectListingOnceUntilItMayHaveChanged) {
    // What happens between two lookups of volumes of one project.
    enum class Between {
        Nothing,
        Clone,
        Mapping,
        Unmapping,
        ShareAccess,
        Wait,
        FailedListing,
        NotJson,
    };
    struct Case {
        const char* scenario;
        bool inCall;       // the lookups run inside one call's scope
        bool switchedOff;  // KYSNAP_CALL_MEMORY=off
        Between between;
        size_t listings;  // listVolumes requests that reach the array
        bool recalled;    // the log says an answer came from the call's memory
    };
    const Case cases[] = {
        {"the second lookup is answered from the call's memory", true, false, Between::Nothing, 1,
         true},
        {"a clone made between makes the second lookup read afresh", true, false, Between::Clone, 2,
         false},
        {"a mapping between leaves the listing remembered", true, false, Between::Mapping, 1, true},
        {"an unmapping between leaves the listing remembered", true, false, Between::Unmapping, 1,
         true},
        {"a share opened to a host between makes the second lookup read afresh", true, false,
         Between::ShareAccess, 2, false},
        {"a wait between makes the second lookup read afresh", true, false, Between::Wait, 2,
         false},
        {"a failed listing is not remembered", true, false, Between::FailedListing, 2, false},
        {"a listing answered with something other than JSON is not remembered", true, false,
         Between::NotJson, 2, false},
        {"outside a call nothing is remembered", false, false, Between::Nothing, 2, false},
        {"the memory switched off remembers nothing", true, true, Between::Nothing, 2, false},
    };
    const char* const kOther = "600144F0A1B2C3D4E5F60718293A4B5D";
    always("listLunsById", 200, R"([{"datasetPath":"pool1/Local/projA/vol1"}])");
    always("listVolumes", 200, "[" + volume(kOther) + "," + volume(kLun) + "]");
    always("cloneVolumeSnapshot", 200, "");
    always("createMappingForVolume", 200, "");
    always("deleteMappingFromVolume", 200, "");
    always("addNFSNetworkACLOnShare", 200, "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        server.clearRequests();
        request.logLines.clear();
        if (c.switchedOff) {
            setenv("KYSNAP_CALL_MEMORY", "off", 1);
        }
        auto call = c.inCall ? std::make_unique<kyplatform::CallScope>() : nullptr;
        unsetenv("KYSNAP_CALL_MEMORY");
        CMTegileStorageAPI::Properties first, second;
        first[SOURCE_DEVICE_ID] = kOther;
        second[SOURCE_DEVICE_ID] = kLun;
        if (c.between == Between::FailedListing) {
            reply("listVolumes", 500, R"({"code":"EZEBI_BUSY","message":"busy"})");
            EXPECT_EQ(api->getdevice(first), COPY_FAILED);
        } else if (c.between == Between::NotJson) {
            reply("listVolumes", 200, "<html><body>Please log in</body></html>");
            EXPECT_EQ(api->getdevice(first), COPY_FAILED);
        } else {
            ASSERT_EQ(api->getdevice(first), COPY_SUCCESS) << log();
        }
        if (c.between == Between::Clone) {
            CMTegileStorageAPI::Properties clone;
            clone[SOURCE_DEVICE_DATASET_PATH] = "pool1/Local/projA/vol1";
            clone[TARGET_DEVICE_NAME] = "S";
            ignoreStatus(api->mountCopy(clone), "only that a clone was asked for matters here");
        } else if (c.between == Between::Mapping) {
            CMTegileStorageAPI::Properties mapping;
            mapping[TARGET_DEVICE_MAPPING_INDEX] = "0";
            ASSERT_EQ(api->mapCopyToHost(mapping), COPY_SUCCESS) << log();
        } else if (c.between == Between::Unmapping) {
            CMTegileStorageAPI::Properties mapping;
            ASSERT_EQ(api->unmapCopyFromHost(mapping), COPY_SUCCESS) << log();
        } else if (c.between == Between::ShareAccess) {
            CMTegileStorageAPI::Properties share;
            share[TARGET_DEVICE_MAPPING_HOST_NAME] = "10.0.0.7";
            ASSERT_EQ(api->mapCopyToHostNFS(share), COPY_SUCCESS) << log();
        } else if (c.between == Between::Wait) {
            LMSLEEP(10);
        }
        ASSERT_EQ(api->getdevice(second), COPY_SUCCESS) << log();
        EXPECT_EQ(callsTo("listVolumes"), c.listings);
        EXPECT_EQ(callsTo("listLunsById"), 2u);
        EXPECT_EQ(request.logged("http response received from the call's memory", 1), c.recalled)
            << log();
        // Every lookup is in the log, answered by the array or not.
        size_t lookups = 0;
        for (const auto& line : request.logLines) {
            lookups += line.text.find("listVolumes") != std::string::npos &&
                       line.text.find("request [") != std::string::npos;
        }
        EXPECT_EQ(lookups, 2u);
        EXPECT_EQ(second[SOURCE_DEVICE_NAME], "vol1");
        EXPECT_EQ(second[SOURCE_DEVICE_SIZE], "5497558138880");
    }
}

TEST_F(VolumeLookup, AnotherApiObjectOfTheArrayIsAnsweredFromMemoryOnlyWithTheSameCredentials) {
    struct Case {
        const char* scenario;
        const char* user;
        const char* password;
        bool recalled;  // the second object is answered from the call's memory
    };
    const Case cases[] = {
        {"the same credentials", "admin", "s3cret:pw", true},
        {"a wrong password", "admin", "wrong", false},
        {"another user", "operator", "s3cret:pw", false},
    };
    const std::string denied =
        R"({"code":"EZEBI_ACCESS_DENIED","message":"Access Denied","details":null})";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        server.clearRequests();
        const kyplatform::CallScope call;
        reply("listSystemProperties", 200, R"(["m","v","2.1","0"])");
        if (!c.recalled) {
            reply("listSystemProperties", 401, denied);
        }
        CMTegileStorageAPI::Properties first, second;
        ASSERT_EQ(api->getConfig(first), COPY_SUCCESS) << log();

        std::string host = server.host();
        std::string user = c.user;
        std::string password = c.password;
        testhost::TestSnapInfo otherLog;
        CMTegileStorageAPI other(host, user, password, kRetryCount, kRetryInterval, false);
        other.setLogger(&otherLog);
        ASSERT_EQ(other.init(), COPY_SUCCESS) << otherLog.logText();
        EXPECT_EQ(other.getConfig(second), c.recalled ? COPY_SUCCESS : COPY_ACCESS_DENIED)
            << otherLog.logText();
        const auto asked = server.requestsTo(path("listSystemProperties"));
        ASSERT_EQ(asked.size(), c.recalled ? 1u : 2u) << otherLog.logText();
        if (!c.recalled) {
            EXPECT_EQ(asked[1].user, c.user);
            EXPECT_EQ(asked[1].password, c.password);
            EXPECT_TRUE(
                otherLog.logged("access to array denied. please check array user credentials", 2));
        }
    }
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
        // An empty listing holds no volume of the LUN, whatever the path.
        EXPECT_NE(api->getdevice(map), COPY_SUCCESS) << c.path;
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

TEST_F(VolumeLookup, AMappingForgetsTheRememberedListingsOfAnythingButDatasets) {
    const kyplatform::CallScope call;
    always("listISCSITargetGroups", 200, R"(["tg-a"])");
    always("listTargetsInTargetGroup", 200, R"(["iqn.2012-02.com.tegile:t"])");
    always("createMappingForVolume", 200, "");
    map[DEVICE_TARGET_ID] = "iqn.2012-02.com.tegile:t";
    ASSERT_EQ(api->findTarget(map), COPY_SUCCESS) << log();
    ASSERT_EQ(api->findTarget(map), COPY_SUCCESS) << log();
    EXPECT_EQ(callsTo("listISCSITargetGroups"), 1u);
    CMTegileStorageAPI::Properties mapping;
    mapping[TARGET_DEVICE_MAPPING_INDEX] = "0";
    ASSERT_EQ(api->mapCopyToHost(mapping), COPY_SUCCESS) << log();
    ASSERT_EQ(api->findTarget(map), COPY_SUCCESS) << log();
    EXPECT_EQ(callsTo("listISCSITargetGroups"), 2u);
    EXPECT_EQ(map[DEVICE_TARGET_FOUND], "TRUE");
}
