// SPDX-License-Identifier: Apache-2.0
// The per-request drivers, the batch step of a create call, and command building.
#include <new>
#include <set>

#include "CMCopyServerTegile.h"
#include "CMStorageServerTegile.h"
#include "CMTegileCopyCheckCommand.h"
#include "CMTegileCopyCreateCommand.h"
#include "CMTegileCopyDeleteCommand.h"
#include "CMTegileCopyMountCommand.h"
#include "CMTegileCopyPrepareCommand.h"
#include "CMTegileCopyRevertCommand.h"
#include "CMTegileCopyUnmountCommand.h"
#include "KYSOTypes.h"
#include "PropertyNames.h"

namespace {

const char* const kBuildHeader = "TEGILE CMCopyServerTegile::buildCopyCommand() -";
const char* const kPrepareHeader = "TEGILE CMCopyServerTegile::prepare() -";
const char* const kPrepareNfsHeader = "TEGILE CMCopyServerTegile::prepareNFS() -";
const char* const kCreateHeader = "TEGILE CMCopyServer::createCopy() -";
const char* const kProcessHeader = "TEGILE CMCopyServerTegile::processCmdList() -";

template <typename Command>
CMTegileCopyCommand* makeCommand(CMStorageServerTegile* server, CMStorageDevice* device,
                                 const std::string& type) {
    return new (std::nothrow) Command(server, device, type);
}

// The command class of each type.
CMTegileCopyCommand* commandOf(const std::string& type, CMStorageServerTegile* server,
                               CMStorageDevice* device) {
    using Factory =
        CMTegileCopyCommand* (*)(CMStorageServerTegile*, CMStorageDevice*, const std::string&);
    static const std::pair<const char*, Factory> kCommands[] = {
        {CopyType::CREATE, &makeCommand<CMTegileCopyCreateCommand>},
        {CopyType::PREPARE, &makeCommand<CMTegileCopyPrepareCommand>},
        {CopyType::MOUNT, &makeCommand<CMTegileCopyMountCommand>},
        {CopyType::UNMOUNT, &makeCommand<CMTegileCopyUnmountCommand>},
        {CopyType::DELETE, &makeCommand<CMTegileCopyDeleteCommand>},
        {CopyType::CHECK, &makeCommand<CMTegileCopyCheckCommand>},
        {CopyType::REVERT, &makeCommand<CMTegileCopyRevertCommand>},
    };
    for (const auto& [name, factory] : kCommands) {
        if (type == name) {
            return factory(server, device, type);
        }
    }
    return nullptr;
}

}  // namespace

Copy_Status CMCopyServerTegile::buildCopyCommand(const std::string& type,
                                                 CMTegileCopyCommand*& command) {
    command = nullptr;
    std::unique_ptr<CMStorageDevice> device(new (std::nothrow) CMStorageDevice());
    if (!device) {
        error(kBuildHeader, "source storage device object allocation failed");
        return COPY_NO_MEMORY;
    }
    auto& map = device->getProperties();
    map[SNAP_CONFIG_OS] = request()->checkOption(KYSO::OPTION_HYPERV) != 0 ? OS_HYPERV : "";
    if (context_ && context_->getProtocol() == PROTOCOL_NFS) {
        map[SNAP_CONFIG_PROTOCOL] = PROTOCOL_NFS;
    }
    std::string hostName, userName, password;
    const kyplatform::WipeAtScopeEnd wiped(password);
    Copy_Status status = buildCopyDevices(device.get(), hostName, userName, password);
    if (status != COPY_SUCCESS) {
        error(kBuildHeader, "buildCopyDevices failed error [%d]", static_cast<int>(status));
        return status;
    }

    auto cached = storageServers_.find(hostName);
    if (cached == storageServers_.end()) {
        const bool diagLogging = context_ ? context_->getDiagLogging() : defaultDiagLogging_;
        std::unique_ptr<CMStorageServerTegile> server(new (std::nothrow) CMStorageServerTegile(
            hostName, userName, password, getRetryCount(), getRetryInterval(), diagLogging));
        if (!server) {
            error(kBuildHeader, "storage server tegile object allocation failed");
            return COPY_NO_MEMORY;
        }
        server->setLogger(logger_);
        status = server->init();
        if (status != COPY_SUCCESS) {
            info(kBuildHeader, "failed to init tegile storage server [%d]",
                 static_cast<int>(status));
            return status;
        }
        cached = storageServers_.emplace(hostName, std::move(server)).first;
    }

    CMTegileCopyCommand* made = commandOf(type, cached->second.get(), device.get());
    if (made == nullptr) {
        error(kBuildHeader, "failed to create copy cmd [%s]", type.c_str());
        return COPY_NO_MEMORY;
    }
    device.release();  // the command owns it now
    made->setLogger(logger_);
    info(kBuildHeader, "copy cmd created  request [%s]", type.c_str());
    command = made;
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::prepare() {
    std::string description;
    if (readDevice(kPrepareHeader, "getdevice received buf size [%d] status [%d]", description) !=
        COPY_SUCCESS) {
        return COPY_FAILED;
    }
    info(kPrepareHeader, "source storage Device [%s]", description.c_str());
    if (isNfsDatastore(description)) {
        return prepareNFS();
    }
    std::string lunId, targetId;
    if (const Copy_Status status = identifySource(kPrepareHeader, description, lunId, targetId);
        status != COPY_SUCCESS) {
        return status;
    }
    return runPrepareCommand(kPrepareHeader, SOURCE_DEVICE_ID, lunId);
}

Copy_Status CMCopyServerTegile::identifySource(const char* header, const std::string& description,
                                               std::string& lunId, std::string& targetId) {
    KYSO::SnapInfo* host = request();
    Copy_Status status = description.find("idatype:vmware") != std::string::npos
                             ? getSCSIDevicePropertiesVMware(description, lunId, targetId)
                             : getSCSIDeviceProperties(description, lunId, targetId, false);
    if (status != COPY_SUCCESS) {
        error(header, "failed to get scsi device properties device [%s] error [%d]",
              description.c_str(), static_cast<int>(status));
        host->setSnapStatus(KYSO::SNAP_PREPARE_FAILED);
        return status;
    }
    status = findStorageServer(targetId, true);
    if (status != COPY_SUCCESS) {
        error(header, "failed to find storge server device [%s] target [%s] error [%d]",
              lunId.c_str(), targetId.c_str(), static_cast<int>(status));
        host->setSnapStatus(KYSO::SNAP_PREPARE_FAILED);
    }
    return status;
}

Copy_Status CMCopyServerTegile::prepareNFS() {
    std::string description;
    if (readDevice(kPrepareNfsHeader, "getdevice received buf size [%d] status [%d]",
                   description) != COPY_SUCCESS) {
        return COPY_FAILED;
    }
    info(kPrepareNfsHeader, "source storage Device [%s]", description.c_str());
    std::string mountPoint, serverName;
    ignoreStatus(getNFSSharePropertiesVMware(description, mountPoint, serverName),
                 "always success: an empty mount point or server name tells");
    mountPoint.erase(std::remove(mountPoint.begin(), mountPoint.end(), '\\'), mountPoint.end());
    if (mountPoint.empty() || serverName.empty()) {
        error(kPrepareNfsHeader, "failed to find NFS mount point and server name [%s]",
              description.c_str());
        return COPY_NOT_FOUND;
    }
    // The host's own database is enough here: an array it does not know is accepted.
    ignoreStatus(findStorageServer(serverName, false),
                 "always success without a search: it only logs whether the host knows it");
    return runPrepareCommand(kPrepareNfsHeader, SOURCE_DEVICE_MOUNT_POINT_NAME, mountPoint);
}

Copy_Status CMCopyServerTegile::runPrepareCommand(const char* header, const char* sourceKey,
                                                  const std::string& sourceValue) {
    KYSO::SnapInfo* host = request();
    std::unique_ptr<CMTegileCopyCommand> command;
    Copy_Status status =
        startCommand("prepare", CopyType::PREPARE, header, "prepare command object build failed",
                     KYSO::SNAP_PREPARE_FAILED, command);
    if (status != COPY_SUCCESS) {
        return status;
    }
    command->getDevice()->getProperties()[sourceKey] = sourceValue;
    status = command->execute();
    if (status != COPY_SUCCESS) {
        error(header, "copy prepare command failed error [%d]", static_cast<int>(status));
        host->setSnapStatus(KYSO::SNAP_PREPARE_FAILED);
        return status;
    }
    std::string metaData = command->getMetaData();
    info(header, "copy prepare request meta data [%s]", metaData.c_str());
    copyRequest_->setMetaData(metaData);
    const std::string transMetaData = command->getTransMetaData();
    info(header, "copy prepare request meta data [%s]", transMetaData.c_str());
    host->setTransMetaData(KYSO::META_TRANS, transMetaData.c_str());
    host->setSnapStatus(KYSO::SNAP_PREPARED);
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::createCopy() {
    std::unique_ptr<CMTegileCopyCommand> command;
    Copy_Status status =
        startCommand("create", CopyType::CREATE, kCreateHeader,
                     "cerate command object build failed", KYSO::SNAP_CREATE_FAILED, command);
    if (status != COPY_SUCCESS) {
        return status;
    }
    if (command->getDevice()->getProperties()[::META_DATA_VERSION] !=
        CMTegileCopyCommand::META_DATA_VERSION) {
        command->setType(CopyType::BATCH_CREATE);
        batchMode_ = true;
    }
    return executeAndKeep(kCreateHeader, std::move(command),
                          "copy create command failed error [%d]", KYSO::SNAP_CREATE_FAILED);
}

Copy_Status CMCopyServerTegile::startCommand(const char* operation, const char* type,
                                             const char* header, const char* failure,
                                             int32_t failedStatus,
                                             std::unique_ptr<CMTegileCopyCommand>& command) {
    if (ensureContext(header, operation) != COPY_SUCCESS) {
        return COPY_FAILED;
    }
    CMTegileCopyCommand* built = nullptr;
    const Copy_Status status = buildCopyCommand(type, built);
    command.reset(built);
    if (status != COPY_SUCCESS) {
        error(header, failure);
        if (failedStatus != 0) {
            request()->setSnapStatus(failedStatus);
        }
    }
    return status;
}

Copy_Status CMCopyServerTegile::executeAndKeep(const char* header,
                                               std::unique_ptr<CMTegileCopyCommand> command,
                                               const char* failure, int32_t failedStatus) {
    Copy_Status status = handRequestTo(command.get(), header);
    if (status == COPY_SUCCESS) {
        status = command->execute();
    }
    if (status != COPY_SUCCESS) {
        error(header, failure, static_cast<int>(status));
        request()->setSnapStatus(failedStatus);
        return status;
    }
    commands_.push_back(std::move(command));
    return COPY_SUCCESS;
}

void CMCopyServerTegile::processCmdList() {
    // Each array makes the snapshots queued on it in one call; an array whose call fails
    // fails exactly the commands queued on it.
    std::set<CMStorageServerTegile*> failedServers;
    if (batchMode_) {
        std::set<CMStorageServerTegile*> queued;
        for (const auto& command : commands_) {
            if (command->getType() == CopyType::BATCH_CREATE_UPDATE) {
                queued.insert(command->getStorageServer());
            }
        }
        for (const auto& [name, server] : storageServers_) {
            if (queued.count(server.get()) == 0) {
                continue;
            }
            const Copy_Status status = server->batchCreateCopy();
            if (status != COPY_SUCCESS) {
                error(kProcessHeader, "copy batch command processing failed error [%d]",
                      static_cast<int>(status));
                failedServers.insert(server.get());
            }
        }
    }
    for (const auto& command : commands_) {
        KYSO::SnapInfo* owner = command->getCopyRequest()->getObject();
        if (failedServers.count(command->getStorageServer()) != 0) {
            owner->setSnapStatus(KYSO::SNAP_CREATE_FAILED);
            ++failedCmds_;
            continue;
        }
        const Copy_Status status = command->execute();
        const std::string type = command->getType();
        if (status == COPY_SUCCESS) {
            std::string metaData = command->getMetaData();
            command->getCopyRequest()->setMetaData(metaData);
            if (type == CopyType::GET_COPY_CREATED_STATUS ||
                type == CopyType::BATCH_CREATE_UPDATE) {
                owner->setSnapStatus(KYSO::SNAP_CREATED);
            }
        } else {
            error(kProcessHeader, "copy type [%s] command failed error [%d]", type.c_str(),
                  static_cast<int>(status));
            if (type == CopyType::GET_COPY_CREATED_STATUS) {
                owner->setSnapStatus(KYSO::SNAP_CREATE_FAILED);
            }
            ++failedCmds_;
        }
    }
}

Copy_Status CMCopyServerTegile::runCommand(const Driver& driver) {
    KYSO::SnapInfo* host = request();
    std::unique_ptr<CMTegileCopyCommand> command;
    Copy_Status status = startCommand(driver.context, driver.type, driver.header,
                                      driver.buildFailure, driver.failedStatus, command);
    if (status != COPY_SUCCESS) {
        return status;
    }
    // A kept command gets its own request before it runs: one that cannot have it fails
    // before the array is asked for anything, instead of staying behind without a request.
    if (driver.keep) {
        status = handRequestTo(command.get(), driver.header);
    }
    if (status == COPY_SUCCESS) {
        status = command->execute();
    }
    if (status != COPY_SUCCESS) {
        error(driver.header, driver.executeFailure, static_cast<int>(status));
        if (driver.failedStatus != 0) {
            host->setSnapStatus(driver.failedStatus);
        }
        return status;
    }
    if (driver.metaDataLine != nullptr) {
        std::string metaData = command->getMetaData();
        info(driver.header, driver.metaDataLine, metaData.c_str());
        copyRequest_->setMetaData(metaData);
    }
    if (driver.onSuccess) {
        driver.onSuccess(*command);
    }
    if (driver.doneStatus != 0) {
        host->setSnapStatus(driver.doneStatus);
    }
    if (driver.keep) {
        commands_.push_back(std::move(command));
    }
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::unmountCopy() {
    return runCommand({"TEGILE CMCopyServerTegile::unmountCopy() -", "unmount", CopyType::UNMOUNT,
                       "unmount command object build failed",
                       "copy unmount command failed error [%d]",
                       "copy unmount request meta data  [%s]", KYSO::SNAP_UNMOUNTED,
                       KYSO::SNAP_UNMOUNT_FAILED, true, nullptr});
}

Copy_Status CMCopyServerTegile::deleteCopy() {
    return runCommand({"TEGILE CMCopyServerTegile::deleteCopy() -", "delete", CopyType::DELETE,
                       "delete command object build failed",
                       "copy delete command failed error [%d]",
                       "copy delete request meta data [%s]", KYSO::SNAP_DELETED,
                       KYSO::SNAP_DELETE_FAILED, false, nullptr});
}

Copy_Status CMCopyServerTegile::revertCopy() {
    return runCommand({"TEGILE CMCopyServerTegile::revertCopy() -", "revert", CopyType::REVERT,
                       "revert command object build failed",
                       "copy revert command failed error [%d]", nullptr, KYSO::SNAP_REVERTED,
                       KYSO::SNAP_REVERT_FAILED, false, nullptr});
}

Copy_Status CMCopyServerTegile::reconcileCopy() {
    static const char* const kHeader = "TEGILE CMCopyServerTegile::reconcileCopy() -";
    return runCommand(
        {kHeader, "reconcile", CopyType::CHECK, "check command object build failed",
         "copy check command failed error [%d]", nullptr, 0, 0, false,
         [this](CMTegileCopyCommand& command) {
             auto& map = command.getDevice()->getProperties();
             const std::string printed = command.getDevice()->print();
             info(kHeader, "copy check command  source Device [%s] target Device [%s]",
                  printed.c_str(), printed.c_str());
             if (map[TARGET_DEVICE_STATUS] != "available") {
                 request()->setSnapStatus(KYSO::SNAP_UNAVAILABLE);
                 info(kHeader, "copy check command  target Device ID  [%s] marked deleted on array",
                      map[TARGET_DEVICE_NAME].c_str());
             }
         }});
}
