// SPDX-License-Identifier: Apache-2.0
#include "TestSnapInfo.h"

#include <new>

#include "KYSOTypes.h"

namespace testhost {

void TestSnapInfo::script(SnapOp op, int32_t answer, std::optional<int16_t> size) {
    scripts_[op].push_back(ScriptedAnswer{answer, size});
}

void TestSnapInfo::failNext(SnapOp op, int times) {
    for (int i = 0; i < times; ++i) {
        script(op, KYSO::BUFFER_FAILED);
    }
}

void TestSnapInfo::runOutOfMemoryNext(SnapOp op) {
    ScriptedAnswer answer;
    answer.outOfMemory = true;
    scripts_[op].push_back(answer);
}

int TestSnapInfo::callCount(SnapOp op) const {
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
}

std::optional<ScriptedAnswer> TestSnapInfo::takeScript(SnapOp op) {
    auto it = scripts_.find(op);
    if (it == scripts_.end() || it->second.empty()) {
        return std::nullopt;
    }
    ScriptedAnswer answer = it->second.front();
    it->second.pop_front();
    if (answer.outOfMemory) {
        throw std::bad_alloc();
    }
    return answer;
}

void TestSnapInfo::count(SnapOp op) {
    ++calls_[op];
}

std::optional<int32_t> TestSnapInfo::scripted(SnapOp op, int16_t& size) {
    count(op);
    auto answer = takeScript(op);
    if (!answer) {
        return std::nullopt;
    }
    if (answer->size) {
        size = *answer->size;
    }
    return answer->answer;
}

int32_t TestSnapInfo::getSnapUUID(char* buf, int16_t& size) {
    auto answer = scripted(SnapOp::GetSnapUUID, size);
    return answer ? *answer : HostRequest::getSnapUUID(buf, size);
}

int32_t TestSnapInfo::getArrayInfo(char* buf, int16_t& size) {
    auto answer = scripted(SnapOp::GetArrayInfo, size);
    return answer ? *answer : HostRequest::getArrayInfo(buf, size);
}

int32_t TestSnapInfo::findArrayHost(const char* target) {
    count(SnapOp::FindArrayHost);
    if (auto answer = takeScript(SnapOp::FindArrayHost)) {
        findArrayHostQueries.push_back(target != nullptr ? target : "");
        return answer->answer;
    }
    return HostRequest::findArrayHost(target);
}

int32_t TestSnapInfo::getHostIdentifier(char* buf, int16_t& size) {
    auto answer = scripted(SnapOp::GetHostIdentifier, size);
    return answer ? *answer : HostRequest::getHostIdentifier(buf, size);
}

int32_t TestSnapInfo::checkOption(uint32_t mask) {
    count(SnapOp::CheckOption);
    if (auto answer = takeScript(SnapOp::CheckOption)) {
        return answer->answer;
    }
    return HostRequest::checkOption(mask);
}

int32_t TestSnapInfo::getSnapStatus() {
    count(SnapOp::GetSnapStatus);
    if (auto answer = takeScript(SnapOp::GetSnapStatus)) {
        return answer->answer;
    }
    return HostRequest::getSnapStatus();
}

int32_t TestSnapInfo::getDevice(char* buf, int16_t& size) {
    auto answer = scripted(SnapOp::GetDevice, size);
    return answer ? *answer : HostRequest::getDevice(buf, size);
}

int32_t TestSnapInfo::getSnapDevice(char* buf, int16_t& size) {
    auto answer = scripted(SnapOp::GetSnapDevice, size);
    return answer ? *answer : HostRequest::getSnapDevice(buf, size);
}

int32_t TestSnapInfo::getMetaData(int32_t kind, char* buf, int16_t& size) {
    if (kind == KYSO::META_TRANS || kind == KYSO::META_SNAPSHOT) {
        auto answer = scripted(
            kind == KYSO::META_TRANS ? SnapOp::GetTransMetaData : SnapOp::GetMetaData, size);
        if (answer) {
            return *answer;
        }
    } else {
        count(SnapOp::GetMetaData);
    }
    return HostRequest::getMetaData(kind, buf, size);
}

int32_t TestSnapInfo::getConfigInt(const char* name, int32_t& value) {
    count(SnapOp::GetConfigInt);
    if (auto answer = takeScript(SnapOp::GetConfigInt)) {
        return answer->answer;
    }
    return HostRequest::getConfigInt(name, value);
}

int32_t TestSnapInfo::getConfigString(const char* name, char* buf, int16_t& size) {
    auto answer = scripted(SnapOp::GetConfigString, size);
    return answer ? *answer : HostRequest::getConfigString(name, buf, size);
}

int32_t TestSnapInfo::getSnapProperty(int32_t id, std::string& value) {
    count(SnapOp::GetSnapProperty);
    if (auto answer = takeScript(SnapOp::GetSnapProperty)) {
        return answer->answer;
    }
    return HostRequest::getSnapProperty(id, value);
}

const unsigned char* TestSnapInfo::getInquiryData(int32_t page) {
    count(SnapOp::GetInquiryData);
    if (takeScript(SnapOp::GetInquiryData)) {
        return nullptr;
    }
    return HostRequest::getInquiryData(page);
}

void TestSnapInfo::setMetaData(int32_t kind, const char* text) {
    count(SnapOp::SetMetaData);
    takeScript(SnapOp::SetMetaData);  // a write has no answer to script; it may run out of memory
    HostRequest::setMetaData(kind, text);
}

}  // namespace testhost
