// The copy server's dealings with the host alone: texts read through the buffer-get
// convention, array information, stored records, configuration, initiators and device lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CMCopyRequest.h"
#include "CMCopyServerTegile.h"
#include "PropertyNames.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

namespace {

using testhost::SnapOp;
using testhost::UtilOp;

const char* const kArrayInfo =
    "{arrayName:arr1,arrayId:10.0.0.5,hostUserName:admin,hostPassword:pa55:w0rd,engineName:e1}";

class CopyServerHost : public ::testing::Test {
protected:
    CopyServerHost() : wrapper(&request) {
        server.setLogger(&request);
        server.setCopyRequest(&wrapper);
        request.arrayInfo = kArrayInfo;
        request.device = "/dev/sdb";
        request.snapId = 7;
    }

    // The device record buildCopyDevices makes of the request; `nfs` presets the protocol.
    CMStorageDevice::Properties built(Copy_Status expected = COPY_SUCCESS, bool nfs = false) {
        CMStorageDevice device;
        if (nfs) {
            device.getProperties()[SNAP_CONFIG_PROTOCOL] = PROTOCOL_NFS;
        }
        std::string host, user, password;
        EXPECT_EQ(server.buildCopyDevices(&device, host, user, password), expected)
            << request.logText();
        if (expected == COPY_SUCCESS) {
            EXPECT_EQ(host, "10.0.0.5");
            EXPECT_EQ(password, "pa55:w0rd");
        }
        return device.getProperties();
    }

    testhost::TestSnapInfo request;
    testhost::TestOSUtil util;
    CMCopyRequest wrapper;
    CMCopyServerTegile server{&util};
};

TEST_F(CopyServerHost, DescriptionIsAskedAgainInTheSizeTheHostNamesAndFailsOnItsRefusal) {
    request.device = std::string(9000, 'd');
    std::string description;
    ASSERT_TRUE(server.getSourceDevice(description));
    EXPECT_EQ(description, request.device);
    EXPECT_TRUE(request.logged("getdevice received buf size [9001] status [2]", 1));

    request.failNext(SnapOp::GetDevice);
    EXPECT_FALSE(server.getSourceDevice(description));
    EXPECT_TRUE(request.logged("getdevice failed snap ID  [7]", 2));
    // An answer outside the convention ends the read instead of looping.
    request.script(SnapOp::GetDevice, 9);
    EXPECT_FALSE(server.getSourceDevice(description));
}

TEST_F(CopyServerHost, ErrorTextsNameOnlyWhatTheUserCanAct) {
    const std::pair<Copy_Status, std::string> cases[] = {
        {COPY_NO_MEMORY, "snap operation failed. system is running out of memory"},
        {COPY_ACCESS_DENIED,
         "snap operation failed. Access Denied. Please check array user credentials"},
        {COPY_PATH_TOO_LONG, "snap operation failed. snapshot path name too long"},
        {COPY_NOT_FOUND, "snap operation failed. please check logs for more details"},
        {COPY_FAILED, "snap operation failed. please check logs for more details"},
    };
    for (const auto& [status, text] : cases) {
        EXPECT_EQ(server.getErrorMessage(status), text);
    }
}

TEST_F(CopyServerHost, ArrayInformationIsLoggedWithSixAsterisksOrNotAtAll) {
    request.metaData = "1.0|" + std::string(32, 'A') + "|vol1|pool1|proj1|Local|";
    built();
    EXPECT_TRUE(request.logged(
        "array info [{arrayName:arr1,arrayId:10.0.0.5,hostUserName:admin,hostPassword:******,"
        "engineName:e1}]"));
    EXPECT_TRUE(request.logged("array host user password [******]"));
    EXPECT_EQ(request.logText().find("pa55"), std::string::npos);

    // Without the marker after the password, it cannot be told from the rest: nothing logged.
    testhost::TestSnapInfo unmarked;
    unmarked.arrayInfo = "{arrayName:arr1,arrayId:10.0.0.5,hostUserName:u,hostPassword:pa55:x}";
    unmarked.device = "/dev/sdb";
    CMCopyRequest unmarkedWrapper(&unmarked);
    server.setLogger(&unmarked);
    server.setCopyRequest(&unmarkedWrapper);
    CMStorageDevice device;
    std::string host, user, password;
    EXPECT_EQ(server.buildCopyDevices(&device, host, user, password), COPY_SUCCESS);
    EXPECT_FALSE(unmarked.logged("array info"));
    EXPECT_EQ(unmarked.logText().find("pa55"), std::string::npos);
}

TEST_F(CopyServerHost, ArrayInformationWithoutAKeyFailsTheRecord) {
    const std::pair<std::string, std::string> cases[] = {
        {"{arrayName:a,hostUserName:u,hostPassword:p,engineName:e}",
         "array host name not found in array info"},
        {"{arrayName:a,arrayId:h,hostPassword:p,engineName:e}",
         "array host user name not found in array info"},
        {"{arrayName:a,arrayId:h,hostUserName:u}", "array host user password not found"},
    };
    for (const auto& [info, line] : cases) {
        request.arrayInfo = info;
        built(COPY_FAILED);
        EXPECT_TRUE(request.logged(line, 2)) << info;
    }
}

TEST_F(CopyServerHost, StoredRecordsOfSixSevenAndElevenFieldsFillTheDevice) {
    const std::string lun(32, 'B');
    request.metaData = "1.0|" + lun + "|vol1|pool1|proj1|local|";
    request.transMetaData = "1073741824|8KB|true|FC|";
    auto prepared = built();
    EXPECT_EQ(prepared[SOURCE_DEVICE_DATASET_PATH_NAME], "pool1/local/proj1/vol1");
    EXPECT_EQ(prepared[META_DATA_VERSION], "1.0");
    EXPECT_EQ(prepared[SOURCE_DEVICE_ID], lun);
    EXPECT_EQ(prepared[TARGET_DEVICE_MOUNT_ID], "");
    EXPECT_EQ(prepared[TARGET_DEVICE_MOUNT_NAME], "");
    EXPECT_EQ(prepared[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME], "");
    EXPECT_EQ(prepared[SOURCE_DEVICE_BLOCK_SIZE], "8KB");
    EXPECT_EQ(prepared[SOURCE_DEVICE_PROTOCOL], "FC");
    EXPECT_EQ(prepared.count(TARGET_DEVICE_MOUNTED), 0u);

    // The snapshot name comes from the host when it has one, else from the record.
    request.metaData = "2.0|" + lun + "|vol1|pool1|proj1|Local|snapA|";
    EXPECT_EQ(built()[TARGET_DEVICE_NAME], "snapA");
    request.snapUUID = "KY-1";
    EXPECT_EQ(built()[TARGET_DEVICE_NAME], "KY-1");

    request.metaData = "2.0|" + lun + "|vol1|pool1|proj1|Local|KY-1|" + std::string(32, 'C') +
                       "|MNT_KY-1|KY-host-FC|tg1|";
    request.snapDevice = "/dev/sdq";
    auto mounted = built();
    EXPECT_EQ(mounted[TARGET_DEVICE_MOUNT_ID], std::string(32, 'C'));
    EXPECT_EQ(mounted[TARGET_DEVICE_MOUNT_NAME], "MNT_KY-1");
    EXPECT_EQ(mounted[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME], "KY-host-FC");
    EXPECT_EQ(mounted[TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME], "tg1");
    EXPECT_EQ(mounted[TARGET_DEVICE_MOUNTED], "true");
    EXPECT_EQ(mounted[TARGET_DEVICE_MAPPING_NAME], "/dev/sdq");

    // A host that cannot say which device shows the copy has none mounted.
    request.failNext(SnapOp::GetSnapDevice);
    EXPECT_EQ(built().count(TARGET_DEVICE_MOUNTED), 0u);
    request.failNext(SnapOp::GetMetaData);
    built(COPY_FAILED);
    EXPECT_TRUE(request.logged("getMetaData failed snap ID  [7]", 2));
}

TEST_F(CopyServerHost, ShareRecordsAreJsonAndBadJsonFailsTheRecord) {
    request.device = "{idatype:vmware,type:nfs,lunuuid:/export/p/share1/vm,targethostname:arr1}";
    request.metaData = R"({"META_DATA_VERSION":"2.0","SOURCE_DEVICE_NAME":"share1",)"
                       R"("SOURCE_DEVICE_POOL_NAME":"p","SOURCE_DEVICE_PROJECT_NAME":"proj",)"
                       R"("SOURCE_DEVICE_MOUNTPOINT_NAME":"/export/p/share1"})";
    auto share = built(COPY_SUCCESS, true);
    EXPECT_EQ(share[SOURCE_DEVICE_DATASET_PATH_NAME], "p//proj/share1");
    EXPECT_EQ(share[SOURCE_DEVICE_MOUNTPOINT_NAME], "/export/p/share1");
    EXPECT_EQ(share[SOURCE_DEVICE_PATH], "/export/p/share1/vm");
    EXPECT_EQ(share[TARGET_DEVICE_MOUNT_HOST], "arr1}");  // the brace belongs to the value

    request.metaData = "{not json";
    built(COPY_FAILED, true);
    EXPECT_TRUE(request.logged("JSON parsing failed meta data [{not json]", 2));
}

TEST_F(CopyServerHost, ContextTakesTheHostsSettingsOrTheDefaults) {
    ASSERT_EQ(server.createCopyContext("prepare"), COPY_SUCCESS);
    EXPECT_EQ(server.getRetryCount(), 30u);
    EXPECT_EQ(server.getRetryInterval(), 60u);
    EXPECT_FALSE(server.getCopyContext()->getDiagLogging());
    EXPECT_EQ(server.getCopyContext()->getTargetGroup(), "");
    EXPECT_TRUE(request.logged("failed to get config [SMCONFIG_NAME_SNAP_OP_RETRY_COUNT]"));

    for (const auto& [value, on] : {std::pair{0, false}, {-1, false}, {1, true}}) {
        testhost::TestSnapInfo configured;
        configured.device = "/dev/sdb";
        configured.configInts = {{"SMCONFIG_NAME_SNAP_OP_RETRY_COUNT", 3},
                                 {"SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC", 2},
                                 {"SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING", value}};
        configured.configStrings["SMCONFIG_NAME_TARGET_GROUP"] = "tg-fc";
        CMCopyRequest configuredWrapper(&configured);
        CMCopyServerTegile fresh(&util);
        fresh.setLogger(&configured);
        fresh.setCopyRequest(&configuredWrapper);
        ASSERT_EQ(fresh.createCopyContext("create"), COPY_SUCCESS);
        EXPECT_EQ(fresh.getRetryCount(), 3u);
        EXPECT_EQ(fresh.getRetryInterval(), 2u);
        EXPECT_EQ(fresh.getCopyContext()->getDiagLogging(), on) << value;
        EXPECT_EQ(fresh.getCopyContext()->getTargetGroup(), "tg-fc");
    }
}

TEST_F(CopyServerHost, KnownOrUnsearchedTargetsNeedNoArrayList) {
    request.findArrayHostAnswers["wwn.KNOWN"] = 0;
    EXPECT_EQ(server.findStorageServer("wwn.KNOWN", true), COPY_SUCCESS);
    EXPECT_EQ(server.findStorageServer("wwn.OTHER", false), COPY_SUCCESS);
    EXPECT_EQ(util.callCount(UtilOp::GetArrayListByID), 0);
    EXPECT_TRUE(request.logged("source device target name [wwn.KNOWN] found in HQ database "));
}

TEST_F(CopyServerHost, SearchEndsAtTheFirstArrayThatCannotBeRead) {
    util.arrayNames = {"broken", "next"};
    util.arrayInfoByName["next"] = kArrayInfo;
    util.script(UtilOp::GetArrayInfoByName, -5);
    EXPECT_EQ(server.findStorageServer("wwn.X", true), COPY_FAILED);
    EXPECT_TRUE(request.logged("getArrayInfo failed  error [-5]", 2));
    EXPECT_EQ(util.callCount(UtilOp::GetArrayInfoByName), 1);

    util.arrayInfoByName["broken"] =
        "{arrayName:broken,hostUserName:u,hostPassword:p,engineName:e}";
    EXPECT_EQ(server.findStorageServer("wwn.X", true), COPY_FAILED);
    EXPECT_TRUE(request.logged("arrayID not found in array info", 2));

    util.script(UtilOp::GetArrayListByID, -3);
    EXPECT_EQ(server.findStorageServer("wwn.X", true), COPY_FAILED);
    EXPECT_TRUE(request.logged("getArrayListByID failed  error [-3]", 2));
}

// A utility whose initiator query the test scripts byte for byte.
class ScriptedHbaUtil : public testhost::TestOSUtil {
public:
    std::string names;
    std::string flags;
    int32_t answer = 0;
    int16_t reportedNamesLength = -1;  // -1: the true length

    int32_t getLocalHbaList(const char*, const char*, char* namesOut, int16_t& namesLength,
                            char* flagsOut, int16_t& flagsLength, int16_t& count) override {
        const int16_t trueLength = static_cast<int16_t>(names.size() + 1);
        if (namesOut == nullptr) {
            namesLength = reportedNamesLength >= 0 ? reportedNamesLength : trueLength;
            flagsLength = static_cast<int16_t>(flags.size());
            count = static_cast<int16_t>(flags.size());
            return answer;
        }
        std::copy(names.begin(), names.end(), namesOut);
        namesOut[names.size()] = '\0';
        std::copy(flags.begin(), flags.end(), flagsOut);
        return answer;
    }
};

TEST_F(CopyServerHost, InitiatorsAreSortedByTheirTypeByteAndCased) {
    ScriptedHbaUtil hba;
    CMCopyServerTegile withHba(&hba);
    withHba.setLogger(&request);
    withHba.setCopyRequest(&wrapper);
    hba.names = "21:00:00:24:ff:3d:2a:10,IQN.1998-01.com.vmware:Host1,21:00:00:24:ff:3d:2a:11";
    hba.flags = std::string("\x02\x01\x00", 3);
    std::list<std::string> fc, iscsi;
    ASSERT_EQ(withHba.detectHbalist("", "arr", fc, iscsi), COPY_SUCCESS);
    EXPECT_EQ(fc, (std::list<std::string>{"21:00:00:24:FF:3D:2A:10", "21:00:00:24:FF:3D:2A:11"}));
    EXPECT_EQ(iscsi, (std::list<std::string>{"iqn.1998-01.com.vmware:host1"}));

    // A name without its type byte is left out rather than read past the buffer.
    hba.flags = std::string("\x01", 1);
    fc.clear();
    iscsi.clear();
    ASSERT_EQ(withHba.detectHbalist("", "arr", fc, iscsi), COPY_SUCCESS);
    EXPECT_TRUE(fc.empty());
    EXPECT_EQ(iscsi.size(), 1u);
    EXPECT_TRUE(request.logged("has no type byte, skipped", 2));

    hba.answer = 1;
    hba.reportedNamesLength = 0;
    EXPECT_EQ(withHba.detectHbalist("", "arr", fc, iscsi), COPY_FAILED);
    EXPECT_TRUE(request.logged("no initiators found", 2));
}

TEST_F(CopyServerHost, NewDevicesAreThoseAbsentBeforeInScanOrder) {
    std::list<std::string> added;
    server.getDiffDevices({"A", "B"}, {"B", "C", "A", "D"}, added);
    EXPECT_EQ(added, (std::list<std::string>{"C", "D"}));

    util.devices[""] = {"/dev/sdb", "/dev/sdc"};
    std::list<std::string> scanned;
    ASSERT_EQ(server.scanDevices("", scanned), COPY_SUCCESS);
    EXPECT_EQ(scanned, (std::list<std::string>{"/dev/sdb", "/dev/sdc"}));
    util.script(UtilOp::GetDeviceList, -2);
    EXPECT_EQ(server.scanDevices("", scanned), COPY_FAILED);
    EXPECT_TRUE(request.logged("get devices from OS util  failed  error [-2]", 2));
}

}  // namespace
