// SPDX-License-Identifier: Apache-2.0
// The parts of a consistent snapshot that need no real filesystem: reading the mount table,
// which mount points are refused, the consistency a batch is recorded with, the devices below
// a mount, and the hooks with their time limit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include "Hook.h"
#include "MountPoints.h"
#include "Quiescing.h"

namespace kysnap {
namespace {

// Runs a shell command of the test's own set-up; its failure fails the test.
void shell(const std::string& command) {
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(KysnapMountInfo, LinesReadAsTheKernelWritesThemAndOthersAreLeftOut) {
    const std::string text =
        "22 1 253:1 / / rw,relatime shared:1 - ext4 /dev/mapper/vg-root rw\n"
        "36 22 0:5 / /dev rw,nosuid shared:2 - devtmpfs udev rw,size=4096k\n"
        "40 22 253:3 / /srv/ora\\040data rw master:1 propagate_from:2 - xfs /dev/dm-3 rw\n"
        "41 22 0:52 / /mnt/nfs rw - nfs4 filer:/export/a\\134b rw,vers=4.2\n"
        "garbage line\n"
        "42 22 8:17 / /mnt/short rw - ext4\n"
        "43 22 8:x / /mnt/bad rw - ext4 /dev/sdb1 rw\n";
    const std::vector<MountEntry> mounts = parseMountInfo(text);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[0].device, makedev(253, 1));
    EXPECT_EQ(mounts[1].fsType, "devtmpfs");
    // Optional fields of any number stand before the separator; escapes are undone.
    EXPECT_EQ(mounts[2].mountPoint, "/srv/ora data");
    EXPECT_EQ(mounts[2].fsType, "xfs");
    EXPECT_EQ(mounts[2].source, "/dev/dm-3");
    EXPECT_EQ(mounts[3].source, "filer:/export/a\\b");
    EXPECT_EQ(mounts[3].fsType, "nfs4");
}

class KysnapFreezeTargets : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "kysnap-targets-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
        for (const char* name : {"data", "logs", "nfs", "shm", "plain", "other", "fat"}) {
            ASSERT_EQ(mkdir((directory + "/" + name).c_str(), 0755), 0);
        }
        ASSERT_EQ(symlink((directory + "/data").c_str(), (directory + "/link").c_str()), 0);
    }
    void TearDown() override { shell("rm -rf '" + directory + "'"); }
    MountEntry mount(const std::string& name, const char* type, unsigned minor) const {
        return MountEntry{directory + "/" + name, type, "/dev/x", makedev(253, minor)};
    }
    std::string directory;
};

TEST_F(KysnapFreezeTargets, EachRefusalNamesThePathWhyAndTheRemedy) {
    const std::vector<MountEntry> mounts = {
        MountEntry{"/", "ext4", "/dev/sda1", makedev(8, 1)},
        mount("data", "ext4", 3),
        mount("logs", "xfs", 4),
        mount("nfs", "nfs4", 0),
        mount("shm", "tmpfs", 0),
        mount("other", "tmpfs", 7),
        // A later mount on the same point hides the earlier one.
        mount("other", "ext4", 8),
        mount("fat", "vfat", 9),
    };
    struct Row {
        const char* scenario;
        std::vector<std::string> given;  // relative to the test's directory, but "/"
        const char* refusal;             // "" when accepted
    };
    const Row rows[] = {
        {"two local filesystems", {"data", "logs"}, ""},
        {"through a link, as its mount point", {"link"}, ""},
        {"the mount that hides an earlier one", {"other"}, ""},
        {"the root filesystem", {"/"}, "the root filesystem is refused: freezing it stops"},
        {"a network filesystem", {"nfs"}, "a network filesystem (nfs4) cannot be frozen"},
        {"a memory filesystem", {"shm"}, "a tmpfs filesystem cannot be frozen"},
        {"a filesystem without freezing", {"fat"}, "a vfat filesystem cannot be frozen"},
        {"a directory that is no mount point", {"plain"}, "is not a mount point"},
        {"a path that does not exist", {"missing"}, "no such directory"},
        {"the same filesystem twice", {"data", "link"}, "the same filesystem as"},
        {"a refused one after an accepted one", {"data", "nfs"}, "nfs: a network filesystem"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        std::vector<std::string> given;
        for (const std::string& name : row.given) {
            given.push_back(name == "/" ? name : directory + "/" + name);
        }
        std::vector<FreezeTarget> targets;
        std::string error;
        const bool accepted = checkFreezeTargets(given, mounts, targets, error);
        EXPECT_EQ(accepted, *row.refusal == '\0') << error;
        if (!accepted) {
            EXPECT_NE(error.find(row.refusal), std::string::npos) << error;
            EXPECT_EQ(error.rfind("--freeze ", 0), 0u) << error;
            EXPECT_TRUE(targets.empty());
            continue;
        }
        ASSERT_EQ(targets.size(), given.size());
        for (size_t i = 0; i < given.size(); ++i) {
            EXPECT_EQ(targets[i].given, given[i]);
            EXPECT_NE(freezeSupport(targets[i].mount.fsType), FreezeSupport::CannotFreeze);
        }
    }
    // Through the link, the mount point itself is what is frozen.
    std::vector<FreezeTarget> targets;
    std::string error;
    ASSERT_TRUE(checkFreezeTargets({directory + "/link"}, mounts, targets, error)) << error;
    EXPECT_EQ(targets[0].mount.mountPoint, directory + "/data");
}

TEST(KysnapConsistency, TheWeakestPromiseThatHeldIsRecorded) {
    struct Row {
        PreHookResult preHook;
        FreezeResult freeze;
        Consistency expected;
    };
    const Row rows[] = {
        {PreHookResult::NotGiven, FreezeResult::NotAsked, Consistency::CrashConsistent},
        {PreHookResult::NotGiven, FreezeResult::Held, Consistency::FilesystemFrozen},
        {PreHookResult::NotGiven, FreezeResult::Failed, Consistency::CrashConsistent},
        {PreHookResult::Succeeded, FreezeResult::NotAsked, Consistency::HookQuiesced},
        {PreHookResult::Succeeded, FreezeResult::Held, Consistency::HookQuiesced},
        // The application flushed, but to a page cache no freeze wrote out.
        {PreHookResult::Succeeded, FreezeResult::Failed, Consistency::CrashConsistent},
        {PreHookResult::Failed, FreezeResult::NotAsked, Consistency::CrashConsistent},
        {PreHookResult::Failed, FreezeResult::Held, Consistency::FilesystemFrozen},
        {PreHookResult::Failed, FreezeResult::Failed, Consistency::CrashConsistent},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(consistencyName(consistencyOf(row.preHook, row.freeze)),
                  std::string(consistencyName(row.expected)))
            << static_cast<int>(row.preHook) << " " << static_cast<int>(row.freeze);
    }
}

// A stand-in /sys/dev/block: a multipath map over two paths, an LV on the map, a partition.
TEST(KysnapDevicesBelow, AMountReachesTheDisksUnderItsMapsAndPartitions) {
    std::string pattern = ::testing::TempDir() + "kysnap-sys-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string sys = pattern;
    const auto node = [&](const std::string& path, const std::string& dev) {
        shell("mkdir -p '" + sys + "/devices/" + path + "'");
        std::ofstream(sys + "/devices/" + path + "/dev") << dev << "\n";
        shell("mkdir -p '" + sys + "/dev/block' && ln -s '" + sys + "/devices/" + path + "' '" +
              sys + "/dev/block/" + dev + "'");
    };
    node("sdb", "8:16");
    node("sdc", "8:32");
    node("sdd", "8:48");
    node("sdd/sdd1", "8:49");
    std::ofstream(sys + "/devices/sdd/sdd1/partition") << "1\n";
    node("dm-0", "253:0");
    node("dm-1", "253:1");
    const auto slave = [&](const std::string& holder, const std::string& below) {
        shell("mkdir -p '" + sys + "/devices/" + holder + "/slaves' && ln -s '" + sys +
              "/devices/" + below + "' '" + sys + "/devices/" + holder + "/slaves/" + below + "'");
    };
    slave("dm-0", "sdb");
    slave("dm-0", "sdc");
    slave("dm-1", "dm-0");
    struct Row {
        const char* scenario;
        dev_t mount;
        std::vector<dev_t> expected;
    };
    const Row rows[] = {
        {"a plain disk", makedev(8, 32), {makedev(8, 32)}},
        {"a multipath map", makedev(253, 0), {makedev(253, 0), makedev(8, 16), makedev(8, 32)}},
        {"an LV on the map",
         makedev(253, 1),
         {makedev(253, 1), makedev(253, 0), makedev(8, 16), makedev(8, 32)}},
        {"a partition", makedev(8, 49), {makedev(8, 49), makedev(8, 48)}},
        {"a device sysfs does not know", makedev(9, 9), {makedev(9, 9)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        std::vector<dev_t> found = devicesBelow(row.mount, sys);
        std::sort(found.begin(), found.end());
        std::vector<dev_t> expected = row.expected;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
    }
    shell("rm -rf '" + sys + "'");
}

TEST(KysnapHook, AHookSucceedsOnlyByExitingZeroWithinItsLimit) {
    using std::chrono::milliseconds;
    std::string pattern = ::testing::TempDir() + "kysnap-hook-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string dir = pattern;
    struct Row {
        const char* scenario;
        std::string command;
        milliseconds limit;
        bool succeeds;
        const char* failure;
    };
    const Row rows[] = {
        {"exits 0", "true", milliseconds(5000), true, ""},
        {"sees its stage", "test \"$KYSNAP_HOOK\" = pre", milliseconds(5000), true, ""},
        {"exits 1", "exit 1", milliseconds(5000), false, "exited with status 1"},
        {"not found", "/nonexistent-hook", milliseconds(5000), false, "exited with status 127"},
        {"killed", "kill -9 $$", milliseconds(5000), false, "was killed by signal 9"},
        {"too slow", "sleep 30", milliseconds(300), false, "took longer than 300 ms"},
        // What it started is ended with it at the limit, not left behind.
        {"too slow with a child", "(sleep 1; touch " + dir + "/late) & wait", milliseconds(300),
         false, "took longer than 300 ms"},
        // What it leaves running when it exits in time stays (a lock held until the post-hook).
        {"leaves a process", "(sleep 1; touch " + dir + "/kept) >/dev/null 2>&1 &",
         milliseconds(5000), true, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        std::string failure;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(runHook(row.command, row.limit, {{"KYSNAP_HOOK", "pre"}}, failure), row.succeeds)
            << failure;
        EXPECT_NE(failure.find(row.failure), std::string::npos) << failure;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
    sleep(2);
    EXPECT_EQ(access((dir + "/kept").c_str(), F_OK), 0);
    EXPECT_NE(access((dir + "/late").c_str(), F_OK), 0);
    shell("rm -rf '" + dir + "'");
}

}  // namespace
}  // namespace kysnap
