// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "CLmError.h"
#include "CallMemory.h"
#include "CallScope.h"
#include "EvDebug.h"
#include "EvDebugSink.h"
#include "KyException.h"
#include "LMSleep.h"
#include "PlatformFakes.h"
#include "SP.h"
#include "TlsPins.h"

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

// A pins file is judged for the user who reads it: root's files and the reader's own are taken,
// another user's are not, nor is a file in another user's directory. Read by a user other than
// root, in a forked child: for root the two rules are one.
TEST(PinsFile, RootsFilesAndTheReadersOwnAreTakenAnotherUsersAreNot) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "reading as another user needs root to switch to that user";
    }
    constexpr uid_t kReader = 65534;
    constexpr uid_t kOther = 4242;
    std::string base = ::testing::TempDir() + "platform-pins-XXXXXX";
    ASSERT_NE(mkdtemp(base.data()), nullptr);
    ASSERT_EQ(chmod(base.c_str(), 0755), 0);
    const auto make = [](const std::string& path, bool directory, uid_t owner) {
        if (directory) {
            EXPECT_EQ(mkdir(path.c_str(), 0755), 0) << path;
        } else {
            std::ofstream(path) << "10.0.0.5 sha256//" + std::string(43, 'A') + "=\n";
            EXPECT_EQ(chmod(path.c_str(), 0644), 0) << path;
        }
        EXPECT_EQ(chown(path.c_str(), owner, owner), 0) << path;
    };
    make(base + "/root.pins", false, 0);
    make(base + "/other.pins", false, kOther);
    make(base + "/reader", true, kReader);
    make(base + "/reader/own.pins", false, kReader);
    make(base + "/elsewhere", true, kOther);
    make(base + "/elsewhere/root.pins", false, 0);
    struct Case {
        std::string path;
        std::string refusal;  // empty when the file is taken
    };
    const std::vector<Case> cases = {
        {base + "/root.pins", ""},
        {base + "/reader/own.pins", ""},
        {base + "/other.pins",
         "the pins file " + base + "/other.pins belongs to another user (uid 4242)"},
        {base + "/elsewhere/root.pins",
         "lies in " + base + "/elsewhere, which belongs to another user (uid 4242)"},
    };
    // The child writes one line per case: "taken" or why the file was refused.
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        if (setgid(kReader) != 0 || setuid(kReader) != 0) {
            _exit(2);
        }
        std::string lines;
        for (const Case& c : cases) {
            std::vector<kyplatform::PinnedArray> arrays;
            std::string error;
            lines += (kyplatform::loadPins(c.path, arrays, error) ? "taken" : error) + "\n";
        }
        const bool written =
            write(report[1], lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
        _exit(written ? 0 : 3);
    }
    close(report[1]);
    std::string lines;
    char buffer[4096];
    for (ssize_t got = 0; (got = read(report[0], buffer, sizeof buffer)) > 0;) {
        lines.append(buffer, static_cast<size_t>(got));
    }
    close(report[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::istringstream outcomes(lines);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string outcome;
        ASSERT_TRUE(std::getline(outcomes, outcome));
        if (c.refusal.empty()) {
            EXPECT_EQ(outcome, "taken");
        } else {
            EXPECT_NE(outcome.find(c.refusal), std::string::npos) << outcome;
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
}

}  // namespace
