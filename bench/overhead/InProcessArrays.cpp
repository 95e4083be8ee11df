// SPDX-License-Identifier: Apache-2.0
#include "InProcessArrays.h"

#include "ApiEndpoint.h"
#include "HostView.h"
#include "SeedLoader.h"
#include "SimulatedHost.h"

namespace bench {

bool InProcessArrays::add(const std::string& host, const jsonxx::Object& seed, std::string& error) {
    auto state = std::make_unique<arraysim::SimulatorState>();
    nlohmann::json faults;  // the seed holds none here
    if (!arraysim::loadSeed(seed.json(), state->model, faults, error)) {
        return false;
    }
    arrays_[host] = std::move(state);
    return true;
}

bool InProcessArrays::answer(const std::string& host, const std::string& method,
                             const std::string& body, const std::string& authorization, int& status,
                             std::string& response) {
    const auto it = arrays_.find(host);
    if (it == arrays_.end()) {
        return false;
    }
    const arraysim::ApiOutcome outcome =
        arraysim::handleApiRequest(*it->second, "POST", method, body, authorization);
    status = outcome.reply.status;
    response = outcome.reply.body;
    return true;
}

std::map<std::string, simhost::SimulatedDevice> InProcessArrays::devicesFor(
    const std::vector<std::string>& initiators) {
    std::map<std::string, simhost::SimulatedDevice> devices;
    for (auto& array : arrays_) {
        const std::lock_guard<std::mutex> lock(array.second->modelMutex);
        const jsonxx::Object view = arraysim::hostView(array.second->model, initiators);
        const jsonxx::Array& luns = view.get<jsonxx::Array>("luns");
        for (size_t i = 0; i < luns.size(); ++i) {
            const jsonxx::Object& lun = luns.get<jsonxx::Object>(i);
            simhost::SimulatedDevice device;
            simhost::hexBytes(lun.get<std::string>("standardInquiry"), device.standard);
            simhost::hexBytes(lun.get<std::string>("page83"), device.page83);
            devices[simhost::SimulatedHost::deviceName(lun.get<std::string>("luId"))] = device;
        }
    }
    return devices;
}

}  // namespace bench
