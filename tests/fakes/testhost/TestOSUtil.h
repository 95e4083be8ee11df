// TestOSUtil: an in-memory host OS utility. Device lists, configured arrays and initiators
// come from its public fields; rescans are recorded; any operation can be scripted to answer
// unusually.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "KYOSUtil.h"

namespace testhost {

enum class UtilOp {
    RefreshBus,
    GetDeviceList,
    GetArrayListByID,
    GetLocalHbaList,
    GetArrayInfoByName,
    GetRemoteHbaList,
};

// An initiator of a host bus adapter: its name and whether it is iSCSI (flag byte 1).
struct Initiator {
    std::string name;
    bool iscsi = false;
};

struct RescanRecord {
    std::string host;  // empty for the local host
    std::vector<std::string> initiators;
    std::vector<std::string> devices;
};

class TestOSUtil : public KYSO::KYOSUtil {
public:
    // ---- inputs ----
    // Devices the host sees, per host name ("" = local). `devicesAfterRescan`, when set, is
    // what the device list becomes after each rescan (consumed in order).
    std::map<std::string, std::vector<std::string>> devices;
    std::deque<std::map<std::string, std::vector<std::string>>> devicesAfterRescan;
    std::vector<std::string> arrayNames;                 // in the order configured
    std::map<std::string, std::string> arrayInfoByName;  // name -> key-value text
    std::vector<Initiator> localInitiators;
    std::map<std::string, std::vector<Initiator>> remoteInitiators;  // ESX host -> initiators
    bool refreshBusAnswer = true;
    // Called on every rescan after the record is made (the CLI's simulated host hooks it).
    std::function<void(const RescanRecord&)> onRescan;

    // ---- outputs ----
    std::vector<RescanRecord> rescans;
    std::vector<std::string> deviceListQueries;  // host of each getDeviceList ("" = local)

    // ---- scripting ----
    // The next call of `op` answers `answer`; for size-reporting operations `size` is written
    // back when given.
    void script(UtilOp op, int32_t answer, std::optional<int32_t> size = std::nullopt);
    int callCount(UtilOp op) const;

    // ---- KYSO::KYOSUtil ----
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

private:
    struct Scripted {
        int32_t answer;
        std::optional<int32_t> size;
    };
    std::optional<Scripted> takeScript(UtilOp op);
    int32_t hbaList(const std::vector<Initiator>& list, char* names, int16_t& namesLength,
                    char* flags, int16_t& flagsLength, int16_t& count);

    std::map<UtilOp, std::deque<Scripted>> scripts_;
    std::map<UtilOp, int> calls_;
};

// Joins `values`, each followed by nothing but `separator` between them.
std::string joinValues(const std::vector<std::string>& values, char separator);

}  // namespace testhost
