// SimulatorState: everything the simulated array keeps while it runs, shared by the REST
// endpoint, the control endpoint and the server. The model is guarded by `modelMutex`; the
// fault set and the counters lock themselves.
#pragma once

#include <functional>
#include <mutex>

#include "Counters.h"
#include "Faults.h"
#include "MethodTable.h"
#include "Model.h"

namespace arraysim {

struct SimulatorState {
    Model model;
    std::mutex modelMutex;
    FaultSet faults;
    Counters counters;
    MethodTable methods = standardMethods();
    // Called (from a server thread) when POST /control/shutdown arrives; may be empty.
    std::function<void()> onShutdownRequest;
};

}  // namespace arraysim
