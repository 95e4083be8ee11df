// TestSnapInfo: an in-memory host request. It answers from the values a test (or the CLI)
// puts in its public fields, follows the buffer-get convention exactly, records everything
// the plug-in writes and logs, and can be scripted to answer any operation unusually.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "SnapInfo.h"

namespace testhost {

// The operations of a request, for scripting and call counts.
enum class SnapOp {
    GetSnapUUID,
    GetArrayInfo,
    FindArrayHost,
    GetHostIdentifier,
    CheckOption,
    GetSnapStatus,
    GetDevice,
    GetSnapDevice,
    GetMetaData,
    GetTransMetaData,  // getMetaData of kind 102
    GetConfigInt,
    GetConfigString,
    GetSnapProperty,
    GetInquiryData,
};

// A scripted answer: the value returned, and for buffer-gets the size written back (when set).
struct ScriptedAnswer {
    int32_t answer = 1;
    std::optional<int16_t> size;
};

struct LogLine {
    int32_t level;
    std::string header;
    std::string text;
};

struct ErrorReport {
    int32_t code;
    std::string message;
};

// A metadata write; `cleared` when the plug-in passed null.
struct MetaDataWrite {
    int32_t kind;
    std::string text;
    bool cleared;
};

class TestSnapInfo : public KYSO::SnapInfo {
public:
    TestSnapInfo() = default;

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

    // ---- scripting ----
    // The next call of `op` answers `answer` (and, for buffer-gets, writes `size` back when
    // given) instead of the normal answer. Scripts queue up and are used in order.
    void script(SnapOp op, int32_t answer, std::optional<int16_t> size = std::nullopt);
    // The next `times` calls of `op` fail with answer 1 (null for getInquiryData).
    void failNext(SnapOp op, int times = 1);
    int callCount(SnapOp op) const;

    // True when a line whose text contains `fragment` was logged (at `level`, when given).
    bool logged(const std::string& fragment, std::optional<int32_t> level = std::nullopt) const;
    // All log text, one line per entry, for assertion messages.
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

private:
    std::optional<ScriptedAnswer> takeScript(SnapOp op);
    void count(SnapOp op);
    int32_t bufferGet(SnapOp op, const std::string& value, char* buf, int16_t& size);

    std::map<SnapOp, std::deque<ScriptedAnswer>> scripts_;
    std::map<SnapOp, int> calls_;
};

// Copies `value` into (buf, size) by the buffer-get convention: 0 when it fits with its NUL,
// otherwise 2 with `size` set to the size needed. Shared by the fake request and OS utility.
int32_t answerBufferGet(const std::string& value, char* buf, int16_t& size);

}  // namespace testhost
