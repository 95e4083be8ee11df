// SPDX-License-Identifier: Apache-2.0
// TestOSUtil: the in-memory host OS utility of the tests. It is hostkit::HostUtil (the
// conventions, configured arrays, rescans and device-list queries recorded) answering from
// public fields: the devices, per host, and the initiators. Any operation can be scripted to
// answer unusually, and calls are counted.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "BufferAnswers.h"
#include "HostUtil.h"

namespace testhost {

using hostkit::Initiator;
using hostkit::joinValues;
using hostkit::RescanRecord;

enum class UtilOp {
    RefreshBus,
    GetDeviceList,
    GetArrayListByID,
    GetLocalHbaList,
    GetArrayInfoByName,
    GetRemoteHbaList,
};

class TestOSUtil : public hostkit::HostUtil {
public:
    // ---- inputs ----
    // Devices the host sees, per host name ("" = local). `devicesAfterRescan`, when set, is
    // what the device list becomes after each rescan (consumed in order).
    std::map<std::string, std::vector<std::string>> devices;
    std::deque<std::map<std::string, std::vector<std::string>>> devicesAfterRescan;
    std::vector<Initiator> localInitiators;
    std::map<std::string, std::vector<Initiator>> remoteInitiators;  // ESX host -> initiators
    bool refreshBusAnswer = true;
    // Called on every rescan after the record is made (a simulated host hooks it).
    std::function<void(const RescanRecord&)> onRescan;

    // ---- scripting ----
    // The next call of `op` answers `answer`; for size-reporting operations `size` is written
    // back when given.
    void script(UtilOp op, int32_t answer, std::optional<int32_t> size = std::nullopt);
    int callCount(UtilOp op) const;

    // ---- KYSO::KYOSUtil, scripted ----
    bool refreshBus(const char* host, const char** initiators, const char** devices) override;
    int32_t getDeviceList(const char* host, const char* vendor, char separator, int32_t size,
                          char* buf) override;
    int32_t getArrayListByID(const char* arrayType, char separator, int32_t size,
                             char* buf) override;
    int32_t getLocalHbaList(const char* reserved, const char* arrayHost, char* names,
                            int16_t& namesLength, char* flags, int16_t& flagsLength,
                            int16_t& count) override;
    int32_t getArrayInfoByName(const char* arrayName, char* buf, int16_t& size) override;
    int32_t getRemoteHbaList(const char* esxHost, const char* arrayHost, char* names,
                             int16_t& namesLength, char* flags, int16_t& flagsLength,
                             int16_t& count) override;

protected:
    bool rescan(const RescanRecord& record) override;
    bool listDevices(const std::string& host, const std::string& vendor,
                     std::vector<std::string>& names) override;
    bool listLocalInitiators(std::vector<Initiator>& initiators) override;
    bool listRemoteInitiators(const std::string& esxHost,
                              std::vector<Initiator>& initiators) override;

private:
    struct Scripted {
        int32_t answer;
        std::optional<int32_t> size;
    };
    std::optional<Scripted> takeScript(UtilOp op);

    std::map<UtilOp, std::deque<Scripted>> scripts_;
    std::map<UtilOp, int> calls_;
};

}  // namespace testhost
