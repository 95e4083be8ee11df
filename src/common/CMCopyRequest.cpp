// SPDX-License-Identifier: Apache-2.0
#include "CMCopyRequest.h"

#include <vector>

#include "CMParser.h"
#include "KYSOTypes.h"

namespace {
constexpr int16_t kSnapUUIDBufferSize = 4096;
constexpr int16_t kDeviceBufferSize = 1024;
}  // namespace

CMCopyRequest::CMCopyRequest(KYSO::SnapInfo* request) : object_(request), logger_(request) {}

int CMCopyRequest::setMetaData(std::string& metadata) {
    static const char* const kHeader = "Tegile CMCopyRequest::setMetaData() -";
    logger_->log(1, kHeader, "meta data [%s]", metadata.c_str());
    std::vector<char> uuid(kSnapUUIDBufferSize, '\0');
    int16_t size = kSnapUUIDBufferSize;
    const int answer = object_->getSnapUUID(uuid.data(), size);
    if (answer != KYSO::BUFFER_OK) {
        logger_->log(2, kHeader, "failed to get target device ID [%d]", object_->getSnapId());
        return answer;
    }
    object_->setMetaData(KYSO::META_SNAPSHOT, metadata.c_str());
    return answer;
}

int CMCopyRequest::getSourceDeviceInfo(std::map<std::string, std::string>& info) {
    std::vector<char> device(kDeviceBufferSize, '\0');
    int16_t size = kDeviceBufferSize;
    const int answer = object_->getDevice(device.data(), size);
    if (answer != KYSO::BUFFER_OK) {
        logger_->log(2, "Tegile CMCopyRequest() -",
                     "failed to get source device name snap id  [%d]", object_->getSnapId());
        object_->setSnapStatus(KYSO::SNAP_PREPARE_FAILED);
        return answer;
    }
    // The host promises NUL-terminated text; do not read past the buffer if it breaks that.
    device.back() = '\0';
    const std::string text(device.data());
    CMParser().getKeyValues(text, info);
    logger_->log(1, "Tegile CMCopyRequest() -", "source device name [%s]", text.c_str());
    return 0;
}
