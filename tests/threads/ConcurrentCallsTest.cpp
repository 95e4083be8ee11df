// SPDX-License-Identifier: Apache-2.0
// A host may call the plug-in from several threads at once, one call per thread. Two threads
// each run whole lifecycles (prepare, snap, map, unmap, delete) on their own volume through the
// dlopen'ed plug-in, against one array simulator, entering each call together. Each thread has
// its own requests and OS utility; they share the simulator, the simulated devices and the
// plug-in. Under ThreadSanitizer (`make test-thread`) this shows that the plug-in and its
// platform library keep no unguarded state between calls of different threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ArraySite.h"
#include "EvDebug.h"
#include "EvDebugSink.h"
#include "LMSleep.h"
#include "LoadedPlugin.h"
#include "Sleeper.h"

namespace {

using testhost::TestSnapInfo;

// Waits are counted, not slept; the threads wait at the same time.
class CountingSleeper : public kyplatform::Sleeper {
public:
    CountingSleeper() : previous_(kyplatform::setSleeper(this)) {}
    ~CountingSleeper() override { kyplatform::setSleeper(previous_); }
    void sleepMs(unsigned int) override { ++waits; }
    std::atomic<int> waits{0};

private:
    kyplatform::Sleeper* previous_;
};

// Keeps the debug log's lines, from any thread.
class LockedDebugSink : public kyplatform::EvDebugSink {
public:
    LockedDebugSink() : previous_(kyplatform::setEvDebugSink(this)) {}
    ~LockedDebugSink() override { kyplatform::setEvDebugSink(previous_); }
    void write(int, const std::string&, const std::string& message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(message);
    }
    size_t count(const std::string& message) {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<size_t>(std::count(messages_.begin(), messages_.end(), message));
    }

private:
    kyplatform::EvDebugSink* previous_;
    std::mutex mutex_;
    std::vector<std::string> messages_;
};

// Lets the threads enter each exported call together, so that their calls overlap.
class StepBarrier {
public:
    explicit StepBarrier(int parties) : parties_(parties) {}
    void arriveAndWait() {
        std::unique_lock<std::mutex> lock(mutex_);
        const int generation = generation_;
        if (++waiting_ == parties_) {
            waiting_ = 0;
            ++generation_;
            released_.notify_all();
            return;
        }
        released_.wait(lock, [&] { return generation != generation_; });
    }

private:
    const int parties_;
    int waiting_ = 0;
    int generation_ = 0;
    std::mutex mutex_;
    std::condition_variable released_;
};

class ConcurrentCalls : public ::testing::Test, public site::ArraySite {
protected:
    // One host thread: its own OS utility, seeing the site's devices, and its own request.
    struct HostThread {
        testhost::TestOSUtil util;
        std::deque<TestSnapInfo> requests;
        std::ostringstream failures;
    };

    void configure(HostThread& thread) {
        thread.util.arrayNames = util.arrayNames;
        thread.util.arrayInfoByName = util.arrayInfoByName;
        thread.util.localInitiators = util.localInitiators;
        thread.util.devices = util.devices;
        // The simulated host is one machine: its rescans are serialised, each thread reads
        // the device list the rescan left.
        thread.util.onRescan = [this, &thread](const testhost::RescanRecord&) {
            std::lock_guard<std::mutex> lock(rescanMutex_);
            std::string error;
            if (!host->rescan(error)) {
                thread.failures << "rescan failed: " << error << "\n";
            }
            thread.util.devices[""] = host->deviceNames();
        };
    }

    // Runs the lifecycle of `lun` under snapshot name `snapId` on `thread`. After a failure
    // the thread still meets the other at every step, and calls nothing more.
    void lifecycle(HostThread& thread, const site::SiteArray& array, const char* lun,
                   const std::string& snapId) {
        thread.requests.emplace_back();
        TestSnapInfo& request = thread.requests.back();
        request.arrayInfo = arrayInfo(array);
        request.device = simhost::SimulatedHost::deviceName(lun);
        request.snapUUID = snapId;
        request.findArrayHostDefault = 0;
        request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
        request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = 1;
        const std::vector<TestSnapInfo*> batch = {&request};
        const std::pair<const char*, int32_t> steps[] = {
            {"kyso_prepareDevices", KYSO::SNAP_PREPARED}, {"kyso_snapDevices", KYSO::SNAP_CREATED},
            {"kyso_mapSnaps", KYSO::SNAP_MOUNTED},        {"kyso_unmapSnaps", KYSO::SNAP_UNMOUNTED},
            {"kyso_deleteSnaps", KYSO::SNAP_DELETED},
        };
        // A call the plug-in refuses before touching a request writes the debug log.
        together_.arriveAndWait();
        if (plugin.batch("kyso_prepareDevices", batch, nullptr) != KYSO::RESULT_FAILED) {
            thread.failures << "a call without an OS utility was not refused\n";
        }
        bool failed = false;
        for (const auto& [name, status] : steps) {
            together_.arriveAndWait();
            if (failed) {
                continue;
            }
            const KYSO::ResultCode result = plugin.batch(name, batch, &thread.util);
            if (result != KYSO::RESULT_SUCCESS || request.status != status) {
                thread.failures << name << " gave result " << result << " status " << request.status
                                << "\n"
                                << request.logText();
                failed = true;
                continue;
            }
            carryOver(batch);
            if (std::string(name) == "kyso_mapSnaps") {
                request.snapDevice = request.snapDevicesSet.back();
            } else if (std::string(name) == "kyso_unmapSnaps") {
                request.snapDevice.clear();
            }
        }
    }

    site::LoadedPlugin plugin;
    CountingSleeper sleeper;
    LockedDebugSink debugLog;
    std::mutex rescanMutex_;
    StepBarrier together_{2};
};

TEST_F(ConcurrentCalls, TwoThreadsRunWholeLifecyclesOnDifferentVolumesAtOnce) {
    ASSERT_TRUE(plugin.loaded()) << dlerror();
    site::SiteArray& array = startArray("arr");
    hostWith({{site::kDbHostPort, false}});

    HostThread first;
    HostThread second;
    configure(first);
    configure(second);
    // Two lifecycles each: the second ones start after the first calls' clients and scopes
    // are gone on both threads.
    std::thread a([&] {
        lifecycle(first, array, site::kOraData, "KY-20261209T024100Z-A1");
        lifecycle(first, array, site::kOraData, "KY-20261209T024100Z-A2");
    });
    std::thread b([&] {
        lifecycle(second, array, site::kOraLogs, "KY-20261209T024100Z-B1");
        lifecycle(second, array, site::kOraLogs, "KY-20261209T024100Z-B2");
    });
    a.join();
    b.join();

    EXPECT_EQ(first.failures.str(), "");
    EXPECT_EQ(second.failures.str(), "");
    EXPECT_EQ(debugLog.count("Snap util object is null"), 4u);
    // Both threads cleaned up after themselves: no clone, mapping or snapshot of theirs left.
    const std::string whole = state(array).json();
    EXPECT_EQ(whole.find("MNT_KY-"), std::string::npos) << whole;
    EXPECT_EQ(whole.find("Manual-V-KY-"), std::string::npos) << whole;
}

}  // namespace
