// SPDX-License-Identifier: Apache-2.0
// Source lookup: where a host's volume (by LUN id) or share (by mount point) lives on the
// array, with the values snapshots and clones of it need later.
#include "CMParser.h"
#include "CMTegileStorageAPI.h"
#include "PropertyNames.h"

Copy_Status CMTegileStorageAPI::getdevice(Properties& map) {
    static const char* const kFunction = "getdevice";
    started(kFunction);
    const std::string lunId = map[SOURCE_DEVICE_ID];
    std::string datasetPath;
    Copy_Status status = datasetPathById(kFunction, lunId, datasetPath);
    if (status != COPY_SUCCESS) {
        return status;
    }
    // pool/mode/project/name
    std::vector<std::string> parts;
    CMParser().getValues(datasetPath, "/", parts);
    if (parts.size() != 4) {
        log().error(kFunction, "JSON response: datasetPath not valid [%s]", datasetPath.c_str());
        return COPY_FAILED;
    }
    map[SOURCE_DEVICE_DATASET_PATH] = datasetPath;
    map[SOURCE_DEVICE_POOL_NAME] = parts[0];
    map[SOURCE_DEVICE_MODE] = parts[1];
    map[SOURCE_DEVICE_PROJECT_NAME] = parts[2];
    map[SOURCE_DEVICE_NAME] = parts[3];

    std::string response;
    status = send({kFunction, ArrayMethod::ListVolumes,
                   "[" + QString(parts[0]) + "," + QString(parts[2]) + "," + QString("true") + "]"},
                  response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    const jsonxx::Array* volumes = nullptr;
    if (!parsedListing(kFunction, response, volumes)) {
        return COPY_FAILED;
    }
    const jsonxx::Object* volume = nullptr;
    status = findByMember(log(), kFunction, *volumes, "luId", lunId,
                          "JSON response: LUN ID not found", volume);
    if (status != COPY_SUCCESS) {
        return status;
    }
    if (volume == nullptr) {
        log().info(kFunction, "JSON response: source device not found lun id [%s]", lunId.c_str());
        return COPY_FAILED;
    }
    log().info(kFunction, "JSON response: source device found lun id [%s]", lunId.c_str());
    return readMembers(
        log(), kFunction, *volume,
        {
            {"volSize", MemberKind::Count, SOURCE_DEVICE_SIZE, "JSON response: volume size  [%s]",
             "JSON response: volsize not found"},
            {"blockSize", MemberKind::Text, SOURCE_DEVICE_BLOCK_SIZE,
             "JSON response: block size  [%s]", "JSON response: blocksize not found"},
            {"thinProvision", MemberKind::Flag, SOURCE_DEVICE_THIN_PROVISION,
             "JSON response: thin provision  [%s]", "JSON response: thinProvision not found"},
            {"protocol", MemberKind::Text, SOURCE_DEVICE_PROTOCOL, "JSON response: protocol  [%s]",
             "JSON response: protocol not found"},
            {"datasetPath", MemberKind::Text, SOURCE_DEVICE_DATASET_PATH,
             "JSON response: datasetPath  [%s]", "JSON response: datasetPath not found"},
        },
        map);
}

Copy_Status CMTegileStorageAPI::getdeviceNFS(Properties& map) {
    static const char* const kFunction = "getdeviceNFS";
    started(kFunction);
    const std::string mountPoint = map[SOURCE_DEVICE_MOUNT_POINT_NAME_HINT];
    std::string response;
    Copy_Status status =
        send({kFunction, ArrayMethod::ListSharesByMountPoints, "[[" + QString(mountPoint) + "]]"},
             response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    jsonxx::Object byMountPoint;
    if (!parsed(kFunction, response, byMountPoint)) {
        return COPY_FAILED;
    }
    if (!byMountPoint.has<jsonxx::Array>(mountPoint)) {
        log().error(kFunction, "JSON response: srcDeviceMountPointName not found");
        return COPY_FAILED;
    }
    const jsonxx::Array& shares = byMountPoint.get<jsonxx::Array>(mountPoint);
    if (shares.size() != 1) {
        log().error(kFunction, "JSON response: received data not matching with request [%s]",
                    response.c_str());
        return COPY_FAILED;
    }
    return readMembers(
        log(), kFunction, shares.get<jsonxx::Object>(0),
        {
            {"poolName", MemberKind::Text, SOURCE_DEVICE_POOL_NAME,
             "JSON response: pool name  [%s]", "JSON response: pool name  not found"},
            {"name", MemberKind::Text, SOURCE_DEVICE_NAME, "JSON response: name  [%s]",
             "JSON response: name  not found"},
            {"projectName", MemberKind::Text, SOURCE_DEVICE_PROJECT_NAME,
             "JSON response: project name  [%s]", "JSON response: project name  not found"},
            {"datasetPath", MemberKind::Text, SOURCE_DEVICE_DATASET_PATH,
             "JSON response:dataset path [%s]", "JSON response: data set path  not found"},
            {"local", MemberKind::LocalFlag, SOURCE_DEVICE_MODE, "JSON response:mode local [%s]",
             "JSON response: mode local not found"},
            {"availableSize", MemberKind::Count, SOURCE_DEVICE_AVAILABLE_SIZE,
             "JSON response: available size [%s]", "JSON response: availableSize not found"},
            {"totalSize", MemberKind::Count, SOURCE_DEVICE_TOTAL_SIZE,
             "JSON response: total size [%s]", "JSON response: total size not found"},
        },
        map);
}
