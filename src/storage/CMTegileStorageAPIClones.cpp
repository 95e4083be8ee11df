// SPDX-License-Identifier: Apache-2.0
// Clone and mapping operations: clone a snapshot, find the clone, map it to an initiator
// group (or open a share clone to a host), unmap and delete it, and find an array target.
#include <arpa/inet.h>

#include "CMTegileStorageAPI.h"
#include "PluginTexts.h"
#include "PropertyNames.h"

namespace {

using Properties = CMTegileStorageAPI::Properties;

bool isShare(Properties& map) {
    return map[SNAP_CONFIG_PROTOCOL] == PROTOCOL_NFS;
}
}  // namespace

Copy_Status CMTegileStorageAPI::mountCopy(Properties& map) {
    static const char* const kFunction = "mountCopy";
    started(kFunction);
    const bool share = isShare(map);
    const std::string body = "[" + QString(map[TARGET_DEVICE_DATASET_PATH_NAME]) + "," +
                             QString(map[TARGET_DEVICE_MOUNT_NAME]) +
                             (share ? ",false]" : ",false,false]");
    return perform({kFunction,
                    share ? ArrayMethod::CloneShareSnapshot : ArrayMethod::CloneVolumeSnapshot,
                    body,
                    {accessDenied()}});
}

Copy_Status CMTegileStorageAPI::getMountedCopy(Properties& map) {
    if (!retry_) {
        return getMountedCopyInternal(map);
    }
    return poll(
        retryCount_, retryInterval_ * 1000, "getMountedCopy",
        [&] { return getMountedCopyInternal(map); },
        [](Copy_Status status) { return status == COPY_SUCCESS || status == COPY_FAILED; });
}

Copy_Status CMTegileStorageAPI::getMountedCopyInternal(Properties& map) {
    static const char* const kFunction = "getMountedCopyInternal";
    started(kFunction);
    const bool share = isShare(map);
    const std::string cloneName = map[TARGET_DEVICE_MOUNT_NAME];
    std::string response;
    Copy_Status status =
        send({kFunction, share ? ArrayMethod::ListShares : ArrayMethod::ListVolumes,
              "[" + QString(map[SOURCE_DEVICE_POOL_NAME]) + "," +
                  QString(map[SOURCE_DEVICE_PROJECT_NAME]) + "," + QString("true") + "]"},
             response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    jsonxx::Array datasets;
    if (!parsed(kFunction, response, datasets)) {
        return COPY_FAILED;
    }
    const jsonxx::Object* clone = nullptr;
    status = findByMember(log(), kFunction, datasets, "name", cloneName,
                          "JSON response: LUN or share name not found", clone);
    if (status != COPY_SUCCESS) {
        return status;
    }
    if (clone != nullptr) {
        log().info(kFunction, "JSON response: source device found lun id / share name [%s]",
                   cloneName.c_str());
        if (share) {
            status = readMembers(log(), kFunction, *clone,
                                 {{"mountpoint", MemberKind::Text, TARGET_DEVICE_MOUNTPOINT_NAME,
                                   "JSON response: target device  mounpoint [%s]",
                                   "JSON response: mountpoint not found"}},
                                 map);
        } else {
            status = readMembers(
                log(), kFunction, *clone,
                {{"luId", MemberKind::Text, TARGET_DEVICE_MOUNT_ID,
                  "JSON response: target device  lun ID [%s]", "JSON response: luId not found"}},
                map);
        }
        if (status == COPY_SUCCESS) {
            map[TARGET_DEVICE_MOUNTED] = VALUE_TRUE;
        }
        return status;
    }
    log().info(kFunction, "JSON response: target device not found lun / share name [%s]",
               cloneName.c_str());
    map[TARGET_DEVICE_MOUNTED] = VALUE_FALSE;
    return COPY_SUCCESS;
}

Copy_Status CMTegileStorageAPI::getMountedCopyByID(Properties& map) {
    static const char* const kFunction = "getMountedCopyByID";
    started(kFunction);
    std::string datasetPath;
    const Copy_Status status = datasetPathById(kFunction, map[TARGET_DEVICE_MOUNT_ID], datasetPath);
    if (status == COPY_SUCCESS) {
        map[TARGET_DEVICE_MOUNT_DATASET_PATH] = datasetPath;
    }
    return status;
}

Copy_Status CMTegileStorageAPI::unmountCopy(Properties& map) {
    if (!retry_) {
        return unmountCopyInternal(map);
    }
    return poll(
        retryCount_, retryInterval_ * 1000, "unmountCopy", [&] { return unmountCopyInternal(map); },
        [](Copy_Status status) { return status == COPY_SUCCESS; });
}

Copy_Status CMTegileStorageAPI::unmountCopyInternal(Properties& map) {
    static const char* const kFunction = "unmountCopyInternal";
    started(kFunction);
    if (map[SNAP_CONFIG_OS] == OS_HYPERV) {
        // A Hyper-V host keeps the clone; only its mapping goes.
        return unmapCopyFromHost(map);
    }
    const std::string clonePath = map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME];
    return perform({kFunction,
                    isShare(map) ? ArrayMethod::DeleteShare : ArrayMethod::DeleteVolume,
                    "[" + QString(clonePath) + ",true,true]",
                    {{{"No such volume exists"},
                      COPY_SUCCESS,
                      "clone [%s] does not exist in the array. marking delete success",
                      clonePath},
                     accessDenied(),
                     {{"No such share exist"},
                      COPY_SUCCESS,
                      "share [%s] does not exist in the array. marking delete success",
                      clonePath}}});
}

Copy_Status CMTegileStorageAPI::findTarget(Properties& map) {
    static const char* const kFunction = "findTarget";
    started(kFunction);
    const std::string targetId = map[DEVICE_TARGET_ID];
    if (targetId.find("iqn") != std::string::npos) {
        map[DEVICE_PROTOCOL] = "ISCSI";
    } else if (targetId.find("wwn") != std::string::npos) {
        map[DEVICE_PROTOCOL] = "FC";
    }
    const bool iscsi = map[DEVICE_PROTOCOL] == "ISCSI";
    return listGroupMembers(
        kFunction, iscsi ? ArrayMethod::ListISCSITargetGroups : ArrayMethod::ListFCTargetGroups,
        ArrayMethod::ListTargetsInTargetGroup, "target group [%s]",
        [&](const std::string& /*group*/, const std::string& target) {
            log().info(kFunction, "target  [%s]", target.c_str());
            if (target != targetId) {
                return true;
            }
            map[DEVICE_TARGET_FOUND] = "TRUE";
            return false;  // this group's scan ends at its first match
        });
}

Copy_Status CMTegileStorageAPI::mapCopyToHost(Properties& map) {
    static const char* const kFunction = "mapCopyToHost";
    started(kFunction);
    const bool first = map[TARGET_DEVICE_MAPPING_INDEX] == "0";
    const char* groupKey = first ? TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME
                                 : TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME2;
    const char* targetKey =
        first ? TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME : TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME2;
    const char* protocolKey =
        first ? TARGET_DEVICE_MAPPING_PROTOCOL : TARGET_DEVICE_MAPPING_PROTOCOL2;
    std::string& targetGroup = map[targetKey];
    if (targetGroup.empty()) {
        targetGroup = map[protocolKey] == "ISCSI"
                          ? "default-" + map[SOURCE_DEVICE_POOL_NAME] + "-iscsi-target-group"
                          : "default-fc-target-group";
    }
    const std::string body = "[" + QString(map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME]) + "," +
                             QString(map[groupKey]) + "," + QString(targetGroup) + ",-1]";
    return perform({kFunction,
                    ArrayMethod::CreateMappingForVolume,
                    body,
                    {{{"STMF_ERROR_VE_CONFLICT"},
                      COPY_SUCCESS,
                      "mapping already exist [%s] marking success",
                      body}}});
}

Copy_Status CMTegileStorageAPI::mapCopyToHostNFS(Properties& map) {
    static const char* const kFunction = "mapCopyToHostNFS";
    started(kFunction);
    const std::string host = map[TARGET_DEVICE_MAPPING_HOST_NAME];
    in_addr address{};
    const char* kind = inet_pton(AF_INET, host.c_str(), &address) == 1 ? "IP" : "FQDN";
    const std::string body = "[" + QString(map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME]) + "," +
                             QString(kind) + "," + QString(host) + "," + QString("rw") + ",false]";
    // One test for both texts: an answer holding both logs its line once.
    return perform({kFunction,
                    ArrayMethod::AddNFSNetworkACLOnShare,
                    body,
                    {{{"RESOURCE_EXIST", plugintext::kArrayAlreadyExists},
                      COPY_SUCCESS,
                      "mapping already exist [%s] marking success",
                      body}}});
}

Copy_Status CMTegileStorageAPI::unmapCopyFromHost(Properties& map) {
    static const char* const kFunction = "unmapCopyFromHost";
    started(kFunction);
    return perform({kFunction, ArrayMethod::DeleteMappingFromVolume,
                    "[" + QString(map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME]) + "," +
                        QString(map[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME]) + "," +
                        QString(map[TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME]) + "]"});
}
