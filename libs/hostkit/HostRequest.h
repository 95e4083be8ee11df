// SPDX-License-Identifier: Apache-2.0
// HostRequest: an in-memory host request (KYSO::SnapInfo). It answers from the values its
// owner puts in its public fields, follows the buffer-get convention exactly, and records
// everything the plug-in writes and logs. The test host and the kysnap CLI build on it; a
// subclass may override any operation (every one is virtual through SnapInfo).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "HostTypes.h"
#include "SnapInfo.h"

namespace hostkit {

class HostRequest : public KYSO::SnapInfo {
public:
    HostRequest() = default;

    // ---- what the host holds for the request (inputs) ----
    std::string snapUUID;
    std::string arrayInfo;
    std::string hostIdentifier;
    std::string device;
    std::string snapDevice;
    std::string metaData;       // kind 6
    std::string transMetaData;  // kind 102
    std::map<std::string, int32_t> configInts;
    std::map<std::string, std::string> configStrings;
    std::map<int32_t, std::string> snapProperties;
    std::map<int32_t, std::vector<unsigned char>> inquiryData;  // page -> 255 bytes
    // Answer of findArrayHost for a target text; absent targets answer `findArrayHostDefault`.
    std::map<std::string, int32_t> findArrayHostAnswers;
    int32_t findArrayHostDefault = 1;
    uint32_t options = 0;
    int32_t snapId = 0;
    int32_t status = 0;

    // ---- what the plug-in wrote (outputs) ----
    std::vector<LogLine> logLines;
    std::vector<int32_t> statusHistory;
    std::vector<ErrorReport> errors;
    std::vector<MetaDataWrite> metaDataWrites;
    std::vector<MetaDataWrite> transMetaDataWrites;
    std::vector<std::string> snapDevicesSet;
    std::vector<std::string> findArrayHostQueries;
    std::vector<std::string> targetIdsSet;
    std::vector<std::string> lunIdsSet;
    // Echo log lines to standard error as they arrive.
    bool echoLog = false;
    // Called with every log line as it arrives, after it is recorded.
    std::function<void(const LogLine&)> onLog;

    // True when a line whose text contains `fragment` was logged (at `level`, when given).
    bool logged(const std::string& fragment, std::optional<int32_t> level = std::nullopt) const;
    // All log text, one line per entry, for messages.
    std::string logText() const;

    // ---- KYSO::SnapInfo ----
    int32_t getSnapUUID(char* buf, int16_t& size) override;
    int32_t getArrayInfo(char* buf, int16_t& size) override;
    int32_t findArrayHost(const char* target) override;
    int32_t getHostIdentifier(char* buf, int16_t& size) override;
    int32_t checkOption(uint32_t mask) override;
    int32_t getSnapStatus() override;
    void setSnapStatus(int32_t value) override;
    int32_t getDevice(char* buf, int16_t& size) override;
    int32_t getSnapDevice(char* buf, int16_t& size) override;
    void setSnapDevice(const char* name) override;
    int32_t getMetaData(int32_t kind, char* buf, int16_t& size) override;
    void setMetaData(int32_t kind, const char* text) override;
    void setError(int32_t code, const char* message) override;
    void log(int32_t level, const char* header, const char* format, ...) override
        __attribute__((format(printf, 4, 5)));
    int32_t getConfigInt(const char* name, int32_t& value) override;
    int32_t getConfigString(const char* name, char* buf, int16_t& size) override;
    void setTransMetaData(int32_t kind, const char* text) override;
    int32_t getSnapId() override;
    int32_t getSnapProperty(int32_t id, std::string& value) override;
    const unsigned char* getInquiryData(int32_t page) override;
    void setTargetId(const char* targetId) override;
    void setLunId(const char* lunId) override;
};

}  // namespace hostkit
