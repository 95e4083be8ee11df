// SPDX-License-Identifier: Apache-2.0
#include "HostUtil.h"

#include "BufferAnswers.h"
#include "KYSOTypes.h"

namespace hostkit {

namespace {

std::vector<std::string> toVector(const char** list) {
    std::vector<std::string> values;
    for (; list != nullptr && *list != nullptr; ++list) {
        values.emplace_back(*list);
    }
    return values;
}

}  // namespace

bool HostUtil::refreshBus(const char* host, const char** initiators, const char** devices) {
    rescans.push_back(
        RescanRecord{host != nullptr ? host : "", toVector(initiators), toVector(devices)});
    return rescan(rescans.back());
}

int32_t HostUtil::getDeviceList(const char* host, const char* vendor, char separator, int32_t size,
                                char* buf) {
    const std::string name = host != nullptr ? host : "";
    deviceListQueries.push_back(name);
    std::vector<std::string> names;
    if (!listDevices(name, vendor != nullptr ? vendor : "", names)) {
        return -1;
    }
    return answerSizedList(joinValues(names, separator), size, buf);
}

int32_t HostUtil::getArrayListByID(const char* /*arrayType*/, char separator, int32_t size,
                                   char* buf) {
    return answerSizedList(joinValues(arrayNames, separator), size, buf);
}

int32_t HostUtil::getLocalHbaList(const char* /*reserved*/, const char* /*arrayHost*/, char* names,
                                  int16_t& namesLength, char* flags, int16_t& flagsLength,
                                  int16_t& count) {
    std::vector<Initiator> initiators;
    if (!listLocalInitiators(initiators)) {
        initiators.clear();
    }
    return answerHbaList(initiators, names, namesLength, flags, flagsLength, count);
}

int32_t HostUtil::getArrayInfoByName(const char* arrayName, char* buf, int16_t& size) {
    auto it = arrayInfoByName.find(arrayName != nullptr ? arrayName : "");
    if (it == arrayInfoByName.end()) {
        return -1;
    }
    const int32_t answer = answerBufferGet(it->second, buf, size);
    // The OS utility reports "too small" as a positive answer with the size written back.
    return answer == KYSO::BUFFER_TOO_SMALL ? size : (answer == KYSO::BUFFER_OK ? 0 : -1);
}

int32_t HostUtil::getRemoteHbaList(const char* esxHost, const char* /*arrayHost*/, char* names,
                                   int16_t& namesLength, char* flags, int16_t& flagsLength,
                                   int16_t& count) {
    std::vector<Initiator> initiators;
    if (!listRemoteInitiators(esxHost != nullptr ? esxHost : "", initiators)) {
        initiators.clear();
    }
    return answerHbaList(initiators, names, namesLength, flags, flagsLength, count);
}

bool HostUtil::listRemoteInitiators(const std::string& /*esxHost*/,
                                    std::vector<Initiator>& /*initiators*/) {
    return false;
}

}  // namespace hostkit
