// SPDX-License-Identifier: Apache-2.0
#include "CMTegileCopyMountCommand.h"

#include "CMStorageServerTegile.h"
#include "PropertyNames.h"

namespace {
const char* const kHeader = "TEGILE CMTegileCopyMountCommand::execute() -";
}

Copy_Status CMTegileCopyMountCommand::execute() {
    if (type_ != CopyType::MOUNT) {
        return COPY_SUCCESS;
    }
    info(kHeader, "checking mount copy target device [%s]", printed().c_str());
    if (property(TARGET_DEVICE_MOUNT_NAME).empty()) {
        property(TARGET_DEVICE_MOUNT_NAME) = "MNT_" + property(TARGET_DEVICE_NAME);
    }
    Copy_Status status = storageServer_->getMountedCopy(device_.get());
    if (status != COPY_SUCCESS) {
        error(kHeader, "get mounted copy failed source device [%s]", printed().c_str());
        return status;
    }
    if (property(TARGET_DEVICE_MOUNTED) == VALUE_TRUE) {
        // The clone survived an earlier mount: map it again rather than clone twice.
        info(kHeader, "skipping target device mount");
        property(SKIP_TARGET_DEVICE_MOUNT) = VALUE_TRUE;
    }
    info(kHeader, "source device [%s]", printed().c_str());
    status = storageServer_->mountCopy(device_.get());
    if (status != COPY_SUCCESS) {
        error(kHeader, "copy mount command failed source device [%s]", printed().c_str());
        return status;
    }
    type_ = CopyType::MAP_COPY_TO_HOST;
    Fields fields = createFields(isShare());
    if (isShare()) {
        fields.emplace_back(TARGET_DEVICE_MOUNT_NAME, property(TARGET_DEVICE_MOUNT_NAME));
        fields.emplace_back(TARGET_DEVICE_MOUNTPOINT_NAME, property(TARGET_DEVICE_MOUNTPOINT_NAME));
    } else {
        fields.emplace_back(TARGET_DEVICE_MOUNT_ID, property(TARGET_DEVICE_MOUNT_ID));
        fields.emplace_back(TARGET_DEVICE_MOUNT_NAME, property(TARGET_DEVICE_MOUNT_NAME));
        fields.emplace_back(TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME,
                            property(TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME));
        fields.emplace_back(TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME,
                            property(TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME));
    }
    metaData_ = serialize(fields);
    return COPY_SUCCESS;
}
