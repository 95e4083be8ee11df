// SPDX-License-Identifier: Apache-2.0
#include "CMTegileCopyPrepareCommand.h"

#include <cstdlib>

#include "CMStorageServerTegile.h"
#include "PropertyNames.h"

namespace {
const char* const kHeader = "TEGILE CMTegileCopyPrepareCommand::execute() -";
}

Copy_Status CMTegileCopyPrepareCommand::execute() {
    if (type_ != CopyType::PREPARE) {
        return COPY_SUCCESS;
    }
    const bool share = isShare();
    if (!share && property(SOURCE_DEVICE_ID).empty()) {
        error(kHeader, "Tegile storage server prepare failed. source device is empty [%s]",
              printed().c_str());
        return COPY_INVALID_REQUEST;
    }
    if (share && property(SOURCE_DEVICE_MOUNT_POINT_NAME).empty()) {
        error(kHeader,
              "Tegile storage server prepare failed. source device mount point is empty [%s]",
              printed().c_str());
        return COPY_INVALID_REQUEST;
    }
    info(kHeader, "source device [%s]", printed().c_str());
    const Copy_Status status = storageServer_->prepare(device_.get());
    if (status != COPY_SUCCESS) {
        error(kHeader, "Tegile storage server prepare failed [%s] status [%d]", printed().c_str(),
              static_cast<int>(status));
        return status;
    }
    if (!share) {
        // Arrays below API 2.1 cannot create snapshots in one batch: "1.0" records say so.
        const std::string& version = std::atof(property(STORAGE_SERVER_API_VERSION).c_str()) < 2.1
                                         ? META_DATA_VERSION
                                         : META_DATA_VERSION_2;
        metaData_ = serialize({
            {::META_DATA_VERSION, version},
            {SOURCE_DEVICE_ID, property(SOURCE_DEVICE_ID)},
            {SOURCE_DEVICE_NAME, property(SOURCE_DEVICE_NAME)},
            {SOURCE_DEVICE_POOL_NAME, property(SOURCE_DEVICE_POOL_NAME)},
            {SOURCE_DEVICE_PROJECT_NAME, property(SOURCE_DEVICE_PROJECT_NAME)},
            {SOURCE_DEVICE_MODE, property(SOURCE_DEVICE_MODE)},
        });
        transMetaData_ = serialize({
            {SOURCE_DEVICE_SIZE, property(SOURCE_DEVICE_SIZE)},
            {SOURCE_DEVICE_BLOCK_SIZE, property(SOURCE_DEVICE_BLOCK_SIZE)},
            {SOURCE_DEVICE_THIN_PROVISION, property(SOURCE_DEVICE_THIN_PROVISION)},
            {SOURCE_DEVICE_PROTOCOL, property(SOURCE_DEVICE_PROTOCOL)},
        });
    } else {
        // The storage server refuses shares below API 2.1, so share records are always "2.0".
        metaData_ = serialize({
            {::META_DATA_VERSION, META_DATA_VERSION_2},
            {SOURCE_DEVICE_MOUNTPOINT_NAME, property(SOURCE_DEVICE_MOUNT_POINT_NAME_HINT)},
            {SOURCE_DEVICE_NAME, property(SOURCE_DEVICE_NAME)},
            {SOURCE_DEVICE_POOL_NAME, property(SOURCE_DEVICE_POOL_NAME)},
            {SOURCE_DEVICE_PROJECT_NAME, property(SOURCE_DEVICE_PROJECT_NAME)},
            {SOURCE_DEVICE_MODE, property(SOURCE_DEVICE_MODE)},
        });
        transMetaData_ = serialize({
            {SOURCE_DEVICE_AVAILABLE_SIZE, property(SOURCE_DEVICE_AVAILABLE_SIZE)},
            {SOURCE_DEVICE_TOTAL_SIZE, property(SOURCE_DEVICE_TOTAL_SIZE)},
        });
    }
    return COPY_SUCCESS;
}
