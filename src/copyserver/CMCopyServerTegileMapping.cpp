// SPDX-License-Identifier: Apache-2.0
// Mapping copies to the host: mount requests, then finding the clones among the host's devices.
#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "CMCopyServerTegile.h"
#include "CMParser.h"
#include "CMTegileCopyCommand.h"
#include "KYSOTypes.h"
#include "PropertyNames.h"
#include "ScsiInquiry.h"

namespace {
const char* const kMountHeader = "TEGILE CMCopyServerTegile::mountCopy() -";
const char* const kMountNfsHeader = "TEGILE CMCopyServerTegile::mountCopyNFS() -";
const char* const kMapHeader = "TEGILE CMCopyServerTegile::findMappedCopy() -";
const char* const kUnmapHeader = "TEGILE CMCopyServerTegile::unmapCopyFromHost() -";

std::string withoutBackslashes(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\\'), text.end());
    return text;
}
}  // namespace

void CMCopyServerTegile::setMappingProperties(CMStorageDevice* device) {
    auto& map = device->getProperties();
    const CMCopyContext& context = *context_;
    if (!isVMware()) {
        map[TARGET_DEVICE_MAPPING_INITIATOR_NAME] = context_->getLocalInitiatorName();
        map[TARGET_DEVICE_MAPPING_PROTOCOL] = context.getLocalInitiatorType();
        map[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME] = context.getLocalInitiatorGroup();
        map[TARGET_DEVICE_MAPPING_HOST_NAME] = context.getHostName();
        map[TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME] = context.getTargetGroup();
        return;
    }
    // The ESX server first, then the proxy host that reads the copy.
    map[TARGET_DEVICE_MAPPING_INITIATOR_NAME] = context_->getRemoteInitiatorName();
    map[TARGET_DEVICE_MAPPING_PROTOCOL] = context.getRemoteInitiatorType();
    map[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME] = context.getRemoteInitiatorGroup();
    map[TARGET_DEVICE_MAPPING_HOST_NAME] = context.getESXHostName();
    map[TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME] = context.getTargetGroup();
    map[TARGET_DEVICE_MAPPING_INITIATOR_NAME2] = context_->getLocalInitiatorName();
    map[TARGET_DEVICE_MAPPING_PROTOCOL2] = context.getLocalInitiatorType();
    map[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME2] = context.getLocalInitiatorGroup();
    map[TARGET_DEVICE_MAPPING_HOST_NAME2] = context.getHostName();
    map[TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME2] = context.getTargetGroup();
    map[TARGET_DEVICE_MAPPING_COUNT] = "2";
}

Copy_Status CMCopyServerTegile::mountCopy() {
    // The context tells a datastore on a share from a block device.
    if (ensureContext(kMountHeader, "mount") != COPY_SUCCESS) {
        return COPY_FAILED;
    }
    if (context_->getProtocol() == PROTOCOL_NFS) {
        return mountCopyNFS();
    }
    KYSO::SnapInfo* host = request();
    std::unique_ptr<CMTegileCopyCommand> command;
    Copy_Status status =
        startCommand("mount", CopyType::MOUNT, kMountHeader, "mount command object build failed",
                     KYSO::SNAP_MOUNT_FAILED, command);
    if (status != COPY_SUCCESS) {
        return status;
    }
    setMappingProperties(command->getDevice());
    auto& map = command->getDevice()->getProperties();
    if (!isVMware() && !map[TARGET_DEVICE_MAPPING_NAME].empty()) {
        bool mapped = false;
        ignoreStatus(isDeviceMappedToHost(map[TARGET_DEVICE_MAPPING_NAME],
                                          map[TARGET_DEVICE_MOUNT_ID], mapped),
                     "always success: `mapped` tells");
        if (mapped) {
            info(kMountHeader, "device already mapped to host device name [%s] mounted name [%s]",
                 map[TARGET_DEVICE_MAPPING_NAME].c_str(), map[TARGET_DEVICE_MOUNT_ID].c_str());
            host->setSnapStatus(KYSO::SNAP_MOUNTED);
            return COPY_SUCCESS;
        }
    }
    return executeAndKeep(kMountHeader, std::move(command), "copy mount command failed error [%d]",
                          KYSO::SNAP_MOUNT_FAILED);
}

Copy_Status CMCopyServerTegile::mountCopyNFS() {
    std::unique_ptr<CMTegileCopyCommand> command;
    Copy_Status status =
        startCommand("mount", CopyType::MOUNT, kMountNfsHeader, "mount command object build failed",
                     KYSO::SNAP_MOUNT_FAILED, command);
    if (status != COPY_SUCCESS) {
        return status;
    }
    command->getDevice()->getProperties()[TARGET_DEVICE_MAPPING_HOST_NAME] =
        context_->getESXHostName();
    return executeAndKeep(kMountNfsHeader, std::move(command),
                          "copy mount command failed error [%d]", KYSO::SNAP_MOUNT_FAILED);
}

Copy_Status CMCopyServerTegile::mapCopyToHost(bool useAllDevices) {
    if (!context_) {
        return COPY_FAILED;  // no mount ran, so there is nothing to look for
    }
    if (context_->getProtocol() == PROTOCOL_NFS) {
        return mapNfsCopiesToHost();
    }
    const bool vmware = isVMware();
    std::vector<const char*> initiators{context_->getLocalInitiatorName().c_str()};
    if (vmware) {
        initiators.push_back(context_->getRemoteInitiatorName().c_str());
    }
    initiators.push_back(nullptr);
    const std::string hostName = context_->getHostName();
    if (!osUtil_->refreshBus(hostName.c_str(), initiators.data(), nullptr)) {
        error(kMapHeader, "OS util refresh bus failed");
        return failWhole();
    }
    std::list<std::string> scanned;
    if (scanDevices(vmware ? hostName : std::string(), scanned) != COPY_SUCCESS) {
        error(kMapHeader, "scan devices failed");
        return failWhole();
    }
    std::list<std::string> candidates;
    if (useAllDevices) {
        candidates.swap(scanned);
    } else {
        getDiffDevices(context_->getDeviceListBeforeMap(), scanned, candidates);
    }

    // One record per identified device, in scan order; the first that shows a LUN wins.
    std::vector<std::unique_ptr<CMStorageDevice>> records;
    CMParser parser;
    for (const std::string& device : candidates) {
        error(kMapHeader, "new device found name [%s]", device.c_str());
        std::string lun;
        if (!vmware) {
            std::vector<unsigned char> page(scsi::kInquiryLength, 0);
            sendSCSIInquiry(device, true, scsi::kPageDeviceIdentification, page.data(),
                            static_cast<unsigned int>(page.size()));
            lun = scsi::lunId(page.data(), page.size());
            info(kMapHeader, "scsi inquiry page 0x83 data device  [%s] LUN ID [%s] ",
                 device.c_str(), lun.c_str());
        } else {
            if (device.empty()) {
                continue;
            }
            CMParser::KeyValues values;
            parser.getKeyValues(device, values);
            if (!scsi::lunIdFromUuid(values["lunuuid"], lun)) {
                error(kMapHeader, "new device [%s] has no LUN ID in its lunuuid, skipped",
                      device.c_str());
                continue;
            }
            info(kMapHeader, "new device found ID [%s]", lun.c_str());
        }
        if (!keepRecord(lun, device, records)) {
            error(kMapHeader, "allocation of memory for new discovered device failed");
            return failWhole(COPY_NO_MEMORY);
        }
    }

    failedCmds_ = 0;
    for (const auto& command : commands_) {
        CMCopyRequest* owner = command->getCopyRequest();
        auto& map = command->getDevice()->getProperties();
        const std::string& mountId = map[TARGET_DEVICE_MOUNT_ID];
        if (owner->getObject()->getSnapStatus() == KYSO::SNAP_MOUNTED) {
            info(kMapHeader, "device found state id [%s] skipping", mountId.c_str());
            continue;
        }
        auto shown = std::find_if(records.begin(), records.end(), [&](const auto& record) {
            return record->getProperties()[DEVICE_ID] == mountId;
        });
        if (shown == records.end()) {
            owner->getObject()->setSnapStatus(KYSO::SNAP_MOUNT_FAILED);
            error(kMapHeader, "device not found id [%s]", mountId.c_str());
            ++failedCmds_;
            continue;
        }
        const std::string& deviceName = (*shown)->getProperties()[DEVICE_NAME];
        info(kMapHeader, "device found name [%s]  id [%s]", deviceName.c_str(), mountId.c_str());
        std::string metaData = command->getMetaData();
        info(kMapHeader, "copy type [%s] request meta data  [%s]", command->getType().c_str(),
             metaData.c_str());
        owner->setMetaData(metaData);
        owner->getObject()->setSnapDevice(deviceName.c_str());
        owner->getObject()->setSnapStatus(KYSO::SNAP_MOUNTED);
    }
    return failedCmds_ != 0 ? COPY_FAILED : COPY_SUCCESS;
}

bool CMCopyServerTegile::keepRecord(const std::string& lunId, const std::string& deviceName,
                                    std::vector<std::unique_ptr<CMStorageDevice>>& records) {
    std::unique_ptr<CMStorageDevice> record(new (std::nothrow) CMStorageDevice());
    if (!record) {
        return false;
    }
    try {
        record->getProperties()[DEVICE_ID] = lunId;
        record->getProperties()[DEVICE_NAME] = deviceName;
        records.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

Copy_Status CMCopyServerTegile::failWhole(Copy_Status status) {
    // Statuses stay as they are; but every copy the host has not been shown is a failed
    // command, so that the call is not reported done when no device could be looked for.
    failedCmds_ = 0;
    for (const auto& command : commands_) {
        if (command->getCopyRequest()->getObject()->getSnapStatus() != KYSO::SNAP_MOUNTED) {
            ++failedCmds_;
        }
    }
    return status;
}

Copy_Status CMCopyServerTegile::mapNfsCopiesToHost() {
    failedCmds_ = 0;
    for (const auto& command : commands_) {
        CMCopyRequest* owner = command->getCopyRequest();
        auto& map = command->getDevice()->getProperties();
        std::string metaData = command->getMetaData();
        info(kMapHeader, "copy type [%s] request meta data  [%s]", command->getType().c_str(),
             metaData.c_str());
        owner->setMetaData(metaData);
        const std::string path = withoutBackslashes(map[SOURCE_DEVICE_PATH]);
        const std::string& mountPoint = map[SOURCE_DEVICE_MOUNTPOINT_NAME];
        if (path.size() < mountPoint.size()) {
            // The datastore does not lie below the share: there is no path to report.
            error(kMapHeader, "datastore path [%s] is not below the share mount point [%s]",
                  path.c_str(), mountPoint.c_str());
            owner->getObject()->setSnapStatus(KYSO::SNAP_MOUNT_FAILED);
            ++failedCmds_;
            continue;
        }
        const std::string subPath =
            path == mountPoint ? std::string() : path.substr(mountPoint.size());
        const std::string description =
            " { idatype:vmware,vendor:Tegile,type:nfs,nfsver:NFS,standardinqury:,lunuuid:" +
            map[TARGET_DEVICE_MOUNTPOINT_NAME] + subPath +
            ",targethostname:" + map[TARGET_DEVICE_MOUNT_HOST] + "}";
        owner->getObject()->setSnapDevice(description.c_str());
        owner->getObject()->setSnapStatus(KYSO::SNAP_MOUNTED);
    }
    // Nothing a rescan could change: the call is never retried.
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::unmapCopyFromHost() {
    if (!context_ || context_->getProtocol() == PROTOCOL_NFS) {
        return COPY_SUCCESS;
    }
    std::vector<std::string> names;
    for (const auto& command : commands_) {
        const std::string& name = command->getDevice()->getProperties()[TARGET_DEVICE_MAPPING_NAME];
        if (!name.empty()) {
            names.push_back(name);
        }
    }
    std::vector<const char*> devices;
    for (const std::string& name : names) {
        devices.push_back(name.c_str());
    }
    devices.push_back(nullptr);
    std::vector<const char*> initiators;
    for (const std::string& initiator : context_->getInitiatorList()) {
        initiators.push_back(initiator.c_str());
    }
    initiators.push_back(nullptr);
    const std::string hostName = context_->getHostName();
    if (!osUtil_->refreshBus(isVMware() ? hostName.c_str() : nullptr, initiators.data(),
                             devices.data())) {
        error(kUnmapHeader, "OS util  refresh bus failed");
    }
    return COPY_SUCCESS;
}
