// SPDX-License-Identifier: Apache-2.0
// How long `kysnap snap --freeze` keeps a filesystem frozen: from the first FIFREEZE to the end
// of the thaw, around the plug-in's batch create of N volumes on one array that answers as a
// real one might (20 ms per request, 50 us per object a listing answers with: the lifecycle
// benchmark's model). The freeze is kysnap's own, watchdog included, on an ext4 filesystem of
// a loop device; the volumes are prepared before and deleted after, outside the time. Needs
// root and a loop device; it says so and measures nothing otherwise.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FreezeWatchdog.h"
#include "ScaleSite.h"

namespace {

constexpr int kRequestMs = 20;
constexpr int kPerListedUs = 50;

// An ext4 filesystem on a loop device, mounted in a directory of its own for the benchmark.
class LoopFilesystem {
public:
    LoopFilesystem() {
        char pattern[] = "/tmp/kysnap-freeze-bench-XXXXXX";
        if (geteuid() != 0 || access("/dev/loop-control", F_OK) != 0 ||
            mkdtemp(pattern) == nullptr) {
            return;
        }
        directory_ = pattern;
        mount_ = directory_ + "/mnt";
        const std::string image = directory_ + "/ext4.img";
        if (mkdir(mount_.c_str(), 0755) != 0 ||
            run("truncate -s 64M " + image + " && mkfs.ext4 -q -F " + image) != 0) {
            return;
        }
        FILE* pipe = popen(("losetup --find --show " + image).c_str(), "r");
        char line[128] = {};
        if (pipe != nullptr && fgets(line, sizeof line, pipe) != nullptr) {
            loop_ = std::string(line).substr(0, std::string(line).find('\n'));
        }
        if (pipe != nullptr) {
            pclose(pipe);
        }
        mounted_ = !loop_.empty() && run("mount -t ext4 " + loop_ + " " + mount_) == 0;
    }
    ~LoopFilesystem() {
        if (mounted_) {
            run("umount " + mount_);
        }
        if (!loop_.empty()) {
            run("losetup -d " + loop_);
        }
        if (!directory_.empty()) {
            run("rm -rf " + directory_);
        }
    }
    bool ready() const { return mounted_; }
    const std::string& mountPoint() const { return mount_; }

private:
    static int run(const std::string& command) { return std::system(command.c_str()); }
    std::string directory_;
    std::string mount_;
    std::string loop_;
    bool mounted_ = false;
};

void FrozenDuringBatchCreate(benchmark::State& state) {
    LoopFilesystem filesystem;
    if (!filesystem.ready()) {
        state.SkipWithError("needs root, a loop device and mkfs.ext4");
        return;
    }
    const int volumes = static_cast<int>(state.range(0));
    bench::ScaleSite site(1, volumes);
    if (!site.ready()) {
        state.SkipWithError(site.error().c_str());
        return;
    }
    site.modelArrayLatency(kRequestMs, kPerListedUs);
    double frozen = 0;
    double worst = 0;
    int round = 0;
    for (auto _ : state) {
        const bench::Batch batch = site.requests("KY-FREEZE" + std::to_string(++round));
        if (site.call("kyso_prepareDevices", batch).result != KYSO::RESULT_SUCCESS) {
            state.SkipWithError("prepare failed");
            return;
        }
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        auto watchdog = kysnap::FreezeWatchdog::start({filesystem.mountPoint()},
                                                      std::chrono::seconds(10), error);
        if (!watchdog || !watchdog->freeze(error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        const bench::CallFigures created = site.call("kyso_snapDevices", batch);
        std::vector<std::string> problems;
        const kysnap::FreezeEnd end = watchdog->thaw(problems);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (created.result != KYSO::RESULT_SUCCESS || end != kysnap::FreezeEnd::Held ||
            !problems.empty()) {
            state.SkipWithError("the create failed or the freeze did not hold");
            return;
        }
        state.SetIterationTime(seconds);
        frozen += seconds;
        worst = seconds > worst ? seconds : worst;
        site.call("kyso_deleteSnaps", batch);
    }
    state.counters["frozen_ms"] =
        benchmark::Counter(frozen * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["worst_frozen_ms"] = benchmark::Counter(worst * 1e3);
    state.counters["volumes"] = volumes;
}

}  // namespace

BENCHMARK(FrozenDuringBatchCreate)
    ->Arg(1)
    ->Arg(16)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

BENCHMARK_MAIN();
