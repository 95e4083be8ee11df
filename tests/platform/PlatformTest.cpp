// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "CLmError.h"
#include "CallMemory.h"
#include "CallScope.h"
#include "EvDebug.h"
#include "KyException.h"
#include "LMSleep.h"
#include "PlatformFakes.h"
#include "SP.h"

namespace {

using testhost::CapturingDebugSink;
using testhost::RecordingSleeper;

TEST(DebugLog, LinesCarryLevelHeaderAndFormattedMessage) {
    CapturingDebugSink sink;
    EvDebug log(nullptr);
    log.DebugLvl("kyso_isSupported", EvDebug::LEVEL_ERROR, "device [%s] does not belong to [%s]",
                 "/dev/sdb", "TEGILE");
    log.debugLvl(EvDebug::LEVEL_INFO, "count [%d]", 3);
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[0].level, -1);
    EXPECT_EQ(sink.lines[0].header, "kyso_isSupported");
    EXPECT_EQ(sink.lines[0].message, "device [/dev/sdb] does not belong to [TEGILE]");
    EXPECT_EQ(sink.lines[1].header, "");
    EXPECT_EQ(sink.lines[1].message, "count [3]");
}

TEST(DebugLog, PrintedLineIsReadableTimeLevelHeaderMessage) {
    const std::string line =
        kyplatform::formatEvDebugLine(-1, "kyso_isSupported", "supported by [x]\n");
    EXPECT_TRUE(std::regex_match(
        line,
        std::regex(
            R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z ERROR kyso_isSupported supported by \[x\])")))
        << line;
    EXPECT_NE(kyplatform::formatEvDebugLine(1, "", "m").find(" INFO m"), std::string::npos);
}

TEST(Sleep, InstalledSleeperReceivesEveryWaitInsteadOfSleeping) {
    RecordingSleeper sleeper;
    const auto start = std::chrono::steady_clock::now();
    LMSLEEP(60000);
    LMSLEEP_InTeRnAl(100, __FILE__, __LINE__);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(sleeper.waits, (std::vector<unsigned int>{60000, 100}));
}

TEST(Sleep, RealSleepWaitsAtLeastTheTimeAsked) {
    const auto start = std::chrono::steady_clock::now();
    LMSLEEP(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

TEST(CallMemory, WhatACallRemembersAndWhatMakesItForget) {
    namespace memory = kyplatform::callmemory;
    RecordingSleeper sleeper;
    struct Case {
        const char* scenario;
        bool inCall;
        bool switchedOff;               // KYSNAP_CALL_MEMORY=off when the call opens
        std::function<void()> between;  // after "a"/"list" was remembered as "first"
        bool recalledA;                 // "a"/"list" is still remembered, as "first"
        bool recalledB;                 // "b"/"list", remembered beside it, still is
        const char* setting = nullptr;  // KYSNAP_CALL_MEMORY when the call opens; null: unset
        bool warned = false;            // one warning line names the setting
    };
    const std::string tooLarge(kyplatform::kCallMemoryBytes + 1, 'x');
    const Case cases[] = {
        {"a call remembers answers by array and request", true, false, [] {}, true, true},
        {"forgetting one array keeps the others", true, false, [] { memory::forget("a"); }, false,
         true},
        {"a wait forgets every array", true, false, [] { LMSLEEP(5); }, false, false},
        {"an answer too large to keep drops the older one it replaces", true, false,
         [&tooLarge] { memory::remember("a", "list", tooLarge); }, false, true},
        {"outside a call nothing is remembered", false, false, [] {}, false, false},
        {"switched off, a call remembers nothing", true, true, [] {}, false, false, "off"},
        {"off in capitals switches it off", true, true, [] {}, false, false, "OFF"},
        {"0 switches it off", true, true, [] {}, false, false, "0"},
        {"on keeps it on", true, false, [] {}, true, true, "On"},
        {"1 keeps it on", true, false, [] {}, true, true, "1"},
        {"an empty setting is no setting", true, false, [] {}, true, true, ""},
        {"any other setting is warned of and leaves it on", true, false, [] {}, true, true, "of",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        CapturingDebugSink sink;
        if (c.setting != nullptr) {
            setenv("KYSNAP_CALL_MEMORY", c.setting, 1);
        }
        auto call = c.inCall ? std::make_unique<kyplatform::CallScope>() : nullptr;
        unsetenv("KYSNAP_CALL_MEMORY");
        ASSERT_EQ(sink.lines.size(), c.warned ? 1u : 0u);
        if (c.warned) {
            EXPECT_EQ(sink.lines[0].message,
                      std::string("warning: KYSNAP_CALL_MEMORY=\"") + c.setting +
                          "\" is neither on nor off; the call's memory of array answers stays on");
        }
        memory::remember("a", "list", "first");
        memory::remember("b", "list", "other");
        c.between();
        std::string answer;
        EXPECT_EQ(memory::recall("a", "list", answer), c.recalledA);
        EXPECT_EQ(answer, c.recalledA ? "first" : "");
        answer.clear();
        EXPECT_EQ(memory::recall("b", "list", answer), c.recalledB);
        EXPECT_FALSE(memory::recall("a", "other request", answer));
        // What is left can still be remembered: the memory's count of bytes stayed sound.
        memory::remember("a", "list", "again");
        EXPECT_EQ(memory::recall("a", "list", answer), c.inCall && !c.switchedOff);
    }
    std::string answer;
    EXPECT_FALSE(memory::recall("b", "list", answer)) << "nothing outlives the call";
}

TEST(CallMemory, CredentialsDigestTellsEveryPairApartWithoutHoldingThePassword) {
    using kyplatform::callmemory::credentialsDigest;
    const std::string digest = credentialsDigest("admin", "s3cret");
    // SHA-256 of the length-prefixed user and the password, in hex.
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << digest;
    EXPECT_EQ(digest.find("s3cret"), std::string::npos);
    EXPECT_EQ(credentialsDigest("admin", "s3cret"), digest);
    EXPECT_NE(credentialsDigest("admin", "s3cres"), digest);
    EXPECT_NE(credentialsDigest("operator", "s3cret"), digest);
    // The same bytes split otherwise are other credentials.
    EXPECT_NE(credentialsDigest("admins", "3cret"), digest);
    EXPECT_NE(credentialsDigest("", "admins3cret"), digest);
}

struct Counted : SPBase {
    explicit Counted(int* deletions) : deletions_(deletions) {}
    ~Counted() override { ++*deletions_; }
    int* deletions_;
};

TEST(SharedPointer, ObjectLivesUntilTheLastPointerGoes) {
    int deletions = 0;
    {
        SP<Counted> first(new Counted(&deletions));
        SP<Counted> second = first;
        EXPECT_EQ(first->refCount(), 2);
        first.reset();
        EXPECT_EQ(deletions, 0);
        SP<Counted> moved = std::move(second);
        EXPECT_TRUE(second.isNull());
        EXPECT_EQ(moved->refCount(), 1);
    }
    EXPECT_EQ(deletions, 1);
}

TEST(ErrorObjects, ErrorTextAndExceptionCarryWhatTheDeviceLibrarySaid) {
    CLmError error;
    error.Set(19, "No such device");
    EXPECT_EQ(error.AsString(), "No such device");
    error.Success();
    EXPECT_TRUE(error.IsSuccess());

    try {
        throw KyException("sendSCSIInquiry", "ioctl failed", "file.cpp", 12, 5);
    } catch (const KyException& e) {
        EXPECT_EQ(e.getMessage(), "ioctl failed");
        EXPECT_STREQ(e.what(), "ioctl failed");
        EXPECT_EQ(e.getCode(), 5);
    }
}

}  // namespace
