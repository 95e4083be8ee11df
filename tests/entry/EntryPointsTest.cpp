// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdio>
#include <list>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "KysoExports.h"
#include "LoadedPlugin.h"
#include "PlatformFakes.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

namespace {

using testhost::TestOSUtil;
using testhost::TestSnapInfo;

using site::LoadedPlugin;

const char* const kBatchFunctions[] = {
    "kyso_processVPDInfo", "kyso_prepareDevices", "kyso_snapDevices", "kyso_mapSnaps",
    "kyso_unmapSnaps",     "kyso_deleteSnaps",    "kyso_revertSnaps", "kyso_reconcileSnaps",
};

std::string run(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return output;
    }
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
        output += buffer;
    }
    return output;
}

TEST(Exports, DynamicSymbolTableHoldsExactlyTheFourteenEntryPoints) {
    const std::string table =
        run(std::string("nm -D --defined-only ") + KYSNAP_PLUGIN_PATH + " 2>&1");
    ASSERT_FALSE(table.empty());
    std::set<std::string> defined;
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (type != "A") {  // absolute symbols are the linker's version markers
            defined.insert(name);
        }
    }
    const std::set<std::string> expected(std::begin(KYSO::kEntryPointNames),
                                         std::end(KYSO::kEntryPointNames));
    EXPECT_EQ(defined, expected) << table;
}

TEST(Exports, EveryEntryPointResolvesAfterDlopen) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.loaded()) << dlerror();
    for (const char* name : KYSO::kEntryPointNames) {
        EXPECT_NE(plugin.symbol(name), nullptr) << name;
    }
}

TEST(EntryPoints, VersionIsOneZeroZero) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.loaded());
    int16_t major = -1, minor = -1, patch = -1;
    plugin.fn<KYSO::VersionFn>("kyso_version")(&major, &minor, &patch);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(patch, 0);
}

TEST(EntryPoints, EmptyBatchCallsAreRejectedWithoutTouchingAnyRequest) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.loaded());
    TestOSUtil util;
    TestSnapInfo request;
    KYSO::SnapInfo* requests[] = {&request};
    for (const char* name : kBatchFunctions) {
        auto batch = plugin.fn<KYSO::BatchFn>(name);
        EXPECT_EQ(batch(requests, 0, &util), KYSO::RESULT_FAILED) << name;
        EXPECT_EQ(batch(nullptr, 3, &util), KYSO::RESULT_FAILED) << name;
        EXPECT_EQ(batch(requests, -1, &util), KYSO::RESULT_FAILED) << name;
    }
    EXPECT_TRUE(request.statusHistory.empty());
    EXPECT_TRUE(request.logLines.empty());
    EXPECT_TRUE(request.errors.empty());
    EXPECT_TRUE(request.metaDataWrites.empty());

    KYSO::DeviceMap devices;
    int16_t reserved = 0;
    EXPECT_EQ(plugin.fn<KYSO::IdentifyDevicesFn>("kyso_identifyDevices")(nullptr, 0, devices, 3,
                                                                         reserved, &util),
              KYSO::RESULT_FAILED);
}

TEST(EntryPoints, NullRequestsOrUtilityRejectTheCallBeforeAnyRequestIsTouched) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.loaded());
    TestOSUtil util;
    TestSnapInfo request;
    KYSO::SnapInfo* withNull[] = {&request, nullptr};
    KYSO::SnapInfo* one[] = {&request};
    for (const char* name : kBatchFunctions) {
        auto batch = plugin.fn<KYSO::BatchFn>(name);
        EXPECT_EQ(batch(withNull, 2, &util), KYSO::RESULT_FAILED) << name;
        EXPECT_EQ(batch(one, 1, nullptr), KYSO::RESULT_FAILED) << name;
    }
    EXPECT_TRUE(request.statusHistory.empty());
    EXPECT_TRUE(request.logLines.empty());
    KYSO::DeviceMap devices;
    int16_t reserved = 0;
    auto identify = plugin.fn<KYSO::IdentifyDevicesFn>("kyso_identifyDevices");
    EXPECT_EQ(identify(withNull, 2, devices, 3, reserved, &util), KYSO::RESULT_FAILED);
    EXPECT_EQ(identify(one, 1, devices, 3, reserved, nullptr), KYSO::RESULT_FAILED);
    EXPECT_EQ(plugin.fn<KYSO::IsSupportedFn>("kyso_isSupported")(nullptr, 0, &util, nullptr, 0),
              KYSO::RESULT_FAILED);
}

// Arguments identification refuses, each with its one reason at the error level of the debug
// log, before any request is touched.
struct IdentifyArguments {
    const char* scenario;
    enum class Requests { Both, None, FirstNull, SecondNull } requests;
    int16_t count;
    bool withUtility;
    const char* reason;
};

const IdentifyArguments kRefusedIdentifications[] = {
    {"no devices counted", IdentifyArguments::Requests::Both, 0, true, "Device count[0] not valid"},
    {"a negative count", IdentifyArguments::Requests::Both, -2, true, "Device count[-2] not valid"},
    {"no request list", IdentifyArguments::Requests::None, 1, true, "Device list is null"},
    {"no first request", IdentifyArguments::Requests::FirstNull, 2, true, "Device list is null"},
    {"no OS utility", IdentifyArguments::Requests::Both, 2, false, "Snap util object is null"},
    {"a later request missing", IdentifyArguments::Requests::SecondNull, 2, true,
     "Invalid snapInfo pointer."},
};

TEST(EntryPoints, IdentifyRefusesBadArgumentsWithTheirReason) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.loaded());
    auto identify = plugin.fn<KYSO::IdentifyDevicesFn>("kyso_identifyDevices");
    TestOSUtil util;
    for (const IdentifyArguments& row : kRefusedIdentifications) {
        SCOPED_TRACE(row.scenario);
        TestSnapInfo first, second;
        KYSO::SnapInfo* both[] = {&first, &second};
        KYSO::SnapInfo* firstNull[] = {nullptr, &second};
        KYSO::SnapInfo* secondNull[] = {&first, nullptr};
        KYSO::SnapInfo** requests =
            row.requests == IdentifyArguments::Requests::Both         ? both
            : row.requests == IdentifyArguments::Requests::FirstNull  ? firstNull
            : row.requests == IdentifyArguments::Requests::SecondNull ? secondNull
                                                                      : nullptr;
        KYSO::DeviceMap devices = {{"TEGILE  |::|INTELLIFLASH    ", {"/dev/sdb"}}};
        int16_t reserved = 0;
        testhost::CapturingDebugSink log;
        EXPECT_EQ(
            identify(requests, row.count, devices, 3, reserved, row.withUtility ? &util : nullptr),
            KYSO::RESULT_FAILED);
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].level, EvDebug::LEVEL_ERROR);
        EXPECT_EQ(log.lines[0].message, row.reason);
        EXPECT_TRUE(first.logLines.empty());
        EXPECT_TRUE(second.logLines.empty());
        EXPECT_EQ(devices.at("TEGILE  |::|INTELLIFLASH    "), std::list<std::string>{"/dev/sdb"});
    }
}

TEST(EntryPoints, UnprepareClearsMetadataAndMarksEveryRequestUnprepared) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.loaded());
    auto unprepare = plugin.fn<KYSO::BatchFn>("kyso_unprepareDevices");
    std::vector<TestSnapInfo> requests(3);
    std::vector<KYSO::SnapInfo*> pointers;
    for (TestSnapInfo& request : requests) {
        request.metaData = "2.0|id|";
        pointers.push_back(&request);
    }
    TestOSUtil util;
    EXPECT_EQ(unprepare(pointers.data(), 3, &util), KYSO::RESULT_SUCCESS);
    for (const TestSnapInfo& request : requests) {
        ASSERT_EQ(request.metaDataWrites.size(), 1u);
        EXPECT_EQ(request.metaDataWrites[0].kind, KYSO::META_SNAPSHOT);
        EXPECT_TRUE(request.metaDataWrites[0].cleared);
        EXPECT_EQ(request.statusHistory, (std::vector<int32_t>{KYSO::SNAP_UNPREPARED}));
        EXPECT_TRUE(request.logLines.empty());
    }
    EXPECT_EQ(unprepare(nullptr, 0, &util), KYSO::RESULT_SUCCESS);
    EXPECT_EQ(unprepare(pointers.data(), 0, &util), KYSO::RESULT_SUCCESS);
}

TEST(EntryPoints, UnprepareSkipsNullRequestsInsteadOfCrashing) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.loaded());
    TestSnapInfo request;
    KYSO::SnapInfo* requests[] = {nullptr, &request};
    TestOSUtil util;
    EXPECT_EQ(plugin.fn<KYSO::BatchFn>("kyso_unprepareDevices")(requests, 2, &util),
              KYSO::RESULT_SUCCESS);
    EXPECT_EQ(request.statusHistory, (std::vector<int32_t>{KYSO::SNAP_UNPREPARED}));
}

// A host whose every answer about the request needs memory that is not there.
class ExhaustedHost : public TestSnapInfo {
public:
    int32_t getDevice(char*, int16_t&) override { throw std::bad_alloc(); }
    int32_t getSnapUUID(char*, int16_t&) override { throw std::bad_alloc(); }
    int32_t getArrayInfo(char*, int16_t&) override { throw std::bad_alloc(); }
    int32_t getMetaData(int32_t, char*, int16_t&) override { throw std::bad_alloc(); }
    int32_t getSnapDevice(char*, int16_t&) override { throw std::bad_alloc(); }
    const unsigned char* getInquiryData(int32_t) override { throw std::bad_alloc(); }
};

TEST(EntryPoints, RunningOutOfMemoryInACallIsReportedAsSuch) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.loaded());
    TestOSUtil util;
    for (const char* name : kBatchFunctions) {
        SCOPED_TRACE(name);
        ExhaustedHost request;
        KYSO::SnapInfo* requests[] = {&request};
        EXPECT_EQ(plugin.fn<KYSO::BatchFn>(name)(requests, 1, &util), KYSO::RESULT_FAILED);
        EXPECT_TRUE(request.logged("out of memory", 2)) << request.logText();
        EXPECT_EQ(request.errors.size(), 1u) << request.logText();
        if (!request.errors.empty()) {
            EXPECT_NE(request.errors[0].message.find("running out of memory"), std::string::npos)
                << request.errors[0].message;
        }
    }
}

TEST(EntryPoints, IsMappedAlwaysSucceedsAndExecSnapEngineOpAlwaysFails) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.loaded());
    TestSnapInfo request;
    KYSO::SnapInfo* requests[] = {&request};
    TestOSUtil util;
    auto isMapped = plugin.fn<KYSO::BatchFn>("kyso_isMapped");
    auto exec = plugin.fn<KYSO::BatchFn>("kyso_execSnapEngineOp");
    EXPECT_EQ(isMapped(requests, 1, &util), KYSO::RESULT_SUCCESS);
    EXPECT_EQ(isMapped(nullptr, 0, nullptr), KYSO::RESULT_SUCCESS);
    EXPECT_EQ(exec(requests, 1, &util), KYSO::RESULT_FAILED);
    EXPECT_EQ(exec(nullptr, 0, nullptr), KYSO::RESULT_FAILED);
    EXPECT_TRUE(request.statusHistory.empty());
    EXPECT_TRUE(request.logLines.empty());
}

}  // namespace
