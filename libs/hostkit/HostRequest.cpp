// SPDX-License-Identifier: Apache-2.0
#include "HostRequest.h"

#include <cstdarg>
#include <cstdio>

#include "BufferAnswers.h"
#include "KYSOTypes.h"

namespace hostkit {

namespace {

std::string textOf(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace

bool HostRequest::logged(const std::string& fragment, std::optional<int32_t> level) const {
    for (const LogLine& line : logLines) {
        if (line.text.find(fragment) != std::string::npos && (!level || *level == line.level)) {
            return true;
        }
    }
    return false;
}

std::string HostRequest::logText() const {
    std::string text;
    for (const LogLine& line : logLines) {
        text += std::to_string(line.level) + " " + line.header + " " + line.text + "\n";
    }
    return text;
}

int32_t HostRequest::getSnapUUID(char* buf, int16_t& size) {
    return answerBufferGet(snapUUID, buf, size);
}

int32_t HostRequest::getArrayInfo(char* buf, int16_t& size) {
    return answerBufferGet(arrayInfo, buf, size);
}

int32_t HostRequest::findArrayHost(const char* target) {
    const std::string text = textOf(target);
    findArrayHostQueries.push_back(text);
    auto it = findArrayHostAnswers.find(text);
    return it == findArrayHostAnswers.end() ? findArrayHostDefault : it->second;
}

int32_t HostRequest::getHostIdentifier(char* buf, int16_t& size) {
    return answerBufferGet(hostIdentifier, buf, size);
}

int32_t HostRequest::checkOption(uint32_t mask) {
    return (options & mask) != 0 ? 1 : 0;
}

int32_t HostRequest::getSnapStatus() {
    return status;
}

void HostRequest::setSnapStatus(int32_t value) {
    status = value;
    statusHistory.push_back(value);
}

int32_t HostRequest::getDevice(char* buf, int16_t& size) {
    return answerBufferGet(device, buf, size);
}

int32_t HostRequest::getSnapDevice(char* buf, int16_t& size) {
    return answerBufferGet(snapDevice, buf, size);
}

void HostRequest::setSnapDevice(const char* name) {
    snapDevice = textOf(name);
    snapDevicesSet.push_back(snapDevice);
}

int32_t HostRequest::getMetaData(int32_t kind, char* buf, int16_t& size) {
    if (kind == KYSO::META_TRANS) {
        return answerBufferGet(transMetaData, buf, size);
    }
    if (kind == KYSO::META_SNAPSHOT) {
        return answerBufferGet(metaData, buf, size);
    }
    return KYSO::BUFFER_FAILED;
}

void HostRequest::setMetaData(int32_t kind, const char* text) {
    metaDataWrites.push_back(MetaDataWrite{kind, textOf(text), text == nullptr});
    if (kind == KYSO::META_SNAPSHOT) {
        metaData = textOf(text);
    }
}

void HostRequest::setError(int32_t code, const char* message) {
    errors.push_back(ErrorReport{code, textOf(message)});
}

void HostRequest::log(int32_t level, const char* header, const char* format, ...) {
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
    logLines.push_back(LogLine{level, textOf(header), text});
    if (echoLog) {
        std::fprintf(stderr, "[%d] %s %s\n", level, logLines.back().header.c_str(), text.c_str());
    }
    if (onLog) {
        onLog(logLines.back());
    }
}

int32_t HostRequest::getConfigInt(const char* name, int32_t& value) {
    auto it = configInts.find(textOf(name));
    if (it == configInts.end()) {
        return 1;
    }
    value = it->second;
    return 0;
}

int32_t HostRequest::getConfigString(const char* name, char* buf, int16_t& size) {
    auto it = configStrings.find(textOf(name));
    if (it == configStrings.end()) {
        return 1;
    }
    return answerBufferGet(it->second, buf, size);
}

void HostRequest::setTransMetaData(int32_t kind, const char* text) {
    transMetaDataWrites.push_back(MetaDataWrite{kind, textOf(text), text == nullptr});
    if (kind == KYSO::META_TRANS) {
        transMetaData = textOf(text);
    }
}

int32_t HostRequest::getSnapId() {
    return snapId;
}

int32_t HostRequest::getSnapProperty(int32_t id, std::string& value) {
    auto it = snapProperties.find(id);
    if (it == snapProperties.end()) {
        return 0;
    }
    value = it->second;
    return 1;
}

const unsigned char* HostRequest::getInquiryData(int32_t page) {
    auto it = inquiryData.find(page);
    if (it == inquiryData.end()) {
        return nullptr;
    }
    it->second.resize(255, 0);  // the host always holds a whole 255-byte buffer
    return it->second.data();
}

void HostRequest::setTargetId(const char* targetId) {
    targetIdsSet.push_back(textOf(targetId));
}

void HostRequest::setLunId(const char* lunId) {
    lunIdsSet.push_back(textOf(lunId));
}

}  // namespace hostkit
