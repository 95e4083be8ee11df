// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KYSOTypes.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

namespace {

using testhost::SnapOp;
using testhost::TestOSUtil;
using testhost::TestSnapInfo;
using testhost::UtilOp;

TEST(TestHostBufferGet, AnswersTooSmallWithTheSizeNeededThenFillsALargeEnoughBuffer) {
    TestSnapInfo request;
    request.metaData = "2.0|id|vol|";
    char small[4] = {'x', 'x', 'x', 'x'};
    int16_t size = sizeof small;
    EXPECT_EQ(request.getMetaData(KYSO::META_SNAPSHOT, small, size), KYSO::BUFFER_TOO_SMALL);
    EXPECT_EQ(size, static_cast<int16_t>(request.metaData.size() + 1));
    EXPECT_EQ(small[0], 'x') << "a too-small buffer must stay untouched";

    std::vector<char> fitting(static_cast<size_t>(size));
    EXPECT_EQ(request.getMetaData(KYSO::META_SNAPSHOT, fitting.data(), size), KYSO::BUFFER_OK);
    EXPECT_STREQ(fitting.data(), "2.0|id|vol|");
}

TEST(TestHostBufferGet, ExactFitIncludesTheTerminatingNul) {
    TestSnapInfo request;
    request.snapUUID = "abc";
    char buffer[3];
    int16_t size = 3;
    EXPECT_EQ(request.getSnapUUID(buffer, size), KYSO::BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 4);
    char exact[4];
    size = 4;
    EXPECT_EQ(request.getSnapUUID(exact, size), KYSO::BUFFER_OK);
    EXPECT_STREQ(exact, "abc");
}

TEST(TestHostBufferGet, ScriptedAnswersAreUsedInOrderThenNormalAnswersResume) {
    TestSnapInfo request;
    request.device = "/dev/sdb";
    request.script(SnapOp::GetDevice, 7, int16_t{-3});
    request.failNext(SnapOp::GetDevice);
    char buffer[64];
    int16_t size = sizeof buffer;
    EXPECT_EQ(request.getDevice(buffer, size), 7);
    EXPECT_EQ(size, -3);
    size = sizeof buffer;
    EXPECT_EQ(request.getDevice(buffer, size), KYSO::BUFFER_FAILED);
    size = sizeof buffer;
    EXPECT_EQ(request.getDevice(buffer, size), KYSO::BUFFER_OK);
    EXPECT_STREQ(buffer, "/dev/sdb");
    EXPECT_EQ(request.callCount(SnapOp::GetDevice), 3);
}

TEST(TestHostBufferGet, MetadataKindsAreKeptApart) {
    TestSnapInfo request;
    request.metaData = "meta";
    request.transMetaData = "trans";
    char buffer[32];
    int16_t size = sizeof buffer;
    ASSERT_EQ(request.getMetaData(KYSO::META_TRANS, buffer, size), KYSO::BUFFER_OK);
    EXPECT_STREQ(buffer, "trans");
    size = sizeof buffer;
    EXPECT_EQ(request.getMetaData(55, buffer, size), KYSO::BUFFER_FAILED);
}

TEST(TestHostRecording, LogLinesStatusesErrorsAndMetadataWritesAreRecorded) {
    TestSnapInfo request;
    request.log(2, "Hdr -", "value [%d] name [%s]", 42, "vol1");
    request.setSnapStatus(KYSO::SNAP_CREATE_FAILED);
    request.setSnapStatus(KYSO::SNAP_CREATED);
    request.setError(KYSO::ERROR_CREATE, "snap operation failed");
    request.setMetaData(KYSO::META_SNAPSHOT, "a|b|");
    request.setMetaData(KYSO::META_SNAPSHOT, nullptr);

    ASSERT_EQ(request.logLines.size(), 1u);
    EXPECT_EQ(request.logLines[0].level, 2);
    EXPECT_EQ(request.logLines[0].header, "Hdr -");
    EXPECT_EQ(request.logLines[0].text, "value [42] name [vol1]");
    EXPECT_TRUE(request.logged("name [vol1]", 2));
    EXPECT_FALSE(request.logged("name [vol1]", 1));
    EXPECT_EQ(request.statusHistory, (std::vector<int32_t>{6, 5}));
    EXPECT_EQ(request.getSnapStatus(), KYSO::SNAP_CREATED);
    ASSERT_EQ(request.errors.size(), 1u);
    EXPECT_EQ(request.errors[0].code, KYSO::ERROR_CREATE);
    ASSERT_EQ(request.metaDataWrites.size(), 2u);
    EXPECT_FALSE(request.metaDataWrites[0].cleared);
    EXPECT_TRUE(request.metaDataWrites[1].cleared);
    EXPECT_EQ(request.metaData, "");
}

TEST(TestHostRecording, ConfigurationAndOptionsAnswerFromTheirFields) {
    TestSnapInfo request;
    request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 3;
    request.configStrings["SMCONFIG_NAME_TARGET_GROUP"] = "tg1";
    request.options = KYSO::OPTION_HYPERV;
    int32_t value = 0;
    EXPECT_EQ(request.getConfigInt("SMCONFIG_NAME_SNAP_OP_RETRY_COUNT", value), 0);
    EXPECT_EQ(value, 3);
    EXPECT_NE(request.getConfigInt("missing", value), 0);
    char group[16];
    int16_t size = sizeof group;
    EXPECT_EQ(request.getConfigString("SMCONFIG_NAME_TARGET_GROUP", group, size), 0);
    EXPECT_STREQ(group, "tg1");
    EXPECT_NE(request.checkOption(KYSO::OPTION_HYPERV), 0);
    EXPECT_EQ(request.checkOption(0x1), 0);
}

TEST(TestHostOSUtil, ListsReportTheSizeNeededThenFill) {
    TestOSUtil util;
    util.arrayNames = {"array-a", "array-b"};
    char small[4];
    const int32_t needed = util.getArrayListByID("Western Digital IntelliFlash", '|', 4, small);
    EXPECT_EQ(needed, 16);
    std::vector<char> buffer(static_cast<size_t>(needed));
    EXPECT_EQ(util.getArrayListByID("x", '|', needed, buffer.data()), 0);
    EXPECT_STREQ(buffer.data(), "array-a|array-b");
}

TEST(TestHostOSUtil, InitiatorListsAreTwoPhaseWithOneFlagBytePerName) {
    TestOSUtil util;
    util.localInitiators = {{"21:00:00:24:ff:3d:2a:10", false}, {"iqn.1998-01.com:h1", true}};
    int16_t namesLength = 0, flagsLength = 0, count = 0;
    ASSERT_EQ(
        util.getLocalHbaList(nullptr, "array", nullptr, namesLength, nullptr, flagsLength, count),
        0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(flagsLength, 2);
    std::vector<char> names(static_cast<size_t>(namesLength)), flags(2);
    ASSERT_EQ(util.getLocalHbaList(nullptr, "array", names.data(), namesLength, flags.data(),
                                   flagsLength, count),
              0);
    EXPECT_STREQ(names.data(), "21:00:00:24:ff:3d:2a:10,iqn.1998-01.com:h1");
    EXPECT_EQ(flags[0], 0);
    EXPECT_EQ(flags[1], 1);

    TestOSUtil none;
    namesLength = 5;
    EXPECT_NE(
        none.getLocalHbaList(nullptr, "array", nullptr, namesLength, nullptr, flagsLength, count),
        0);
    EXPECT_EQ(namesLength, 0);
}

TEST(TestHostOSUtil, RescansAreRecordedAndSwitchTheDeviceList) {
    TestOSUtil util;
    util.devices[""] = {"/dev/sdb"};
    util.devicesAfterRescan.push_back({{"", {"/dev/sdb", "/dev/sdc"}}});
    const char* initiators[] = {"iqn.x", nullptr};
    EXPECT_TRUE(util.refreshBus(nullptr, initiators, nullptr));
    ASSERT_EQ(util.rescans.size(), 1u);
    EXPECT_EQ(util.rescans[0].initiators, (std::vector<std::string>{"iqn.x"}));
    char buffer[64];
    EXPECT_EQ(util.getDeviceList(nullptr, "TEGILE", '|', sizeof buffer, buffer), 0);
    EXPECT_STREQ(buffer, "/dev/sdb|/dev/sdc");

    util.script(UtilOp::RefreshBus, 0);
    EXPECT_FALSE(util.refreshBus("esx1", nullptr, nullptr));
    EXPECT_EQ(util.rescans.back().host, "esx1");
}

}  // namespace
