// SPDX-License-Identifier: Apache-2.0
#include "CMTegileCopyCommand.h"

#include "PropertyNames.h"
#include "jsonxx.h"

const std::string CMTegileCopyCommand::META_DATA_VERSION = "1.0";
const std::string CMTegileCopyCommand::META_DATA_VERSION_2 = "2.0";

CMTegileCopyCommand::CMTegileCopyCommand(CMStorageServerTegile* storageServer,
                                         CMStorageDevice* device, const std::string& type)
    : storageServer_(storageServer), device_(device), type_(type) {}

CMTegileCopyCommand::~CMTegileCopyCommand() = default;

Copy_Status CMTegileCopyCommand::execute() {
    return COPY_SUCCESS;
}

bool CMTegileCopyCommand::isShare() {
    return property(SNAP_CONFIG_PROTOCOL) == PROTOCOL_NFS;
}

CMTegileCopyCommand::Fields CMTegileCopyCommand::createFields(bool share) {
    if (share) {
        return {
            {::META_DATA_VERSION, META_DATA_VERSION_2},
            {SOURCE_DEVICE_MOUNTPOINT_NAME, property(SOURCE_DEVICE_MOUNTPOINT_NAME)},
            {SOURCE_DEVICE_NAME, property(SOURCE_DEVICE_NAME)},
            {SOURCE_DEVICE_POOL_NAME, property(SOURCE_DEVICE_POOL_NAME)},
            {SOURCE_DEVICE_PROJECT_NAME, property(SOURCE_DEVICE_PROJECT_NAME)},
            {SOURCE_DEVICE_MODE, property(SOURCE_DEVICE_MODE)},
            {TARGET_DEVICE_NAME, property(TARGET_DEVICE_NAME)},
        };
    }
    return {
        {::META_DATA_VERSION, property(::META_DATA_VERSION)},
        {SOURCE_DEVICE_ID, property(SOURCE_DEVICE_ID)},
        {SOURCE_DEVICE_NAME, property(SOURCE_DEVICE_NAME)},
        {SOURCE_DEVICE_POOL_NAME, property(SOURCE_DEVICE_POOL_NAME)},
        {SOURCE_DEVICE_PROJECT_NAME, property(SOURCE_DEVICE_PROJECT_NAME)},
        {SOURCE_DEVICE_MODE, property(SOURCE_DEVICE_MODE)},
        {TARGET_DEVICE_NAME, property(TARGET_DEVICE_NAME)},
    };
}

std::string CMTegileCopyCommand::blockForm(const Fields& fields) const {
    std::string text;
    for (const auto& field : fields) {
        text += field.second;
        text += fieldSeparator_;
    }
    return text;
}

std::string CMTegileCopyCommand::serialize(const Fields& fields) {
    if (!isShare()) {
        return blockForm(fields);
    }
    jsonxx::Object object;
    for (const auto& [member, value] : fields) {
        object.import(member, value);
    }
    return object.json();
}
