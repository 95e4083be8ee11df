// SPDX-License-Identifier: Apache-2.0
// Storage server: clones and their mapping, unmount, snapshot deletion and rollback, and the
// target lookup. Snapshots are "<pool>/<mode>/<project>/<name>@Manual-V-<snapshot>" for
// volumes ("@Manual-S-" for shares); clones are "MNT_<snapshot>", always under "Local".
#include "CMStorageDevice.h"
#include "CMStorageServerTegile.h"
#include "PropertyNames.h"

namespace {

using Properties = CMStorageDevice::Properties;

bool isShare(Properties& map) {
    return map[SNAP_CONFIG_PROTOCOL] == PROTOCOL_NFS;
}

std::string snapshotPrefix(Properties& map) {
    return isShare(map) ? "Manual-S-" : "Manual-V-";
}

// The snapshot's dataset path as deletion and rollback name it.
std::string snapshotPath(Properties& map) {
    return map[SOURCE_DEVICE_POOL_NAME] + "/" + map[SOURCE_DEVICE_MODE] + "/" +
           map[SOURCE_DEVICE_PROJECT_NAME] + "/" + map[SOURCE_DEVICE_NAME] + "@" +
           snapshotPrefix(map) + map[TARGET_DEVICE_NAME];
}

// Clones are made under "Local" whatever the source's mode, so mount and unmount must both
// name them there.
std::string clonePath(Properties& map) {
    return map[SOURCE_DEVICE_POOL_NAME] + "/Local/" + map[SOURCE_DEVICE_PROJECT_NAME] + "/" +
           map[TARGET_DEVICE_MOUNT_NAME];
}

}  // namespace

Copy_Status CMStorageServerTegile::mountCopy(CMStorageDevice* device) {
    static const char* const kFunction = "mountCopy";
    auto& map = device->getProperties();
    dataIn(kFunction, device);
    map[TARGET_DEVICE_DATASET_PATH_NAME] =
        map[SOURCE_DEVICE_DATASET_PATH_NAME] + "@" + snapshotPrefix(map) + map[TARGET_DEVICE_NAME];
    map[TARGET_DEVICE_MOUNT_NAME] = "MNT_" + map[TARGET_DEVICE_NAME];

    if (map[SKIP_TARGET_DEVICE_MOUNT] != VALUE_TRUE) {
        Copy_Status status = api_->mountCopy(map);
        if (status != COPY_SUCCESS) {
            error(kFunction, "storage API mount copy failed error [%d]", static_cast<int>(status));
            return status;
        }
        status = api_->getMountedCopy(map);
        if (status != COPY_SUCCESS) {
            error(kFunction, "storage API get mounted copy failed error [%d]",
                  static_cast<int>(status));
            return status;
        }
        if (map[TARGET_DEVICE_MOUNTED] != VALUE_TRUE) {
            error(kFunction, "could not find the target mount device [%s]",
                  device->print().c_str());
            return COPY_FAILED;
        }
    }
    map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME] = clonePath(map);

    if (!isShare(map)) {
        map[TARGET_DEVICE_MAPPING_INDEX] = "0";
        Copy_Status status = api_->mapCopyToHost(map);
        if (status != COPY_SUCCESS) {
            error(kFunction, "storage API mapCopyToHost failed error [%d]",
                  static_cast<int>(status));
            return status;
        }
        if (map[TARGET_DEVICE_MAPPING_COUNT] == "2") {
            // The second host (e.g. a proxy) is a convenience: the mount stands without it.
            map[TARGET_DEVICE_MAPPING_INDEX] = "1";
            status = api_->mapCopyToHost(map);
            if (status != COPY_SUCCESS) {
                error(kFunction, "storage API mapCopyToHost failed but skipping error [%d]",
                      static_cast<int>(status));
            }
        }
    } else {
        const Copy_Status status = api_->mapCopyToHostNFS(map);
        if (status != COPY_SUCCESS) {
            error(kFunction, "storage API mapCopyToHost failed error [%d]",
                  static_cast<int>(status));
            return status;
        }
    }
    dataOut(kFunction, device);
    return COPY_SUCCESS;
}

Copy_Status CMStorageServerTegile::getMountedCopy(CMStorageDevice* device) {
    return forward("getMountedCopy", "storage API get mounted copy failed error [%d]", device,
                   &CMTegileStorageAPI::getMountedCopy);
}

Copy_Status CMStorageServerTegile::unmountCopy(CMStorageDevice* device) {
    return forward("unmountCopy", "storage API unmount copy failed error [%d]", device,
                   &CMTegileStorageAPI::unmountCopy, [](Properties& map) {
                       map[TARGET_DEVICE_MOUNT_DATASET_PATH_NAME] = clonePath(map);
                   });
}

Copy_Status CMStorageServerTegile::deleteCopy(CMStorageDevice* device) {
    return forward("deleteCopy", "storage API delete copy failed error [%d]", device,
                   &CMTegileStorageAPI::deleteCopy, [](Properties& map) {
                       map[TARGET_DEVICE_DATASET_PATH_NAME] = snapshotPath(map);
                   });
}

Copy_Status CMStorageServerTegile::rollbackCopy(CMStorageDevice* device) {
    return forward("rollbackCopy", "storage API rollback copy failed error [%d]", device,
                   &CMTegileStorageAPI::rollbackCopy, [](Properties& map) {
                       map[TARGET_DEVICE_DATASET_PATH_NAME] = snapshotPath(map);
                   });
}

Copy_Status CMStorageServerTegile::findTarget(CMStorageDevice* device) {
    return forward("findTarget", "storage API find target failed error [%d]", device,
                   &CMTegileStorageAPI::findTarget);
}
