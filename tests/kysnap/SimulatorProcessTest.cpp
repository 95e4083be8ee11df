// SPDX-License-Identifier: Apache-2.0
// The arraysim child of `kysnap demo`: started with a bounded wait, stopped and reaped in
// every case, its failures named. Stand-in programs (shell scripts given arraysim's
// arguments) play the simulators that misbehave; the real one plays the one that works.
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "KysnapRunner.h"
#include "SimulatorProcess.h"

namespace kysnap_test {
namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

// Finds the port file among the arguments, as arraysim does.
const char kScriptStart[] =
    "#!/bin/sh\n"
    "while [ $# -gt 0 ]; do [ \"$1\" = --port-file ] && port_file=$2; shift; done\n"
    "echo $$ > \"$(dirname \"$port_file\")/stand-in.pid\"\n";

class SimulatorProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "kysnap-simprocess-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
        launch.program = KYSNAP_ARRAYSIM_PROGRAM;
        launch.seedFile = std::string(KYSNAP_SOURCE_DIR) + "/tools/arraysim/seed/sample.json";
        launch.directory = directory + "/run";
        mkdir(launch.directory.c_str(), 0700);
        launch.startSeconds = 1;
        launch.stopSeconds = 1;
    }
    void TearDown() override { nftw(directory.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

    // A stand-in for arraysim that runs `body` after finding its port file.
    std::string standIn(const std::string& body) {
        const std::string script = directory + "/stand-in";
        std::ofstream(script) << kScriptStart << body;
        chmod(script.c_str(), 0700);
        return script;
    }
    // The stand-in's process has ended and been reaped (by us: it was our child).
    bool standInGone() {
        const std::string pid = readFile(launch.directory + "/stand-in.pid");
        EXPECT_FALSE(pid.empty()) << "the stand-in did not run";
        return !pid.empty() && kill(std::stoi(pid), 0) != 0 && errno == ESRCH;
    }

    std::string directory;
    kysnap::SimulatorLaunch launch;
};

TEST_F(SimulatorProcessTest, StartFailuresAreNamedAndLeaveNoProcess) {
    struct Row {
        const char* scenario;
        std::string body;  // "" runs a program that does not exist
        std::string said;
    };
    const Row rows[] = {
        {"program missing", "", "No such file or directory (KYSNAP_ARRAYSIM names"},
        {"exits before it listens, its reason quoted",
         "echo 'arraysim: starting' >&2\necho 'arraysim: certificate directory: refused' >&2\n"
         "exit 1\n",
         "exited with status 1: arraysim: certificate directory: refused, before it listened"},
        {"killed before it listens", "kill -9 $$\n", "was killed by signal Killed"},
        {"never writes its port", "exec sleep 60\n", "did not write its port within 1 s"},
        {"writes only part of its port and hangs", "printf 4 > \"$port_file\"\nexec sleep 60\n",
         "did not write its port within 1 s"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        unlink((launch.directory + "/stand-in.pid").c_str());
        launch.program = row.body.empty() ? directory + "/none" : standIn(row.body);
        kysnap::SimulatorProcess simulator(launch);
        std::string error;
        EXPECT_FALSE(simulator.start(error));
        EXPECT_NE(error.find(row.said), std::string::npos) << error;
        EXPECT_EQ(simulator.pid(), 0);
        if (!row.body.empty()) {
            EXPECT_TRUE(standInGone());
        }
    }
}

TEST_F(SimulatorProcessTest, StopFailuresAreNamedAndTheProcessIsReaped) {
    struct Row {
        const char* scenario;
        std::string body;
        std::string said;
        int runsMs = 0;  // how long the run lasts before the stop
    };
    const Row rows[] = {
        {"ended during the run",
         "echo 40123 > \"$port_file\"\nsleep 0.2\necho 'arraysim: out of memory' >&2\nexit 3\n",
         "had ended before it was asked to stop: it exited with status 3: arraysim: out of "
         "memory",
         600},
        {"ignores SIGTERM", "trap '' TERM\necho 40123 > \"$port_file\"\nexec sleep 60\n",
         "did not stop within 1 s of SIGTERM; it was killed"},
        {"stops without writing its counters",
         "trap 'exit 0' TERM\necho 40123 > \"$port_file\"\nwhile :; do sleep 0.05; done\n",
         "wrote no readable counters"},
        // A key given twice would leave which count is meant to the reader.
        {"writes counters that name a count twice",
         R"(trap 'printf "{\"requests\": 1, \"requests\": 2}" > "$(dirname "$port_file")/)"
         R"(arraysim.counters"; exit 0' TERM)"
         "\necho 40123 > \"$port_file\"\nwhile :; do sleep 0.05; done\n",
         "the key \"requests\" appears twice"},
        {"fails when asked to stop",
         "trap 'echo \"arraysim: cannot write counters\" >&2; exit 1' TERM\n"
         "echo 40123 > \"$port_file\"\nwhile :; do sleep 0.05; done\n",
         "exited with status 1: arraysim: cannot write counters when asked to stop"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        launch.program = standIn(row.body);
        kysnap::SimulatorProcess simulator(launch);
        std::string error;
        ASSERT_TRUE(simulator.start(error)) << error;
        EXPECT_EQ(simulator.port(), 40123);
        std::this_thread::sleep_for(std::chrono::milliseconds(row.runsMs));
        nlohmann::json counters;
        EXPECT_FALSE(simulator.stop(counters, error));
        EXPECT_NE(error.find(row.said), std::string::npos) << error;
        EXPECT_TRUE(standInGone());
    }
}

TEST_F(SimulatorProcessTest, TheRealSimulatorServesUntilStoppedThenGivesItsCounters) {
    launch.startSeconds = 60;  // a first start makes a CA and a key
    launch.stopSeconds = 10;
    kysnap::SimulatorProcess simulator(launch);
    std::string error;
    ASSERT_TRUE(simulator.start(error)) << error;
    EXPECT_GT(simulator.port(), 0);
    const pid_t pid = simulator.pid();
    EXPECT_GT(pid, 0);
    EXPECT_NE(readFile(simulator.caFile()).find("BEGIN CERTIFICATE"), std::string::npos);
    nlohmann::json counters;
    ASSERT_TRUE(simulator.stop(counters, error)) << error;
    EXPECT_TRUE(counters.contains("requests") && counters["requests"].is_number_integer())
        << counters.dump();
    EXPECT_EQ(simulator.pid(), 0);
    EXPECT_TRUE(kill(pid, 0) != 0 && errno == ESRCH) << "arraysim was not reaped";
}

TEST_F(SimulatorProcessTest, KillEndsARunningSimulatorAndForgetsIt) {
    launch.program = standIn("echo 40123 > \"$port_file\"\nexec sleep 60\n");
    kysnap::SimulatorProcess simulator(launch);
    std::string error;
    ASSERT_TRUE(simulator.start(error)) << error;
    simulator.kill();
    EXPECT_TRUE(standInGone());
    nlohmann::json counters;
    EXPECT_FALSE(simulator.stop(counters, error));
    EXPECT_NE(error.find("had ended before it was asked to stop: it was killed"), std::string::npos)
        << error;
}

}  // namespace
}  // namespace kysnap_test
