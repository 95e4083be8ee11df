// SPDX-License-Identifier: Apache-2.0
#include "TestOSUtil.h"

namespace testhost {

void TestOSUtil::script(UtilOp op, int32_t answer, std::optional<int32_t> size) {
    scripts_[op].push_back(Scripted{answer, size});
}

int TestOSUtil::callCount(UtilOp op) const {
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
}

std::optional<TestOSUtil::Scripted> TestOSUtil::takeScript(UtilOp op) {
    ++calls_[op];
    auto it = scripts_.find(op);
    if (it == scripts_.end() || it->second.empty()) {
        return std::nullopt;
    }
    Scripted answer = it->second.front();
    it->second.pop_front();
    return answer;
}

bool TestOSUtil::refreshBus(const char* host, const char** initiators, const char** devices) {
    auto scripted = takeScript(UtilOp::RefreshBus);
    const bool done = HostUtil::refreshBus(host, initiators, devices);
    return scripted ? scripted->answer != 0 : done;
}

bool TestOSUtil::rescan(const RescanRecord& record) {
    if (!devicesAfterRescan.empty()) {
        for (auto& [name, list] : devicesAfterRescan.front()) {
            this->devices[name] = list;
        }
        devicesAfterRescan.pop_front();
    }
    if (onRescan) {
        onRescan(record);
    }
    return refreshBusAnswer;
}

int32_t TestOSUtil::getDeviceList(const char* host, const char* vendor, char separator,
                                  int32_t size, char* buf) {
    if (auto scripted = takeScript(UtilOp::GetDeviceList)) {
        deviceListQueries.push_back(host != nullptr ? host : "");
        return scripted->answer;
    }
    return HostUtil::getDeviceList(host, vendor, separator, size, buf);
}

bool TestOSUtil::listDevices(const std::string& host, const std::string& /*vendor*/,
                             std::vector<std::string>& names) {
    auto it = devices.find(host);
    if (it != devices.end()) {
        names = it->second;
    }
    return true;
}

int32_t TestOSUtil::getArrayListByID(const char* arrayType, char separator, int32_t size,
                                     char* buf) {
    if (auto scripted = takeScript(UtilOp::GetArrayListByID)) {
        return scripted->answer;
    }
    return HostUtil::getArrayListByID(arrayType, separator, size, buf);
}

int32_t TestOSUtil::getLocalHbaList(const char* reserved, const char* arrayHost, char* names,
                                    int16_t& namesLength, char* flags, int16_t& flagsLength,
                                    int16_t& count) {
    if (auto scripted = takeScript(UtilOp::GetLocalHbaList)) {
        if (scripted->size) {
            namesLength = static_cast<int16_t>(*scripted->size);
        }
        return scripted->answer;
    }
    return HostUtil::getLocalHbaList(reserved, arrayHost, names, namesLength, flags, flagsLength,
                                     count);
}

bool TestOSUtil::listLocalInitiators(std::vector<Initiator>& initiators) {
    initiators = localInitiators;
    return true;
}

int32_t TestOSUtil::getArrayInfoByName(const char* arrayName, char* buf, int16_t& size) {
    if (auto scripted = takeScript(UtilOp::GetArrayInfoByName)) {
        if (scripted->size) {
            size = static_cast<int16_t>(*scripted->size);
        }
        return scripted->answer;
    }
    return HostUtil::getArrayInfoByName(arrayName, buf, size);
}

int32_t TestOSUtil::getRemoteHbaList(const char* esxHost, const char* arrayHost, char* names,
                                     int16_t& namesLength, char* flags, int16_t& flagsLength,
                                     int16_t& count) {
    if (auto scripted = takeScript(UtilOp::GetRemoteHbaList)) {
        if (scripted->size) {
            namesLength = static_cast<int16_t>(*scripted->size);
        }
        return scripted->answer;
    }
    return HostUtil::getRemoteHbaList(esxHost, arrayHost, names, namesLength, flags, flagsLength,
                                      count);
}

bool TestOSUtil::listRemoteInitiators(const std::string& esxHost,
                                      std::vector<Initiator>& initiators) {
    auto it = remoteInitiators.find(esxHost);
    if (it != remoteInitiators.end()) {
        initiators = it->second;
    }
    return true;
}

}  // namespace testhost
