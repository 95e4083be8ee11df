#include "TestSnapInfo.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

namespace testhost {

int32_t answerBufferGet(const std::string& value, char* buf, int16_t& size) {
    const size_t needed = value.size() + 1;
    if (needed > static_cast<size_t>(std::numeric_limits<int16_t>::max())) {
        return KYSO::BUFFER_FAILED;  // the convention cannot express this size
    }
    if (buf == nullptr || size < 0 || static_cast<size_t>(size) < needed) {
        size = static_cast<int16_t>(needed);
        return KYSO::BUFFER_TOO_SMALL;
    }
    std::memcpy(buf, value.c_str(), needed);
    return KYSO::BUFFER_OK;
}

void TestSnapInfo::script(SnapOp op, int32_t answer, std::optional<int16_t> size) {
    scripts_[op].push_back(ScriptedAnswer{answer, size});
}

void TestSnapInfo::failNext(SnapOp op, int times) {
    for (int i = 0; i < times; ++i) {
        script(op, KYSO::BUFFER_FAILED);
    }
}

int TestSnapInfo::callCount(SnapOp op) const {
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
}

bool TestSnapInfo::logged(const std::string& fragment, std::optional<int32_t> level) const {
    for (const LogLine& line : logLines) {
        if (line.text.find(fragment) != std::string::npos && (!level || *level == line.level)) {
            return true;
        }
    }
    return false;
}

std::string TestSnapInfo::logText() const {
    std::string text;
    for (const LogLine& line : logLines) {
        text += std::to_string(line.level) + " " + line.header + " " + line.text + "\n";
    }
    return text;
}

std::optional<ScriptedAnswer> TestSnapInfo::takeScript(SnapOp op) {
    auto it = scripts_.find(op);
    if (it == scripts_.end() || it->second.empty()) {
        return std::nullopt;
    }
    ScriptedAnswer answer = it->second.front();
    it->second.pop_front();
    return answer;
}

void TestSnapInfo::count(SnapOp op) {
    ++calls_[op];
}

int32_t TestSnapInfo::bufferGet(SnapOp op, const std::string& value, char* buf, int16_t& size) {
    count(op);
    if (auto scripted = takeScript(op)) {
        if (scripted->size) {
            size = *scripted->size;
        }
        return scripted->answer;
    }
    return answerBufferGet(value, buf, size);
}

int32_t TestSnapInfo::getSnapUUID(char* buf, int16_t& size) {
    return bufferGet(SnapOp::GetSnapUUID, snapUUID, buf, size);
}

int32_t TestSnapInfo::getArrayInfo(char* buf, int16_t& size) {
    return bufferGet(SnapOp::GetArrayInfo, arrayInfo, buf, size);
}

int32_t TestSnapInfo::findArrayHost(const char* target) {
    count(SnapOp::FindArrayHost);
    const std::string text = target != nullptr ? target : "";
    findArrayHostQueries.push_back(text);
    if (auto scripted = takeScript(SnapOp::FindArrayHost)) {
        return scripted->answer;
    }
    auto it = findArrayHostAnswers.find(text);
    return it == findArrayHostAnswers.end() ? findArrayHostDefault : it->second;
}

int32_t TestSnapInfo::getHostIdentifier(char* buf, int16_t& size) {
    return bufferGet(SnapOp::GetHostIdentifier, hostIdentifier, buf, size);
}

int32_t TestSnapInfo::checkOption(uint32_t mask) {
    count(SnapOp::CheckOption);
    if (auto scripted = takeScript(SnapOp::CheckOption)) {
        return scripted->answer;
    }
    return (options & mask) != 0 ? 1 : 0;
}

int32_t TestSnapInfo::getSnapStatus() {
    count(SnapOp::GetSnapStatus);
    if (auto scripted = takeScript(SnapOp::GetSnapStatus)) {
        return scripted->answer;
    }
    return status;
}

void TestSnapInfo::setSnapStatus(int32_t value) {
    status = value;
    statusHistory.push_back(value);
}

int32_t TestSnapInfo::getDevice(char* buf, int16_t& size) {
    return bufferGet(SnapOp::GetDevice, device, buf, size);
}

int32_t TestSnapInfo::getSnapDevice(char* buf, int16_t& size) {
    return bufferGet(SnapOp::GetSnapDevice, snapDevice, buf, size);
}

void TestSnapInfo::setSnapDevice(const char* name) {
    snapDevice = name != nullptr ? name : "";
    snapDevicesSet.push_back(snapDevice);
}

int32_t TestSnapInfo::getMetaData(int32_t kind, char* buf, int16_t& size) {
    if (kind == KYSO::META_TRANS) {
        return bufferGet(SnapOp::GetTransMetaData, transMetaData, buf, size);
    }
    if (kind == KYSO::META_SNAPSHOT) {
        return bufferGet(SnapOp::GetMetaData, metaData, buf, size);
    }
    count(SnapOp::GetMetaData);
    return KYSO::BUFFER_FAILED;
}

void TestSnapInfo::setMetaData(int32_t kind, const char* text) {
    metaDataWrites.push_back(MetaDataWrite{kind, text != nullptr ? text : "", text == nullptr});
    if (kind == KYSO::META_SNAPSHOT) {
        metaData = text != nullptr ? text : "";
    }
}

void TestSnapInfo::setError(int32_t code, const char* message) {
    errors.push_back(ErrorReport{code, message != nullptr ? message : ""});
}

void TestSnapInfo::log(int32_t level, const char* header, const char* format, ...) {
    std::string text;
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        va_list copy;
        va_copy(copy, args);
        const int needed = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (needed > 0) {
            text.resize(static_cast<size_t>(needed) + 1);
            std::vsnprintf(text.data(), text.size(), format, args);
            text.resize(static_cast<size_t>(needed));
        }
        va_end(args);
    }
    logLines.push_back(LogLine{level, header != nullptr ? header : "", text});
    if (echoLog) {
        std::fprintf(stderr, "[%d] %s %s\n", level, logLines.back().header.c_str(), text.c_str());
    }
}

int32_t TestSnapInfo::getConfigInt(const char* name, int32_t& value) {
    count(SnapOp::GetConfigInt);
    if (auto scripted = takeScript(SnapOp::GetConfigInt)) {
        return scripted->answer;
    }
    auto it = configInts.find(name != nullptr ? name : "");
    if (it == configInts.end()) {
        return 1;
    }
    value = it->second;
    return 0;
}

int32_t TestSnapInfo::getConfigString(const char* name, char* buf, int16_t& size) {
    count(SnapOp::GetConfigString);
    if (auto scripted = takeScript(SnapOp::GetConfigString)) {
        if (scripted->size) {
            size = *scripted->size;
        }
        return scripted->answer;
    }
    auto it = configStrings.find(name != nullptr ? name : "");
    if (it == configStrings.end()) {
        return 1;
    }
    return answerBufferGet(it->second, buf, size);
}

void TestSnapInfo::setTransMetaData(int32_t kind, const char* text) {
    transMetaDataWrites.push_back(
        MetaDataWrite{kind, text != nullptr ? text : "", text == nullptr});
    if (kind == KYSO::META_TRANS) {
        transMetaData = text != nullptr ? text : "";
    }
}

int32_t TestSnapInfo::getSnapId() {
    return snapId;
}

int32_t TestSnapInfo::getSnapProperty(int32_t id, std::string& value) {
    count(SnapOp::GetSnapProperty);
    if (auto scripted = takeScript(SnapOp::GetSnapProperty)) {
        return scripted->answer;
    }
    auto it = snapProperties.find(id);
    if (it == snapProperties.end()) {
        return 0;
    }
    value = it->second;
    return 1;
}

const unsigned char* TestSnapInfo::getInquiryData(int32_t page) {
    count(SnapOp::GetInquiryData);
    if (auto scripted = takeScript(SnapOp::GetInquiryData)) {
        return nullptr;
    }
    auto it = inquiryData.find(page);
    if (it == inquiryData.end()) {
        return nullptr;
    }
    it->second.resize(255, 0);  // the host always holds a whole 255-byte buffer
    return it->second.data();
}

void TestSnapInfo::setTargetId(const char* targetId) {
    targetIdsSet.push_back(targetId != nullptr ? targetId : "");
}

void TestSnapInfo::setLunId(const char* lunId) {
    lunIdsSet.push_back(lunId != nullptr ? lunId : "");
}

}  // namespace testhost
