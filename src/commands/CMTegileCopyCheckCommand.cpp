// SPDX-License-Identifier: Apache-2.0
#include "CMTegileCopyCheckCommand.h"

#include "CMStorageServerTegile.h"

namespace {
const char* const kHeader = "TEGILE CMTegileCopyCheckCommand::execute() -";
}

Copy_Status CMTegileCopyCheckCommand::execute() {
    if (type_ != CopyType::CHECK) {
        return COPY_SUCCESS;
    }
    info(kHeader, "device [%s]", printed().c_str());
    const Copy_Status status = storageServer_->getCopies(device_.get());
    if (status != COPY_SUCCESS) {
        error(kHeader, "chek copy command failed status [%d], device [%s]",
              static_cast<int>(status), printed().c_str());
    }
    return status;
}
