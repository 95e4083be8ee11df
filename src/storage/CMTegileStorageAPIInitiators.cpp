// SPDX-License-Identifier: Apache-2.0
// Initiator operations: list the initiator groups and their members, find one initiator's
// group, make sure the host's own group exists, register an iSCSI initiator and add an
// initiator to a group. Several of these answers are bare text, not JSON.
#include "CMTegileStorageAPI.h"
#include "PropertyNames.h"

Copy_Status CMTegileStorageAPI::getInitiators(Properties& map,
                                              std::map<std::string, std::string>& initiators) {
    static const char* const kFunction = "getInitiators";
    started(kFunction);
    const bool iscsi = map[DEVICE_MAPPING_PROTOCOL] == "ISCSI";
    return listGroupMembers(
        kFunction,
        iscsi ? ArrayMethod::ListISCSIInitiatorGroups : ArrayMethod::ListFCInitiatorGroups,
        ArrayMethod::ListInitiatorsInInitiatorGroup, "initator group [%s]",
        [&](const std::string& group, const std::string& initiator) {
            log().info(kFunction, "initiator  [%s] initiatorgroup [%s]", initiator.c_str(),
                       group.c_str());
            initiators[initiator] = group;
            return true;
        });
}

Copy_Status CMTegileStorageAPI::getInitiatorGroup(Properties& map) {
    static const char* const kFunction = "getInitiatorGroup";
    started(kFunction);
    const std::string initiator = map[DEVICE_MAPPING_INITIATOR_NAME];
    std::string response;
    Copy_Status status =
        send({kFunction, ArrayMethod::GetInitiatorGroup, "[" + QString(initiator) + "]"}, response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    std::string group = response;
    if (group.size() >= 2 && group.front() == '"' && group.back() == '"') {
        group = group.substr(1, group.size() - 2);
    }
    // An answer of just two quotes names no group: mapping to it would map to nothing.
    if (group.empty()) {
        log().info(kFunction, "inititaor group not found [%s]  [%s]",
                   map[DEVICE_MAPPING_HOST_NAME].c_str(), initiator.c_str());
        return COPY_NOT_FOUND;
    }
    map[DEVICE_MAPPING_INITIATOR_GROUP_NAME] = group;
    log().info(kFunction, "initiator name [%s]  initiator group [%s]", initiator.c_str(),
               group.c_str());
    return COPY_SUCCESS;
}

Copy_Status CMTegileStorageAPI::createInitiatorGroup(Properties& map) {
    static const char* const kFunction = "createInitiatorGroup";
    started(kFunction);
    const std::string group =
        "KY-" + map[DEVICE_MAPPING_HOST_NAME] + "-" + map[DEVICE_MAPPING_PROTOCOL];
    log().info(kFunction, "checking inititaor group exist [%s]", group.c_str());
    std::string response;
    Copy_Status status =
        send({kFunction, ArrayMethod::InitiatorGroupExists, "[" + QString(group) + "]"}, response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    if (response == "false") {
        log().info(kFunction, "inititaor group not exist [%s] creating", group.c_str());
        status = send({kFunction, ArrayMethod::CreateInitiatorGroup, "[" + QString(group) + "]"},
                      response);
        if (status != COPY_SUCCESS) {
            return status;
        }
        if (response != "0") {
            log().error(kFunction, "inititaor group create failed [%s]", group.c_str());
            return COPY_FAILED;
        }
    }
    map[DEVICE_MAPPING_INITIATOR_GROUP_NAME] = group;
    log().info(kFunction, "initiator group [%s]", group.c_str());
    return COPY_SUCCESS;
}

Copy_Status CMTegileStorageAPI::addInitiatorToGroup(Properties& map) {
    static const char* const kFunction = "addInitiatorToGroup";
    started(kFunction);
    const std::string initiator = map[DEVICE_MAPPING_INITIATOR_NAME];
    const std::string group = map[DEVICE_MAPPING_INITIATOR_GROUP_NAME];
    std::string response;
    bool answered = false;
    ignoreStatus(send({kFunction, ArrayMethod::AddInitiatorToInitiatorGroup,
                       "[" + QString(initiator) + "," + QString(group) + "]"},
                      response, &answered),
                 "whether the array answered, and its answer, decide below");
    if (!answered) {
        log().error(kFunction, "adding inititaor [%s] to group failed [%s]", initiator.c_str(),
                    group.c_str());
        if (response.find("Initiator") != std::string::npos &&
            response.find("does not exist") != std::string::npos) {
            log().error(kFunction, "initiator does not exist [%s] ", initiator.c_str());
            return COPY_NOT_FOUND;
        }
    }
    if (response == "0") {
        return COPY_SUCCESS;
    }
    if (answered) {
        log().error(kFunction, "adding inititaor [%s] to group failed [%s]", initiator.c_str(),
                    group.c_str());
    }
    return COPY_FAILED;
}

Copy_Status CMTegileStorageAPI::createISCSIInitiator(Properties& map) {
    static const char* const kFunction = "createISCSIInitiator";
    started(kFunction);
    const std::string initiator = map[DEVICE_MAPPING_INITIATOR_NAME];
    std::string response;
    bool answered = false;
    Copy_Status status = send({kFunction,
                               ArrayMethod::CreateIscsiInitiator,
                               "[{" + QString("initiatorName") + ":" + QString(initiator) + "}]",
                               {{{"already exist"},
                                 COPY_SUCCESS,
                                 "ISCSI initiator already configured [%s] ",
                                 initiator}}},
                              response, &answered);
    if (!answered) {
        return status;
    }
    if (response != "0") {
        log().error(kFunction, "initator add failed [%s]", initiator.c_str());
        return COPY_FAILED;
    }
    return COPY_SUCCESS;
}
