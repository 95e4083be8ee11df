// SPDX-License-Identifier: Apache-2.0
// InProcessArrays: simulated arrays answered by a direct call into the simulator's request
// handling, without HTTP, TLS or a server thread. Each is known by the host text the plug-in
// puts in its URLs ("name:port").
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SimulatedDevices.h"
#include "SimulatorState.h"
#include "jsonxx.h"

namespace bench {

class InProcessArrays {
public:
    // Adds the array at `host` with the given seed; false with `error` set when it is refused.
    bool add(const std::string& host, const jsonxx::Object& seed, std::string& error);

    // Answers POST /zebi/api/v2/<method> as the array at `host` would. False when no array is
    // there.
    bool answer(const std::string& host, const std::string& method, const std::string& body,
                const std::string& authorization, int& status, std::string& response);

    // The devices a host with these initiators sees now, by device name, over all arrays.
    std::map<std::string, simhost::SimulatedDevice> devicesFor(
        const std::vector<std::string>& initiators);

private:
    std::map<std::string, std::unique_ptr<arraysim::SimulatorState>> arrays_;
};

}  // namespace bench
