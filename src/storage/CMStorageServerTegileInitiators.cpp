// SPDX-License-Identifier: Apache-2.0
// Storage server: choosing the initiator and initiator group through which the host will see
// clones, creating the host's own group when the array knows none of its initiators.
#include <algorithm>
#include <map>
#include <vector>

#include "CMParser.h"
#include "CMStorageDevice.h"
#include "CMStorageServerTegile.h"
#include "PropertyNames.h"

Copy_Status CMStorageServerTegile::selectFCInitiator(CMStorageDevice* device) {
    static const char* const kFunction = "selectFCInitiator";
    auto& map = device->getProperties();
    dataIn(kFunction, device);
    map[DEVICE_MAPPING_PROTOCOL] = "FC";
    std::vector<std::string> hostInitiators;
    CMParser().getValues(map[DEVICE_MAPPING_INITIATOR_LIST], hostInitiators);
    const std::string hostName = map[DEVICE_MAPPING_HOST_NAME];

    std::map<std::string, std::string> groupOf;
    Copy_Status status = api_->getInitiators(map, groupOf);
    if (status != COPY_SUCCESS) {
        error(kFunction, "storage API getInitiators failed error [%d]", static_cast<int>(status));
        return status;
    }
    std::vector<std::string> candidates;
    for (const std::string& initiator : hostInitiators) {
        auto known = groupOf.find(initiator);
        if (known == groupOf.end()) {
            candidates.push_back(initiator);
            continue;
        }
        map[DEVICE_MAPPING_INITIATOR_NAME] = initiator;
        map[DEVICE_MAPPING_INITIATOR_GROUP_NAME] = known->second;
        info(kFunction, "FC initiator selected [%s], [%s]", initiator.c_str(),
             known->second.c_str());
        dataOut(kFunction, device);
        return COPY_SUCCESS;
    }

    map[DEVICE_MAPPING_PROTOCOL] = "FC";
    status = api_->createInitiatorGroup(map);
    if (status != COPY_SUCCESS) {
        dataOut(kFunction, device);
        return status;
    }
    std::sort(candidates.begin(), candidates.end());
    const std::string group = "KY-" + hostName + "-FC";
    for (const std::string& candidate : candidates) {
        map[DEVICE_MAPPING_INITIATOR_NAME] = candidate;
        map[DEVICE_MAPPING_INITIATOR_GROUP_NAME] = group;
        if (api_->addInitiatorToGroup(map) == COPY_SUCCESS) {
            dataOut(kFunction, device);
            return COPY_SUCCESS;
        }
    }
    info(kFunction, "could not select FC initiator");
    return COPY_NOT_FOUND;
}

Copy_Status CMStorageServerTegile::selectISCSIInitiator(CMStorageDevice* device) {
    static const char* const kFunction = "selectISCSIInitiator";
    auto& map = device->getProperties();
    dataIn(kFunction, device);
    map[DEVICE_MAPPING_PROTOCOL] = "ISCSI";
    Copy_Status status = api_->getInitiatorGroup(map);
    if (status == COPY_SUCCESS) {
        return COPY_SUCCESS;  // already in a group
    }
    if (status != COPY_NOT_FOUND) {
        error(kFunction, "storage API get initiator group failed error [%d]",
              static_cast<int>(status));
        return status;
    }
    status = api_->createISCSIInitiator(map);
    if (status != COPY_SUCCESS) {
        error(kFunction, "storage API create ISCSI initiator group failed error [%d]",
              static_cast<int>(status));
        return status;
    }
    info(kFunction, "ISCSI initiator created");
    status = api_->createInitiatorGroup(map);
    if (status != COPY_SUCCESS) {
        error(kFunction, "storage API create initiator group failed error [%d]",
              static_cast<int>(status));
        return status;
    }
    info(kFunction, "initiator group created");
    status = api_->addInitiatorToGroup(map);
    if (status != COPY_SUCCESS) {
        error(kFunction, "storage API add  initiator to group failed error [%d]",
              static_cast<int>(status));
        return status;
    }
    info(kFunction, "add initiator to group completed");
    return COPY_SUCCESS;
}
