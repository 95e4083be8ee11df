// SPDX-License-Identifier: Apache-2.0
// kysnap snap with hooks and a freeze, end to end: the hooks' order and outcomes, what is
// refused, and on a real ext4 filesystem (a loop device, where the machine allows it) that the
// freeze holds writers for the create, that it never outlives kysnap or its cap, and what each
// snapshot records. The frozen filesystem is not on the simulated devices; kysnap says so.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "Faults.h"
#include "KysnapSite.h"

namespace kysnap_test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

class KysnapQuiesce : public KysnapSite {
protected:
    void slowCreate(int latencyMs) {
        arraysim::Fault fault;
        fault.method = "createSnapshots";
        fault.action = arraysim::FaultAction::Latency;
        fault.latencyMs = latencyMs;
        simulator->faults().add(fault);
    }
    void failCreate() {
        arraysim::Fault fault;
        fault.method = "createSnapshots";
        fault.action = arraysim::FaultAction::Fail;
        simulator->faults().add(fault);
    }
    // Waits until the array has taken every injected fault: the create is under way.
    bool faultsTaken() {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!simulator->faults().describe().empty()) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(milliseconds(2));
        }
        return true;
    }
    // The consistency of each catalog snapshot, as kysnap list --json shows it.
    Strings consistencies() {
        const CliRun listed = expectRun({"list", "--json"});
        jsonxx::Object root;
        EXPECT_TRUE(root.parse(listed.out)) << listed.out;
        Strings values;
        const jsonxx::Array& list = root.get<jsonxx::Array>("snapshots");
        for (size_t i = 0; i < list.size(); ++i) {
            values.push_back(list.get<jsonxx::Object>(i).get<jsonxx::String>("consistency"));
        }
        return values;
    }
};

TEST_F(KysnapQuiesce, HooksRunAroundTheSnapshotAndTheirOutcomeDecidesItAndItsRecord) {
    expectRun({"prepare", kOraData});
    const std::string log = path("hooks.log");
    const std::string pre = "echo \"pre $KYSNAP_HOOK\" >> " + log;
    const std::string post = "echo \"post $KYSNAP_HOOK\" >> " + log;
    const std::string preFails = pre + "; exit 4";
    const std::string postFails = post + "; exit 5";
    struct Row {
        const char* scenario;
        Strings options;
        bool createFails;
        int status;
        const char* consistency;  // of the new record, "" for none
        const char* hooksRan;     // the hooks' log
        const char* said;         // on standard error
    };
    const Row rows[] = {
        {"both hooks",
         {"--pre-hook", pre, "--post-hook", post},
         false,
         0,
         "hook-quiesced",
         "pre pre\npost post\n",
         ""},
        {"a failing pre-hook stops it, the post-hook still runs",
         {"--pre-hook", preFails, "--post-hook", post},
         false,
         1,
         "",
         "pre pre\npost post\n",
         "the pre-hook exited with status 4: no snapshot was taken"},
        {"a failing pre-hook allowed",
         {"--pre-hook", preFails, "--allow-crash-consistent"},
         false,
         0,
         "crash-consistent",
         "pre pre\n",
         "taken without it"},
        {"a failing create still runs the post-hook",
         {"--pre-hook", pre, "--post-hook", post},
         true,
         1,
         "hook-quiesced",
         "pre pre\npost post\n",
         ""},
        {"a failing post-hook is no plain success",
         {"--pre-hook", pre, "--post-hook", postFails},
         false,
         3,
         "hook-quiesced",
         "pre pre\npost post\n",
         "the post-hook exited with status 5"},
        {"a post-hook alone",
         {"--post-hook", post},
         false,
         0,
         "crash-consistent",
         "post post\n",
         ""},
        {"the root filesystem is refused before any hook",
         {"--freeze", "/", "--pre-hook", pre, "--post-hook", post},
         false,
         1,
         "",
         "",
         "the root filesystem is refused"},
        {"a directory that is no mount point",
         {"--freeze", directory, "--post-hook", post},
         false,
         1,
         "",
         "",
         "is not a mount point"},
        {"a cap without a freeze",
         {"--freeze-timeout", "5"},
         false,
         2,
         "",
         "",
         "--freeze-timeout caps a freeze"},
        {"allowing without anything to allow",
         {"--allow-crash-consistent"},
         false,
         2,
         "",
         "",
         "--allow-crash-consistent lets"},
        {"a cap of no seconds",
         {"--freeze", "/", "--freeze-timeout", "0"},
         false,
         2,
         "",
         "",
         "--freeze-timeout takes whole seconds from 1 to 3600, not 0"},
        {"a cap of more than an hour",
         {"--freeze", "/", "--freeze-timeout", "3601"},
         false,
         2,
         "",
         "",
         "not 3601"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        std::remove(log.c_str());
        const size_t before = consistencies().size();
        if (row.createFails) {
            failCreate();
        }
        Strings arguments = {"snap"};
        arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        arguments.push_back(kOraData);
        const CliRun run = expectRun(arguments, row.status);
        EXPECT_NE((run.err + run.out).find(row.said), std::string::npos) << run.err << run.out;
        EXPECT_EQ(readFile(log), row.hooksRan);
        simulator->faults().clear();
        const Strings after = consistencies();
        if (*row.consistency == '\0') {
            EXPECT_EQ(after.size(), before);
        } else {
            ASSERT_EQ(after.size(), before + 1);
            EXPECT_EQ(after.back(), row.consistency);
        }
    }
    // --freeze and its company are snap's alone.
    const CliRun map = expectRun({"map", "--freeze", "/mnt", "KY-1"}, 2);
    EXPECT_NE(map.err.find("--freeze is for snap"), std::string::npos) << map.err;
}

// A hook runs the user's command, but the variable that holds the array's password is not
// passed on to it.
TEST_F(KysnapQuiesce, HooksDoNotGetTheVariableThatHoldsThePassword) {
    const std::string config = readFile(path("kysnap.conf"));
    const std::string file = "password-file = " + path("array.password");
    ASSERT_NE(config.find(file), std::string::npos);
    std::string changed = config;
    changed.replace(changed.find(file), file.size(), "password-env = KYSNAP_TEST_ARRAY_PW");
    writeConfig("", changed);
    runner->environment["KYSNAP_TEST_ARRAY_PW"] = password;
    runner->environment["KYSNAP_TEST_OTHER"] = "kept";
    expectRun({"prepare", kOraData});
    expectRun({"snap", "--pre-hook", "env > " + path("pre.env"), "--post-hook",
               "env > " + path("post.env"), kOraData});
    for (const char* name : {"pre.env", "post.env"}) {
        const std::string environment = readFile(path(name));
        EXPECT_EQ(environment.find(password), std::string::npos) << name;
        EXPECT_NE(environment.find("KYSNAP_TEST_OTHER=kept"), std::string::npos) << environment;
    }
}

// An ext4 filesystem on a loop device, mounted in the test's directory.
class KysnapRealFreeze : public KysnapQuiesce {
protected:
    void SetUp() override {
        KysnapQuiesce::SetUp();
        if (geteuid() != 0) {
            GTEST_SKIP() << "freezing a filesystem needs root, and this test runs as uid "
                         << geteuid();
        }
        if (access("/dev/loop-control", F_OK) != 0 || std::system("command -v mkfs.ext4 "
                                                                  ">/dev/null") != 0) {
            GTEST_SKIP() << "no loop device (/dev/loop-control) or no mkfs.ext4 on this machine";
        }
        mount = path("mnt");
        ASSERT_EQ(mkdir(mount.c_str(), 0755), 0);
        const std::string image = path("ext4.img");
        ASSERT_EQ(shell("truncate -s 32M " + image + " && mkfs.ext4 -q -F " + image), 0);
        loop = output("losetup --find --show " + image);
        if (loop.empty()) {
            GTEST_SKIP() << "losetup could not attach a loop device";
        }
        ASSERT_EQ(shell("mount -t ext4 " + loop + " " + mount), 0);
        mounted = true;
    }
    void TearDown() override {
        if (mounted) {
            shell("fsfreeze --unfreeze " + mount + " 2>/dev/null");
        }
        for (const pid_t writer : writers) {
            waitpid(writer, nullptr, 0);
        }
        if (mounted) {
            shell("umount " + mount);
        }
        if (!loop.empty()) {
            shell("losetup -d " + loop);
        }
        KysnapQuiesce::TearDown();
    }
    static int shell(const std::string& command) { return std::system(command.c_str()); }
    static std::string output(const std::string& command) {
        std::string text;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
                text += buffer;
            }
            pclose(pipe);
        }
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        return text;
    }
    // Another process writes a file on the filesystem: a frozen one holds it until the thaw.
    pid_t startWriter(const std::string& name) {
        const std::string file = mount + "/" + name;
        const pid_t pid = fork();
        if (pid == 0) {
            const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            _exit(fd >= 0 && write(fd, "x", 1) == 1 && close(fd) == 0 ? 0 : 1);
        }
        writers.push_back(pid);
        return pid;
    }
    // Whether the writer is done within `within`; its time since `since` in `took`.
    bool writerDone(pid_t writer, milliseconds within, Clock::time_point since,
                    milliseconds& took) {
        const auto deadline = Clock::now() + within;
        for (;;) {
            int status = 0;
            if (waitpid(writer, &status, WNOHANG) == writer) {
                took = std::chrono::duration_cast<milliseconds>(Clock::now() - since);
                writers.erase(std::find(writers.begin(), writers.end(), writer));
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                return true;
            }
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(milliseconds(2));
        }
    }
    bool writerDone(pid_t writer, milliseconds within) {
        milliseconds took{};
        return writerDone(writer, within, Clock::now(), took);
    }

    std::string mount;
    std::string loop;
    bool mounted = false;
    std::vector<pid_t> writers;
};

TEST_F(KysnapRealFreeze, AWriterWaitsForTheCreateAndEverySnapshotOfTheBatchIsFilesystemFrozen) {
    expectRun({"prepare", kOraData, kOraLogs, kHomeShare});
    slowCreate(1500);
    const pid_t kysnap =
        runner->start({"snap", "--freeze", mount, kOraData, kOraLogs, kHomeShare}, 0);
    ASSERT_TRUE(faultsTaken());
    const pid_t writer = startWriter("during-create");
    EXPECT_FALSE(writerDone(writer, milliseconds(700))) << "a write went through the freeze";
    const CliRun run = runner->finish(kysnap, 0);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(writerDone(writer, milliseconds(2000))) << "the filesystem stayed frozen";
    EXPECT_NE(run.out.find("filesystem-frozen"), std::string::npos) << run.out;
    // The simulated devices are no block devices of this host.
    EXPECT_NE(run.err.find("warning: cannot tell whether the frozen filesystems lie on"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(consistencies(), Strings(3, "filesystem-frozen"));
    const std::string listed = expectRun({"list"}).out;
    EXPECT_NE(listed.find(", filesystem-frozen\n"), std::string::npos) << listed;
    // After the run, writes go through at once.
    EXPECT_TRUE(writerDone(startWriter("after"), milliseconds(1000)));
}

TEST_F(KysnapRealFreeze, AKillNineDuringTheFreezeLeavesItThawedWellWithinTheCap) {
    expectRun({"prepare", kOraData});
    slowCreate(3000);
    const pid_t kysnap = runner->start({"snap", "--freeze", mount, kOraData}, 0);
    ASSERT_TRUE(faultsTaken());
    const pid_t writer = startWriter("during-create");
    ASSERT_FALSE(writerDone(writer, milliseconds(300))) << "a write went through the freeze";
    const auto killed = Clock::now();
    ASSERT_EQ(kill(kysnap, SIGKILL), 0);
    milliseconds took{};
    // The cap is 10 s: the watchdog thaws on the death, not the cap.
    EXPECT_TRUE(writerDone(writer, milliseconds(10000), killed, took));
    EXPECT_LT(took.count(), 500) << "thawed " << took.count() << " ms after kysnap died";
    const CliRun run = runner->finish(kysnap, 0);
    EXPECT_EQ(run.status, 128 + SIGKILL);
    EXPECT_NE(run.err.find("watchdog: kysnap ended during the freeze; thawing " + mount),
              std::string::npos)
        << run.err;
    std::this_thread::sleep_for(milliseconds(3000));  // the array finishes its slow create
}

TEST_F(KysnapRealFreeze, AnArrayThatDoesNotAnswerLeavesItThawedAtTheCapAndCrashConsistent) {
    expectRun({"prepare", kOraData, kOraLogs});
    slowCreate(6000);
    const auto started = Clock::now();
    const pid_t kysnap =
        runner->start({"snap", "--freeze", mount, "--freeze-timeout", "2", kOraData, kOraLogs}, 0);
    ASSERT_TRUE(faultsTaken());
    const pid_t writer = startWriter("during-create");
    milliseconds took{};
    EXPECT_TRUE(writerDone(writer, milliseconds(5000), started, took));
    EXPECT_GE(took.count(), 1500);
    EXPECT_LT(took.count(), 3000) << "thawed " << took.count() << " ms after kysnap started";
    const CliRun run = runner->finish(kysnap, 0);
    EXPECT_NE(run.err.find("watchdog: the freeze cap of 2 s passed before the array answered"),
              std::string::npos)
        << run.err;
    // What the array made late is no frozen snapshot; the script is told by the exit status.
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_NE(run.out.find("recorded crash-consistent"), std::string::npos) << run.out;
    EXPECT_EQ(consistencies(), Strings(2, "crash-consistent"));
}

TEST_F(KysnapRealFreeze, AFilesystemFrozenByAnotherProgramIsNeitherSnappedNorThawedByKysnap) {
    expectRun({"prepare", kOraData});
    ASSERT_EQ(shell("fsfreeze --freeze " + mount), 0);
    struct Row {
        const char* scenario;
        Strings options;
        int status;
        Strings recorded;
    };
    const Row rows[] = {
        {"the failed freeze stops the snapshot", {}, 1, {}},
        {"allowed, the snapshot is taken crash-consistent",
         {"--allow-crash-consistent"},
         0,
         {"crash-consistent"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        Strings arguments = {"snap", "--freeze", mount};
        arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        arguments.push_back(kOraData);
        const CliRun run = expectRun(arguments, row.status);
        EXPECT_NE(run.err.find("it is frozen already, by another program"), std::string::npos)
            << run.err;
        EXPECT_EQ(consistencies(), row.recorded);
        // The other program's freeze is its own to end.
        EXPECT_FALSE(
            writerDone(startWriter(std::string("frozen-") + row.scenario), milliseconds(300)));
    }
}

TEST_F(KysnapRealFreeze, ThePreHookRunsBeforeTheFreezeAndThePostHookAfterTheThaw) {
    expectRun({"prepare", kOraData});
    // Hooks that write on the filesystem would wait for the cap were it frozen around them.
    const CliRun run = expectRun({"snap", "--freeze", mount, "--freeze-timeout", "3", "--pre-hook",
                                  "echo flushed > " + mount + "/pre", "--post-hook",
                                  "echo resumed > " + mount + "/post", kOraData});
    EXPECT_EQ(readFile(mount + "/pre"), "flushed\n");
    EXPECT_EQ(readFile(mount + "/post"), "resumed\n");
    EXPECT_EQ(run.err.find("cap"), std::string::npos) << run.err;
    EXPECT_EQ(consistencies(), Strings{"hook-quiesced"});
}

}  // namespace
}  // namespace kysnap_test
