// SPDX-License-Identifier: Apache-2.0
#include "CliRequest.h"

#include "BufferAnswers.h"
#include "KYSOTypes.h"
#include "SecretMemory.h"

namespace kysnap {

CliRequest::CliRequest(ArrayDirectory& arrays, std::string arrayName)
    : arrays_(arrays), arrayName_(std::move(arrayName)) {}

void CliRequest::reading() const {
    if (onRead) {
        onRead();
    }
}

int32_t CliRequest::findArrayHost(const char* target) {
    reading();
    const std::string text = target != nullptr ? target : "";
    findArrayHostQueries.push_back(text);
    const size_t bar = text.find('|');
    if (bar != std::string::npos) {
        // "array|target": the plug-in found the array that serves the target.
        const std::string array = text.substr(0, bar);
        if (arrays_.find(array) == nullptr) {
            return 1;
        }
        arrays_.pair(text.substr(bar + 1), array);
        arrayName_ = array;
        return 0;
    }
    const ArrayAccess* known = arrays_.forTarget(text);
    if (known == nullptr) {
        return 1;
    }
    if (arrayName_.empty()) {
        arrayName_ = known->name;
    }
    return 0;
}

int32_t CliRequest::getArrayInfo(char* buf, int16_t& size) {
    reading();
    const ArrayAccess* array = nullptr;
    if (!arrayName_.empty()) {
        array = arrays_.find(arrayName_);
    } else if ((array = arrays_.only()) != nullptr) {
        arrayName_ = array->name;
    }
    if (array == nullptr) {
        problem_ = arrayName_.empty() ? "no array is known for this device: name one with --array"
                                      : "array " + arrayName_ + " is not in the host configuration";
        return KYSO::BUFFER_FAILED;
    }
    std::string info = ArrayDirectory::infoText(*array);
    const kyplatform::WipeAtScopeEnd wiped(info);
    return hostkit::answerBufferGet(info, buf, size);
}

int32_t CliRequest::getSnapUUID(char* buf, int16_t& size) {
    reading();
    return HostRequest::getSnapUUID(buf, size);
}

int32_t CliRequest::getSnapStatus() {
    reading();
    return HostRequest::getSnapStatus();
}

int32_t CliRequest::getDevice(char* buf, int16_t& size) {
    reading();
    return HostRequest::getDevice(buf, size);
}

int32_t CliRequest::getSnapDevice(char* buf, int16_t& size) {
    reading();
    return HostRequest::getSnapDevice(buf, size);
}

int32_t CliRequest::getMetaData(int32_t kind, char* buf, int16_t& size) {
    reading();
    return HostRequest::getMetaData(kind, buf, size);
}

int32_t CliRequest::getSnapId() {
    reading();
    return HostRequest::getSnapId();
}

int32_t CliRequest::getSnapProperty(int32_t id, std::string& value) {
    reading();
    return HostRequest::getSnapProperty(id, value);
}

const unsigned char* CliRequest::getInquiryData(int32_t page) {
    reading();
    return HostRequest::getInquiryData(page);
}

void CliRequest::setError(int32_t code, const char* message) {
    HostRequest::setError(code, message);
    if (onError) {
        onError(errors.back());
    }
}

}  // namespace kysnap
