// SPDX-License-Identifier: Apache-2.0
// `kysnap demo`, as `make demo` runs it: the whole lifecycle against its own simulator, and a
// clean stop when interrupted.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "KysnapSite.h"

namespace kysnap_test {
namespace {

using KysnapDemo = KysnapSite;

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

TEST_F(KysnapDemo, RunsTheWholeLifecycleAndSummarisesTheSimulatorsCounters) {
    const std::string temporary = path("tmp");
    mkdir(temporary.c_str(), 0700);
    runner->environment["TMPDIR"] = temporary;
    const CliRun run = expectRun({"demo"});
    for (const char* step :
         {"kysnap check", "kysnap prepare", "kysnap snap", "kysnap map", "kysnap list",
          "kysnap unmap", "kysnap reconcile", "kysnap delete", "== summary: lifecycle complete",
          "REST requests to the array: ", "createSnapshots", "TLS connections: "}) {
        EXPECT_NE(run.out.find(step), std::string::npos) << step << "\n" << run.out;
    }
    EXPECT_EQ(run.out.find("FAIL"), std::string::npos) << run.out;
    EXPECT_TRUE(emptyDirectory(temporary)) << "the demo left files behind";
}

TEST_F(KysnapDemo, CtrlCStopsItAndLeavesNothingBehind) {
    const std::string temporary = path("tmp");
    mkdir(temporary.c_str(), 0700);
    runner->environment["TMPDIR"] = temporary;
    const pid_t demo = runner->start({"demo"}, 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (readFile(path("out.1")).find("array simulator on") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(demo, SIGINT);
    const CliRun run = runner->finish(demo, 1);
    EXPECT_EQ(run.status, 130) << run.out << run.err;
    EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
    EXPECT_TRUE(emptyDirectory(temporary)) << "the demo left files behind";
}

}  // namespace
}  // namespace kysnap_test
