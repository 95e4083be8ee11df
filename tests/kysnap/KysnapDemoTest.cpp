// SPDX-License-Identifier: Apache-2.0
// `kysnap demo`, as `make demo` runs it: the whole lifecycle against its own arraysim process,
// and a clean stop of both when interrupted.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "KysnapSite.h"

namespace kysnap_test {
namespace {

bool emptyDirectory(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        return false;
    }
    bool empty = true;
    while (const dirent* entry = readdir(dir)) {
        empty = empty && entry->d_name[0] == '.';
    }
    closedir(dir);
    return empty;
}

// The arraysim process the demo names in its first lines ("..., process N; ..."), 0 if none.
pid_t simulatorProcess(const std::string& out) {
    const size_t at = out.find(", process ");
    return at == std::string::npos ? 0 : std::atoi(out.c_str() + at + 10);
}

// Whether `pid` has ended: no such process, or one that is only waiting to be reaped.
bool ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, name, state;
    if (!(stat >> pidField >> name >> state)) {
        return true;
    }
    return state == "Z" || state == "X";
}

bool endsWithin(pid_t pid, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ended(pid) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ended(pid);
}

class KysnapDemo : public KysnapSite {
protected:
    void SetUp() override {
        KysnapSite::SetUp();
        temporary = path("tmp");
        mkdir(temporary.c_str(), 0700);
        runner->environment["TMPDIR"] = temporary;
    }

    // Starts the demo and waits until it has named its simulator's process (`simulator`).
    pid_t startDemo(pid_t& simulator) {
        const pid_t demo = runner->start({"demo"}, 1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::string out;
        while ((out = readFile(path("out.1"))).find("catalog ") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        simulator = simulatorProcess(out);
        EXPECT_GT(simulator, 0) << out;
        return demo;
    }

    std::string temporary;  // the demo's TMPDIR
};

// The runner's KYSNAP_TLS_CA_FILE names the test simulator's CA, not the demo's: the demo's
// array is trusted through the ca-file of its configuration alone.
TEST_F(KysnapDemo, RunsTheWholeLifecycleAndSummarisesTheSimulatorsCounters) {
    const CliRun run = expectRun({"demo"});
    for (const char* step :
         {"is the array's ca-file", "kysnap check", "kysnap prepare", "kysnap snap", "kysnap map",
          "kysnap list", "kysnap unmap", "kysnap reconcile", "kysnap delete",
          "== summary: lifecycle complete", "REST requests to the array: ", "createSnapshots",
          "TLS connections: "}) {
        EXPECT_NE(run.out.find(step), std::string::npos) << step << "\n" << run.out;
    }
    EXPECT_EQ(run.out.find("FAIL"), std::string::npos) << run.out;
    const pid_t simulator = simulatorProcess(run.out);
    EXPECT_TRUE(simulator > 0 && ended(simulator)) << "arraysim outlived the demo";
    EXPECT_TRUE(emptyDirectory(temporary)) << "the demo left files behind";
}

TEST_F(KysnapDemo, CtrlCStopsItAndItsSimulatorAndLeavesNothingBehind) {
    pid_t simulator = 0;
    const pid_t demo = startDemo(simulator);
    kill(demo, SIGINT);
    const CliRun run = runner->finish(demo, 1);
    EXPECT_EQ(run.status, 130) << run.out << run.err;
    EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
    EXPECT_TRUE(simulator > 0 && ended(simulator)) << "arraysim outlived the demo";
    EXPECT_TRUE(emptyDirectory(temporary)) << "the demo left files behind";
}

TEST_F(KysnapDemo, ItsSimulatorDiesWithItWhenItIsKilledOutright) {
    pid_t simulator = 0;
    const pid_t demo = startDemo(simulator);
    kill(demo, SIGKILL);
    runner->finish(demo, 1);
    EXPECT_TRUE(simulator > 0 && endsWithin(simulator, std::chrono::seconds(10)))
        << "arraysim outlived a killed demo";
}

TEST_F(KysnapDemo, ASimulatorThatCannotRunIsNamedAndNothingIsLeftBehind) {
    runner->environment["KYSNAP_ARRAYSIM"] = path("no-arraysim");
    const CliRun run = expectRun({"demo"}, 1);
    EXPECT_NE(run.err.find("the array simulator did not start: cannot run " + path("no-arraysim") +
                           ": No such file or directory"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("kysnap check"), std::string::npos) << run.out;
    EXPECT_TRUE(emptyDirectory(temporary)) << "the demo left files behind";
}

}  // namespace
}  // namespace kysnap_test
