// SPDX-License-Identifier: Apache-2.0
// The copy server's dealings with the host alone: texts read through the buffer-get
// convention, array information, stored records, configuration, initiators and device lists.
#include <gtest/gtest.h>

#include <cstdint>
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
    // The device description is logged once read, between the array and the snapshot.
    auto lineOf = [&](const std::string& text) {
        for (size_t i = 0; i < request.logLines.size(); ++i) {
            if (request.logLines[i].text == text &&
                request.logLines[i].header.find("buildCopyDevices") != std::string::npos) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    const int described = lineOf("source storage Device [/dev/sdb]");
    EXPECT_GT(described, lineOf("array host user password [******]"));
    EXPECT_LT(described, lineOf("meta data [" + request.metaData + "]"));

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

TEST_F(CopyServerHost, HostTextsTheRecordNeedsFailItWhenRefused) {
    struct Case {
        SnapOp refused;
        Copy_Status status;
        const char* line;
    };
    const Case cases[] = {
        {SnapOp::GetArrayInfo, COPY_FAILED, "getArrayInfo failed  error [1]"},
        {SnapOp::GetDevice, COPY_FAILED, "getdevice failed snap ID  [7]"},
        {SnapOp::GetSnapUUID, COPY_FAILED, "getSnapUUID failed snap ID  [7]"},
        {SnapOp::GetMetaData, COPY_FAILED, "getMetaData failed snap ID  [7]"},
        {SnapOp::GetTransMetaData, COPY_FAILED, "getMetaData failed snap ID  [7]"},
        // Only the mounted copy may be missing: the snapshot then has none.
        {SnapOp::GetSnapDevice, COPY_SUCCESS, "getSnapDevice failed snap ID  [7]"},
    };
    request.metaData = "2.0|" + std::string(32, 'B') + "|vol1|pool1|proj1|Local|";
    request.snapDevice = "/dev/sdq";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        request.logLines.clear();
        request.failNext(c.refused);
        const auto properties = built(c.status);
        EXPECT_TRUE(request.logged(c.line, 2)) << request.logText();
        EXPECT_EQ(properties.count(TARGET_DEVICE_MOUNTED), 0u);
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
    const int snapDeviceReads = request.callCount(SnapOp::GetSnapDevice);
    built(COPY_FAILED, true);
    EXPECT_TRUE(request.logged("JSON parsing failed meta data [{not json]", 2));
    // The record still reads the mounted copy; the parse failure is its result.
    EXPECT_EQ(request.callCount(SnapOp::GetSnapDevice), snapDeviceReads + 1);
}

TEST_F(CopyServerHost, ContextTakesTheHostsSettingsOrTheDefaults) {
    ASSERT_EQ(server.createCopyContext("prepare"), COPY_SUCCESS);
    EXPECT_EQ(server.getRetryCount(), 30u);
    EXPECT_EQ(server.getRetryInterval(), 60u);
    EXPECT_FALSE(server.getCopyContext()->getDiagLogging());
    EXPECT_EQ(server.getCopyContext()->getTargetGroup(), "");
    EXPECT_TRUE(request.logged("failed to get config [SMCONFIG_NAME_SNAP_OP_RETRY_COUNT]"));

    struct Configured {
        int32_t retryCount;
        int32_t retryInterval;
        int32_t diagLogging;
        unsigned int expectedCount;
        unsigned int expectedInterval;
        bool diagOn;
        bool warned;
    };
    const Configured cases[] = {
        {3, 2, 0, 3u, 2u, false, false},
        {3, 2, -1, 3u, 2u, false, false},
        {3, 2, 1, 3u, 2u, true, false},
        {0, 0, 0, 0u, 0u, false, false},
        {1000, 3600, 0, 1000u, 3600u, false, false},
        // A negative setting, which would keep a mount retrying for ever, falls back to the
        // default; a larger one than the bound is held to the bound.
        {-1, 2, 0, 30u, 2u, false, true},
        {3, -1, 0, 3u, 60u, false, true},
        {1001, 3601, 0, 1000u, 3600u, false, true},
        {1200, 5, 0, 1000u, 5u, false, true},
        {7, 86400, 0, 7u, 3600u, false, true},
        {INT32_MAX, INT32_MAX, 0, 1000u, 3600u, false, true},
        {INT32_MIN, INT32_MIN, 0, 30u, 60u, false, true},
    };
    for (const Configured& c : cases) {
        SCOPED_TRACE(std::to_string(c.retryCount) + "/" + std::to_string(c.retryInterval));
        testhost::TestSnapInfo configured;
        configured.device = "/dev/sdb";
        configured.configInts = {{"SMCONFIG_NAME_SNAP_OP_RETRY_COUNT", c.retryCount},
                                 {"SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC", c.retryInterval},
                                 {"SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING", c.diagLogging}};
        configured.configStrings["SMCONFIG_NAME_TARGET_GROUP"] = "tg-fc";
        CMCopyRequest configuredWrapper(&configured);
        CMCopyServerTegile fresh(&util);
        fresh.setLogger(&configured);
        fresh.setCopyRequest(&configuredWrapper);
        ASSERT_EQ(fresh.createCopyContext("create"), COPY_SUCCESS);
        EXPECT_EQ(fresh.getRetryCount(), c.expectedCount);
        EXPECT_EQ(fresh.getRetryInterval(), c.expectedInterval);
        EXPECT_EQ(fresh.getCopyContext()->getDiagLogging(), c.diagOn);
        EXPECT_EQ(fresh.getCopyContext()->getTargetGroup(), "tg-fc");
        EXPECT_EQ(configured.logged("WARNING : config [SMCONFIG_NAME_SNAP_OP_RETRY", 2), c.warned)
            << configured.logText();
        // Each setting not taken as configured is warned of, with the value taken instead.
        const auto warning = [](const char* name, int32_t value, int most, unsigned int taken) {
            return std::string("WARNING : config [") + name + " = " + std::to_string(value) +
                   "] outside 0 to " + std::to_string(most) + ", using [" + std::to_string(taken) +
                   "]";
        };
        EXPECT_EQ(configured.logged(warning("SMCONFIG_NAME_SNAP_OP_RETRY_COUNT", c.retryCount, 1000,
                                            c.expectedCount),
                                    2),
                  c.expectedCount != static_cast<unsigned int>(c.retryCount))
            << configured.logText();
        EXPECT_EQ(configured.logged(warning("SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC",
                                            c.retryInterval, 3600, c.expectedInterval),
                                    2),
                  c.expectedInterval != static_cast<unsigned int>(c.retryInterval))
            << configured.logText();
    }
}

TEST_F(CopyServerHost, ContextOfAMountFailsOnlyWhenTheHostRefusesItsIdentifier) {
    const std::string nfs = "{idatype:vmware,type:nfs,lunuuid:/export/p/share1,targethostname:a}";
    struct Case {
        std::string description;
        const char* operation;
        int32_t answer;  // scripted first answer of getHostIdentifier; 0: none scripted
        Copy_Status status;
        const char* esxName;
    };
    const Case cases[] = {
        {nfs, "mount", 0, COPY_SUCCESS, "esx01"},
        {nfs, "mount", 1, COPY_FAILED, ""},
        {nfs, "unmount", 1, COPY_FAILED, ""},
        {nfs, "prepare", 1, COPY_SUCCESS, ""},
        {"{idatype:vmware,lunuuid:0200000000x}", "mount", 1, COPY_FAILED, ""},
        {"{idatype:vmware,lunuuid:0200000000x}", "unmount", 1, COPY_FAILED, ""},
        // Too small: asked again in the size the host names.
        {nfs, "mount", 2, COPY_SUCCESS, "esx01"},
        // Any answer but a refusal leaves what the host wrote: here, nothing.
        {nfs, "mount", 9, COPY_SUCCESS, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.operation) + " answer " + std::to_string(c.answer));
        testhost::TestSnapInfo host;
        host.device = c.description;
        host.arrayInfo = kArrayInfo;
        host.hostIdentifier = "{hostType:esx,esxname:esx01,address:10.0.0.9}";
        if (c.answer != 0) {
            host.script(SnapOp::GetHostIdentifier, c.answer, int16_t{9000});
        }
        CMCopyRequest hostWrapper(&host);
        CMCopyServerTegile fresh(&util);
        fresh.setLogger(&host);
        fresh.setCopyRequest(&hostWrapper);
        EXPECT_EQ(fresh.createCopyContext(c.operation), c.status) << host.logText();
        EXPECT_EQ(host.logged("get  host identifier failed", 2), c.status != COPY_SUCCESS);
        EXPECT_EQ(fresh.getCopyContext()->getESXHostName(), c.esxName);
    }
}

TEST_F(CopyServerHost, UnmountRescansThroughTheInitiatorsOfTheHostThatSawTheCopy) {
    const std::string identifier = "{hostType:esx,esxname:esx01,address:10.0.0.9}";
    const std::vector<testhost::Initiator> esx = {{"iqn.1998-01.com.vmware:ESX01", true},
                                                  {"21:00:00:24:ff:4e:3b:20", false}};
    const std::vector<testhost::Initiator> local = {{"iqn.1994-05.com.redhat:Proxy", true},
                                                    {"21:00:00:24:ff:3d:2a:10", false}};
    struct Case {
        std::string description;
        std::vector<testhost::Initiator> esxInitiators;
        std::vector<testhost::Initiator> localInitiators;
        Copy_Status status;
        std::vector<std::string> rescanned;  // FC first, then iSCSI
        std::string rescannedHost;
        const char* line;
    };
    const Case cases[] = {
        {"/dev/sdb",
         {},
         local,
         COPY_SUCCESS,
         {"21:00:00:24:FF:3D:2A:10", "iqn.1994-05.com.redhat:proxy"},
         "",
         nullptr},
        {"{idatype:vmware,lunuuid:x}",
         esx,
         local,
         COPY_SUCCESS,
         {"21:00:00:24:FF:4E:3B:20", "iqn.1998-01.com.vmware:esx01"},
         identifier,
         nullptr},
        // The proxy's own initiators are not needed to unmap from the ESX server.
        {"{idatype:vmware,lunuuid:x}",
         esx,
         {},
         COPY_SUCCESS,
         {"21:00:00:24:FF:4E:3B:20", "iqn.1998-01.com.vmware:esx01"},
         identifier,
         "detect hba list failed for local host  - skipping vmware device"},
        {"{idatype:vmware,lunuuid:x}",
         {},
         local,
         COPY_FAILED,
         {},
         "",
         "detect hba list failed for host identifier of the ESX server"},
        {"/dev/sdb", {}, {}, COPY_FAILED, {}, "", "detect hba list failed for host ["},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description + " " + std::to_string(c.localInitiators.size()));
        testhost::TestOSUtil hosts;
        hosts.localInitiators = c.localInitiators;
        hosts.remoteInitiators[identifier] = c.esxInitiators;
        testhost::TestSnapInfo host;
        host.device = c.description;
        host.arrayInfo = kArrayInfo;
        host.hostIdentifier = identifier;
        CMCopyRequest hostWrapper(&host);
        CMCopyServerTegile fresh(&hosts);
        fresh.setLogger(&host);
        fresh.setCopyRequest(&hostWrapper);
        EXPECT_EQ(fresh.createCopyContext("unmount"), c.status) << host.logText();
        if (c.line != nullptr) {
            EXPECT_TRUE(host.logged(c.line, 2)) << host.logText();
        }
        if (c.status != COPY_SUCCESS) {
            continue;
        }
        EXPECT_EQ(fresh.unmapCopyFromHost(), COPY_SUCCESS);
        ASSERT_EQ(hosts.rescans.size(), 1u);
        EXPECT_EQ(hosts.rescans[0].initiators, c.rescanned);
        EXPECT_EQ(hosts.rescans[0].host, c.rescannedHost);
    }
}

TEST_F(CopyServerHost, NfsPrepareWithoutItsShareGivesTheHostNoStatus) {
    const std::string cases[] = {
        "{idatype:vmware,type:nfs,targethostname:arr1}",
        "{idatype:vmware,type:nfs,lunuuid:/export/p/share1}",
        "{idatype:vmware,type:nfs,lunuuid:\\\\,targethostname:arr1}",
    };
    for (const std::string& description : cases) {
        testhost::TestSnapInfo host;
        host.device = description;
        host.arrayInfo = kArrayInfo;
        CMCopyRequest hostWrapper(&host);
        server.setLogger(&host);
        server.setCopyRequest(&hostWrapper);
        EXPECT_EQ(server.prepare(), COPY_NOT_FOUND) << description;
        EXPECT_TRUE(host.logged("failed to find NFS mount point and server name", 2));
        EXPECT_TRUE(host.statusHistory.empty()) << description;
        EXPECT_EQ(host.callCount(SnapOp::FindArrayHost), 0) << description;
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

    // The list is asked again in the size the utility names, within bounds.
    struct Case {
        std::vector<int32_t> sizes;  // the answers before the utility answers normally
        Copy_Status status;
    };
    const Case cases[] = {
        {{9000}, COPY_SUCCESS},
        {{8193, 8194, 8195, 8196, 8197, 8198, 8199, 8200}, COPY_SUCCESS},
        {{8193, 8194, 8195, 8196, 8197, 8198, 8199, 8200, 8201}, COPY_FAILED},
        {{16 * 1024 * 1024}, COPY_SUCCESS},
        {{16 * 1024 * 1024 + 1}, COPY_FAILED},
        {{8192}, COPY_FAILED},  // asks for no more than it had
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sizes.size()) + " regrows to " +
                     std::to_string(c.sizes.back()));
        testhost::TestOSUtil sized;
        sized.devices[""] = {"/dev/sdb"};
        for (int32_t size : c.sizes) {
            sized.script(UtilOp::GetDeviceList, size);
        }
        CMCopyServerTegile fresh(&sized);
        fresh.setLogger(&request);
        std::list<std::string> listed;
        EXPECT_EQ(fresh.scanDevices("", listed), c.status);
        EXPECT_EQ(listed.size(), c.status == COPY_SUCCESS ? 1u : 0u);
    }
}

}  // namespace
