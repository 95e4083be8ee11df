// SPDX-License-Identifier: Apache-2.0
// TestSnapInfo: the in-memory host request of the tests. It is hostkit::HostRequest (values in
// public fields, the buffer-get convention, everything the plug-in writes and logs recorded)
// plus scripting: any operation can be told to answer unusually, and calls are counted.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "BufferAnswers.h"
#include "HostRequest.h"

namespace testhost {

using hostkit::ErrorReport;
using hostkit::LogLine;
using hostkit::MetaDataWrite;

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
    SetMetaData,
};

// A scripted answer: the value returned, and for buffer-gets the size written back (when set);
// or, with `outOfMemory`, a std::bad_alloc thrown instead of any answer.
struct ScriptedAnswer {
    int32_t answer = 1;
    std::optional<int16_t> size;
    bool outOfMemory = false;
};

class TestSnapInfo : public hostkit::HostRequest {
public:
    TestSnapInfo() = default;

    // ---- scripting ----
    // The next call of `op` answers `answer` (and, for buffer-gets, writes `size` back when
    // given) instead of the normal answer. Scripts queue up and are used in order.
    void script(SnapOp op, int32_t answer, std::optional<int16_t> size = std::nullopt);
    // The next `times` calls of `op` fail with answer 1 (null for getInquiryData).
    void failNext(SnapOp op, int times = 1);
    // The next call of `op` throws std::bad_alloc, as a host out of memory would, and does
    // nothing else (a write is not recorded).
    void runOutOfMemoryNext(SnapOp op);
    int callCount(SnapOp op) const;

    // ---- KYSO::SnapInfo, scripted ----
    int32_t getSnapUUID(char* buf, int16_t& size) override;
    int32_t getArrayInfo(char* buf, int16_t& size) override;
    int32_t findArrayHost(const char* target) override;
    int32_t getHostIdentifier(char* buf, int16_t& size) override;
    int32_t checkOption(uint32_t mask) override;
    int32_t getSnapStatus() override;
    int32_t getDevice(char* buf, int16_t& size) override;
    int32_t getSnapDevice(char* buf, int16_t& size) override;
    int32_t getMetaData(int32_t kind, char* buf, int16_t& size) override;
    int32_t getConfigInt(const char* name, int32_t& value) override;
    int32_t getConfigString(const char* name, char* buf, int16_t& size) override;
    int32_t getSnapProperty(int32_t id, std::string& value) override;
    const unsigned char* getInquiryData(int32_t page) override;
    void setMetaData(int32_t kind, const char* text) override;

private:
    // The next scripted answer of `op`, if any; throws std::bad_alloc for an out-of-memory one.
    std::optional<ScriptedAnswer> takeScript(SnapOp op);
    void count(SnapOp op);
    // Counts `op`, then answers from its script if one is queued (writing a scripted size back),
    // else returns nothing so the caller answers normally.
    std::optional<int32_t> scripted(SnapOp op, int16_t& size);

    std::map<SnapOp, std::deque<ScriptedAnswer>> scripts_;
    std::map<SnapOp, int> calls_;
};

// Copies `value` into (buf, size) by the buffer-get convention: 0 when it fits with its NUL,
// otherwise 2 with `size` set to the size needed.
using hostkit::answerBufferGet;

}  // namespace testhost
