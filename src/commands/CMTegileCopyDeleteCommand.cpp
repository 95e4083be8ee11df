// SPDX-License-Identifier: Apache-2.0
#include "CMTegileCopyDeleteCommand.h"

#include "CMStorageServerTegile.h"

namespace {
const char* const kHeader = "TEGILE CMTegileCopyDeleteCommand::execute() -";
}

Copy_Status CMTegileCopyDeleteCommand::execute() {
    if (type_ != CopyType::DELETE) {
        return COPY_SUCCESS;
    }
    info(kHeader, "source device [%s] target device [%s]", printed().c_str(), printed().c_str());
    const Copy_Status status = storageServer_->deleteCopy(device_.get());
    if (status != COPY_SUCCESS) {
        error(kHeader,
              "delete copy command failed status [%d], source device [%s] target device [%s]",
              static_cast<int>(status), printed().c_str(), printed().c_str());
    }
    // Written whatever the result; the caller stores it only after a successful delete.
    metaData_ = serialize(createFields(isShare()));
    return status;
}
