// SPDX-License-Identifier: Apache-2.0
// Snapshot operations: create (one at a time or as one batch), follow creation, list with a
// per-object cache, delete and roll back.
#include "CMStorageDevice.h"
#include "CMTegileStorageAPI.h"
#include "PropertyNames.h"

namespace {

using Properties = CMTegileStorageAPI::Properties;

bool isShare(Properties& map) {
    return map[SNAP_CONFIG_PROTOCOL] == PROTOCOL_NFS;
}

bool isDecimal(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The writer escapes '/' as "\/"; the array wants plain slashes. Only that escape is undone,
// so that every other escape (a quote or backslash in a name) stays intact.
std::string withPlainSlashes(const std::string& json) {
    std::string text;
    text.reserve(json.size());
    for (size_t i = 0; i < json.size(); ++i) {
        if (json[i] == '\\' && i + 1 < json.size()) {
            if (json[i + 1] != '/') {
                text += json[i];
            }
            text += json[++i];
        } else {
            text += json[i];
        }
    }
    return text;
}

}  // namespace

Copy_Status CMTegileStorageAPI::createCopy(Properties& map) {
    static const char* const kFunction = "createCopy";
    std::string body;
    const bool share = isShare(map);
    const ArrayMethod method =
        share ? ArrayMethod::CreateShareSnapshot : ArrayMethod::CreateVolumeSnapshot;
    if (share) {
        jsonxx::Object share;
        share.import("poolName", map[SOURCE_DEVICE_POOL_NAME]);
        share.import("projectName", map[SOURCE_DEVICE_PROJECT_NAME]);
        share.import("name", map[SOURCE_DEVICE_NAME]);
        share.import("availableSize", map[SOURCE_DEVICE_AVAILABLE_SIZE]);
        share.import("totalSize", map[SOURCE_DEVICE_TOTAL_SIZE]);
        share.import("datasetPath", map[SOURCE_DEVICE_DATASET_PATH_NAME]);
        share.import("mountpoint", map[SOURCE_DEVICE_MOUNTPOINT_NAME]);
        share.import("local", true);
        body = "[" + withPlainSlashes(share.json()) + "," + QString(map[TARGET_DEVICE_NAME]) +
               ",false]";
    } else {
        // Size and thin provisioning go in bare, as the array's number and boolean; a value
        // that is not one (a damaged stored record) is quoted rather than spliced in.
        const std::string& size = map[SOURCE_DEVICE_SIZE];
        const std::string& thin = map[SOURCE_DEVICE_THIN_PROVISION];
        body = "[{" + QString("poolName") + ":" + QString(map[SOURCE_DEVICE_POOL_NAME]) + "," +
               QString("projectName") + ":" + QString(map[SOURCE_DEVICE_PROJECT_NAME]) + "," +
               QString("name") + ":" + QString(map[SOURCE_DEVICE_NAME]) + "," + QString("luId") +
               ":" + QString(map[SOURCE_DEVICE_ID]) + "," + QString("volSize") + ":" +
               (isDecimal(size) ? size : QString(size)) + "," + QString("blockSize") + ":" +
               QString(map[SOURCE_DEVICE_BLOCK_SIZE]) + "," + QString("thinProvision") + ":" +
               (thin == VALUE_TRUE || thin == VALUE_FALSE ? thin : QString(thin)) + "," +
               QString("protocol") + ":" + QString(map[SOURCE_DEVICE_PROTOCOL]) + "," +
               QString("datasetPath") + ":" + QString(map[SOURCE_DEVICE_DATASET_PATH]) + "," +
               QString("local") + ":" + QString("true") + "}," + QString(map[TARGET_DEVICE_NAME]) +
               ",false]";
    }
    std::string response;
    return send({kFunction, method, body, {accessDenied()}}, response);
}

void CMTegileStorageAPI::addRequest(CMStorageDevice* device) {
    batchList_.push_back(device);
}

Copy_Status CMTegileStorageAPI::batchCreateCopy() {
    static const char* const kFunction = "batchCreateCopy";
    std::string paths;
    for (CMStorageDevice* device : batchList_) {
        Properties& map = device->getProperties();
        const std::string path = map[SOURCE_DEVICE_POOL_NAME] + "/" + map[SOURCE_DEVICE_MODE] +
                                 "/" + map[SOURCE_DEVICE_PROJECT_NAME] + "/" +
                                 map[SOURCE_DEVICE_NAME] + "@" + snapshotName(map);
        map[TARGET_DEVICE_DATASET_PATH_NAME] = path;
        paths += (paths.empty() ? "" : ",") + QString(path);
    }
    std::string response;
    Copy_Status status =
        send({kFunction, ArrayMethod::CreateSnapshots, "[[" + paths + "],false, false]"}, response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    jsonxx::Array results;
    if (!parsed(kFunction, response, results)) {
        return COPY_FAILED;
    }
    if (results.size() != batchList_.size()) {
        log().error(kFunction, "JSON response: received data not matching with request [%s]",
                    response.c_str());
        return COPY_FAILED;
    }
    for (size_t i = 0; i < results.size(); ++i) {
        const jsonxx::Object& result = results.get<jsonxx::Object>(i);
        if (!results.has<jsonxx::Object>(i) || !result.has<jsonxx::Number>("commandStatus")) {
            log().error(kFunction, "JSON response: commandStatus not found");
            return COPY_FAILED;
        }
        if (statusNumber(result.get<jsonxx::Number>("commandStatus")) != 0) {
            log().error(kFunction, "snapshot creation failed ");
            if (result.has<jsonxx::Object>("commandException")) {
                log().error(kFunction, "JSON error response: [%s]",
                            result.get<jsonxx::Object>("commandException").json().c_str());
            }
            return COPY_FAILED;
        }
    }
    return COPY_SUCCESS;
}

Copy_Status CMTegileStorageAPI::getCopyCreatedStatus(Properties& map) {
    if (!retry_) {
        return getCopyCreatedStatusInternal(map);
    }
    return poll(
        3000, 100, nullptr, [&] { return getCopyCreatedStatusInternal(map); },
        [](Copy_Status status) { return status == COPY_SUCCESS || status == COPY_FAILED; });
}

Copy_Status CMTegileStorageAPI::getCopyCreatedStatusInternal(Properties& map) {
    static const char* const kFunction = "getCopyCreatedStatusInternal";
    std::string response;
    Copy_Status status = send({kFunction,
                               isShare(map) ? ArrayMethod::GetShareSnapshotCreationStatus
                                            : ArrayMethod::GetVolumeSnapshotCreationStatus,
                               "[" + QString(map[SOURCE_DEVICE_DATASET_PATH_NAME]) + "," +
                                   QString(map[TARGET_DEVICE_NAME]) + "]"},
                              response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    jsonxx::Object progress;
    if (!parsed(kFunction, response, progress)) {
        return COPY_FAILED;
    }
    if (!progress.has<jsonxx::Number>("snapshotProgressStatus")) {
        log().error(kFunction, "JSON response: snapshot progress status not found");
        return COPY_FAILED;
    }
    const uint32_t value = statusNumber(progress.get<jsonxx::Number>("snapshotProgressStatus"));
    log().info(kFunction, "JSON response: snapshot progress status [1=inprogress] [%u]", value);
    switch (value) {
        case 0:
            return COPY_SUCCESS;
        case 1:
            return COPY_IN_PROGRESS;
        default:
            return COPY_FAILED;
    }
}

Copy_Status CMTegileStorageAPI::listSnapshots(
    const char* function, Properties& map, const std::string& selector, const std::string& fullName,
    bool& listed, const std::function<void(const std::string&)>& visit) {
    listed = false;
    map[TARGET_DEVICE_STATUS] = "unavailable";
    std::string response;
    const Copy_Status status =
        send({function,
              ArrayMethod::ListSnapshots,
              "[" + QString(map[SOURCE_DEVICE_DATASET_PATH_NAME]) + "," + QString(selector) + "]",
              {accessDenied()}},
             response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    if (response.empty()) {
        log().info(function, "snapshot [%s] not found", fullName.c_str());
        return COPY_SUCCESS;
    }
    jsonxx::Array names;
    if (!parsed(function, response, names) ||
        !withinLimit(log(), function, names, kMaxListElements)) {
        return COPY_FAILED;
    }
    listed = true;
    for (size_t i = 0; i < names.size(); ++i) {
        if (!names.has<jsonxx::String>(i)) {
            continue;
        }
        const std::string& name = names.get<jsonxx::String>(i);
        if (name == fullName) {
            map[TARGET_DEVICE_STATUS] = "available";
            log().info(function, "target device status [%s]", "available");
        }
        if (visit) {
            visit(name);
        }
    }
    return COPY_SUCCESS;
}

Copy_Status CMTegileStorageAPI::getCopy(Properties& map) {
    static const char* const kFunction = "getCopy";
    started(kFunction);
    const std::string fullName = snapshotName(map);
    bool listed = false;
    return listSnapshots(kFunction, map, fullName, fullName, listed, {});
}

Copy_Status CMTegileStorageAPI::getCopies(Properties& map) {
    static const char* const kFunction = "getCopies";
    started(kFunction);
    const std::string fullName = snapshotName(map);
    const std::string prefix = map[SOURCE_DEVICE_DATASET_PATH_NAME] + "@";
    const std::string key = prefix + fullName;
    map[TARGET_DEVICE_STATUS] = "unavailable";

    const bool datasetSeen = listedDatasets_.count(prefix) != 0;
    if (listedSnapshots_.count(key) != 0) {
        map[TARGET_DEVICE_STATUS] = "available";
        log().info(kFunction, "data set and target device found in cache [%s]", key.c_str());
        log().info(kFunction, "target device status [%s]", "available");
        return COPY_SUCCESS;
    }
    if (datasetSeen) {
        log().info(kFunction, "data set found target device not found in cache [%s]", key.c_str());
        log().info(kFunction, "target device status [%s]", "unavailable");
        return COPY_SUCCESS;
    }
    log().info(kFunction, "data set and  target device not found in cache [%s]", key.c_str());
    // The listing names only this plug-in's snapshots ("KY-"); it is kept for the object's
    // life, so checking many snapshots of one dataset costs one call.
    bool listed = false;
    const Copy_Status status =
        listSnapshots(kFunction, map, "KY-", fullName, listed, [&](const std::string& name) {
            listedSnapshots_.insert(prefix + name);
            listedDatasets_.insert(prefix);
        });
    if (listed) {
        completed(kFunction);
    }
    return status;
}

Copy_Status CMTegileStorageAPI::deleteCopy(Properties& map) {
    static const char* const kFunction = "deleteCopy";
    started(kFunction);
    const std::string path = map[TARGET_DEVICE_DATASET_PATH_NAME];
    std::string response;
    bool answered = false;
    Copy_Status status =
        send({kFunction,
              isShare(map) ? ArrayMethod::DeleteShareSnapshot : ArrayMethod::DeleteVolumeSnapshot,
              "[" + QString(path) + ",true]",
              {{{"does not exist"},
                COPY_SUCCESS,
                "snapshot [%s] does not exist in the array. marking delete success",
                path},
               accessDenied()}},
             response, &answered);
    if (!answered) {
        return status;  // a failure, or a snapshot that is already gone
    }
    jsonxx::Object deletion;
    if (!parsed(kFunction, response, deletion)) {
        return COPY_FAILED;
    }
    if (!deletion.has<jsonxx::Number>("snapshotDeletionStatus")) {
        log().error(kFunction, "JSON response: snapshot deletion status not found");
        return COPY_FAILED;
    }
    const uint32_t value = statusNumber(deletion.get<jsonxx::Number>("snapshotDeletionStatus"));
    log().error(kFunction, "JSON response: snapshot deletion status [%u]", value);
    return value == 0 ? COPY_SUCCESS : COPY_FAILED;
}

Copy_Status CMTegileStorageAPI::rollbackCopy(Properties& map) {
    static const char* const kFunction = "rollbackCopy";
    started(kFunction);
    const std::string path = map[TARGET_DEVICE_DATASET_PATH_NAME];
    log().error(kFunction, "WARNING : roll back of snap would delete all newer snaps [%s]",
                path.c_str());
    return perform({kFunction,
                    isShare(map) ? ArrayMethod::RollBackToShareSnapshot
                                 : ArrayMethod::RollBackToVolumeSnapshot,
                    "[" + QString(path) + ",true]",
                    {accessDenied()}});
}
