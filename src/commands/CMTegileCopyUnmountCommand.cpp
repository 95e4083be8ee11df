// SPDX-License-Identifier: Apache-2.0
#include "CMTegileCopyUnmountCommand.h"

#include "CMStorageServerTegile.h"
#include "PropertyNames.h"

namespace {
const char* const kHeader = "TEGILE CMTegileCopyUnmountCommand::execute() -";
}

Copy_Status CMTegileCopyUnmountCommand::execute() {
    if (type_ != CopyType::UNMOUNT) {
        return COPY_SUCCESS;
    }
    // A create-form record carries no clone name: the clone is named after the snapshot.
    if (property(TARGET_DEVICE_MOUNT_NAME).empty()) {
        property(TARGET_DEVICE_MOUNT_NAME) = "MNT_" + property(TARGET_DEVICE_NAME);
    }
    info(kHeader, "device [%s]", printed().c_str());
    const Copy_Status status = storageServer_->unmountCopy(device_.get());
    if (status != COPY_SUCCESS) {
        error(kHeader, "unmount copy command failed [%d]", static_cast<int>(status));
        return status;
    }
    type_ = CopyType::UNMAP_COPY_FROM_HOST;
    metaData_ = serialize(createFields(isShare()));
    return COPY_SUCCESS;
}
