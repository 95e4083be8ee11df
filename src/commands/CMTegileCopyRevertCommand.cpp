// SPDX-License-Identifier: Apache-2.0
#include "CMTegileCopyRevertCommand.h"

#include "CMStorageServerTegile.h"

namespace {
const char* const kHeader = "TEGILE CMTegileCopyRevertCommand::execute() -";
}

Copy_Status CMTegileCopyRevertCommand::execute() {
    if (type_ != CopyType::REVERT) {
        return COPY_SUCCESS;
    }
    info(kHeader, "device [%s]", printed().c_str());
    const Copy_Status status = storageServer_->rollbackCopy(device_.get());
    if (status != COPY_SUCCESS) {
        error(kHeader, "revert copy command failed status [%d], device [%s] ",
              static_cast<int>(status), printed().c_str());
    }
    // Reverted records are written in block form whatever the protocol.
    metaData_ = blockForm(createFields(false));
    return status;
}
