// SPDX-License-Identifier: Apache-2.0
#include "CMTegileCopyCreateCommand.h"

#include "CMStorageServerTegile.h"
#include "PropertyNames.h"

namespace {
const char* const kHeader = "TEGILE CMTegileCopyCreateCommand::execute() -";
}

Copy_Status CMTegileCopyCreateCommand::execute() {
    if (type_ == CopyType::CREATE || type_ == CopyType::BATCH_CREATE) {
        if (property(TARGET_DEVICE_NAME).empty()) {
            error(kHeader, "Tegile storage server create  failed  [%s]", printed().c_str());
            return COPY_INVALID_REQUEST;
        }
        info(kHeader, "source device [%s]", printed().c_str());
        if (type_ == CopyType::BATCH_CREATE) {
            storageServer_->addRequest(device_.get());
            type_ = CopyType::BATCH_CREATE_UPDATE;
            return COPY_SUCCESS;
        }
        const Copy_Status status = storageServer_->createCopy(device_.get());
        if (status != COPY_SUCCESS) {
            error(kHeader, "copy create command failed [%s]", printed().c_str());
            return status;
        }
        type_ = CopyType::GET_COPY_CREATED_STATUS;
        return COPY_SUCCESS;
    }
    if (type_ == CopyType::GET_COPY_CREATED_STATUS) {
        info(kHeader, "source device [%s]", printed().c_str());
        const Copy_Status status = storageServer_->getCopyCreatedStatus(device_.get());
        if (status == COPY_SUCCESS) {
            metaData_ = serialize(createFields(isShare()));
        }
        return status;
    }
    if (type_ == CopyType::BATCH_CREATE_UPDATE) {
        // The batch call made the snapshot; only the record remains to be written.
        info(kHeader, "source device [%s]", printed().c_str());
        metaData_ = serialize(createFields(isShare()));
    }
    return COPY_SUCCESS;
}
