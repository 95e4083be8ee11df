// SPDX-License-Identifier: Apache-2.0
// SimulatorState: everything the simulated array keeps while it runs, shared by the REST
// endpoint, the control endpoint and the server. The model is guarded by `modelMutex`; the
// fault set and the counters lock themselves.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "Counters.h"
#include "DataStore.h"
#include "Faults.h"
#include "MethodTable.h"
#include "Model.h"

namespace arraysim {

// Lets a wait inside a call (an injected latency) end at once when the simulator stops.
class StopSignal {
public:
    // Waits `ms` milliseconds, or less when stop() comes first; false when stopped.
    bool sleepFor(int ms) { return sleepForUs(static_cast<long long>(ms) * 1000); }
    bool sleepForUs(long long us) {
        std::unique_lock<std::mutex> lock(mutex_);
        return !cv_.wait_for(lock, std::chrono::microseconds(us), [this] { return stopped_; });
    }
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stopped_ = false;
};

struct SimulatorState {
    Model model;
    std::mutex modelMutex;
    FaultSet faults;
    Counters counters;
    MethodTable methods = standardMethods();
    // The array's bytes, when it keeps them (--data-dir); null otherwise. Guarded by
    // `modelMutex` with the model it mirrors.
    std::unique_ptr<DataStore> data;
    // Called (from a server thread) when POST /control/shutdown arrives; may be empty.
    std::function<void()> onShutdownRequest;
    StopSignal stopping;
};

}  // namespace arraysim
