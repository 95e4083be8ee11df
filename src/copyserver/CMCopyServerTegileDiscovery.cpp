// SPDX-License-Identifier: Apache-2.0
// Array discovery, device records and the per-call copy context.
#include <unistd.h>

#include <cstring>
#include <new>
#include <vector>

#include "CMCopyServerTegile.h"
#include "CMParser.h"
#include "CMStorageServerTegile.h"
#include "KYSOTypes.h"
#include "PropertyNames.h"
#include "UtilText.h"

namespace {

const char* const kFindHeader = "TEGILE CMCopyServer::findStorageServer() -";
const char* const kBuildHeader = "TEGILE CMCopyServerTegile::buildCopyDevices() -";
const char* const kContextHeader = "TEGILE CMCopyServerTegile::createCopyContext() -";
const char* const kArrayType = "Western Digital IntelliFlash";
constexpr int16_t kArrayInfoSize = 8192;
constexpr int16_t kIdentifierSize = 4096;
constexpr int16_t kConfigStringSize = 4096;
constexpr size_t kHostNameSize = 4096;
// Retry settings above these are held to them, so that a mount call always ends.
constexpr int32_t kMostRetries = 1000;
constexpr int32_t kMostRetryIntervalSeconds = 3600;

// Metadata keys: the prefixes order the map as the fields are ordered in the text.
const char* const kMetaKeys[] = {
    "01-META_DATA_VERSION",
    "02-SOURCE_DEVICE_ID",
    "03-SOURCE_DEVICE_NAME",
    "04-SOURCE_DEVICE_POOL_NAME",
    "05-SOURCE_DEVICE_PROJECT_NAME",
    "06-SOURCE_DEVICE_MODE",
    "07-TARGET_DEVICE_NAME",
    "08-TARGET_DEVICE_MOUNT_ID",
    "09-TARGET_DEVICE_MOUNT_NAME",
    "10-TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME",
    "11-TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME",
    "12-END",
};
const char* const kTransKeys[] = {
    "1-SOURCE_DEVICE_SIZE",
    "2-SOURCE_DEVICE_BLOCK_SIZE",
    "3-SOURCE_DEVICE_THIN_PROVISION",
    "4-SOURCE_DEVICE_PROTOCOL",
    "5-END",
};

template <size_t N>
CMParser::KeyValues decodeFields(const std::string& text, const char* const (&keys)[N]) {
    CMParser::KeyValues fields;
    for (const char* key : keys) {
        fields[key] = "";
    }
    CMParser().setKeyValues(text, fields);
    return fields;
}

}  // namespace

Copy_Status CMCopyServerTegile::findStorageServer(const std::string& targetId, bool search) {
    KYSO::SnapInfo* host = request();
    if (host->findArrayHost(targetId.c_str()) == 0) {
        info(kFindHeader, "source device target name [%s] found in HQ database ", targetId.c_str());
        return COPY_SUCCESS;
    }
    if (!search) {
        return COPY_SUCCESS;
    }
    info(kFindHeader, "source device host name [%s] not found in HQ database ", targetId.c_str());

    std::string listText;
    const int32_t listAnswer = readUtilText(
        kArrayInfoSize,
        [this](int32_t size, char* buffer) {
            return osUtil_->getArrayListByID(kArrayType, '|', size, buffer);
        },
        [this](int32_t size, int32_t answer) {
            info(kFindHeader, "getArrayInfo received buf size [%d] status [%d]", size, answer);
        },
        listText);
    if (listAnswer != 0) {
        error(kFindHeader, "getArrayListByID failed  error [%d]", listAnswer);
        return COPY_FAILED;
    }
    info(kFindHeader, "array list [%s]", listText.c_str());
    std::vector<std::string> names;
    CMParser().getValues(listText, names);

    for (const std::string& name : names) {
        std::string arrayInfo;
        const kyplatform::WipeAtScopeEnd wiped(arrayInfo);
        int32_t rawAnswer = 0;
        const int32_t infoAnswer = readUtilText(
            kArrayInfoSize,
            [&](int32_t size, char* buffer) {
                // This call reports the size it needs through its size argument.
                int16_t size16 = static_cast<int16_t>(std::min<int32_t>(size, INT16_MAX));
                rawAnswer = osUtil_->getArrayInfoByName(name.c_str(), buffer, size16);
                return rawAnswer > 0 ? std::max<int32_t>(size16, 1) : rawAnswer;
            },
            [&](int32_t, int32_t wanted) {
                info(kFindHeader, "getArrayInfo received buf size [%d] status [%d]", wanted,
                     rawAnswer);
            },
            arrayInfo);
        if (infoAnswer != 0) {
            error(kFindHeader, "getArrayInfo failed  error [%d]", infoAnswer);
            return COPY_FAILED;
        }
        ArrayAccess access;
        const Copy_Status accessStatus = arrayAccessFrom(
            kFindHeader, arrayInfo,
            {"arrayID not found in array info", "host user anme not found in array info",
             "host password not found in array info"},
            access);
        if (accessStatus != COPY_SUCCESS) {
            return accessStatus;
        }
        std::unique_ptr<CMStorageServerTegile> server;
        const Copy_Status initStatus = makeTemporaryServer(kFindHeader, access, server);
        if (initStatus != COPY_SUCCESS) {
            return initStatus;
        }
        CMStorageDevice probe;
        probe.getProperties()[DEVICE_TARGET_ID] = targetId;
        const Copy_Status findStatus = server->findTarget(&probe);
        server.reset();
        if (findStatus != COPY_SUCCESS) {
            error(kFindHeader, "storage server tegile find target failed error [%d]",
                  static_cast<int>(findStatus));
            return findStatus;
        }
        if (probe.getProperties()[DEVICE_TARGET_FOUND] == "TRUE") {
            info(kFindHeader, "storage server tegile  [%s]", name.c_str());
            const std::string pairing = name + "|" + targetId;
            if (host->findArrayHost(pairing.c_str()) == 0) {
                return COPY_SUCCESS;
            }
            break;
        }
    }
    error(kFindHeader, "source device target name [%s] not found in HQ database ",
          targetId.c_str());
    return COPY_NOT_FOUND;
}

Copy_Status CMCopyServerTegile::buildCopyDevices(CMStorageDevice* device, std::string& hostName,
                                                 std::string& userName, std::string& password) {
    KYSO::SnapInfo* host = request();
    auto& map = device->getProperties();

    ArrayAccess access;
    Copy_Status status = readArrayInfo(
        kBuildHeader, "getArrayInfo  received buf size [%d] status  [%d]",
        {"array host name not found in array info", "array host user name not found in array info",
         "array host user password not found in array info"},
        access);
    if (status != COPY_SUCCESS) {
        return status;
    }
    hostName = access.host;
    userName = access.user;
    password = access.password;
    info(kBuildHeader, "array host name [%s]", hostName.c_str());
    info(kBuildHeader, "array host user name [%s]", userName.c_str());
    info(kBuildHeader, "array host user password [%s]", "******");

    std::string description;
    if (readDevice(kBuildHeader, "getdevice received buf size [%d] status [%d]", description) !=
        COPY_SUCCESS) {
        return COPY_FAILED;
    }
    info(kBuildHeader, "source storage Device [%s]", description.c_str());
    if (isNfsDatastore(description)) {
        CMParser::KeyValues values;
        CMParser().getKeyValues(description, values);
        map[TARGET_DEVICE_MOUNT_HOST] = values["targethostname"];
        map[SOURCE_DEVICE_PATH] = values["lunuuid"];
    }

    std::string snapName;
    if (readRequestText(
            [host](char* buffer, int16_t& size) { return host->getSnapUUID(buffer, size); },
            kBuildHeader, "getSnapUUID  received buf size [%d] status  [%d]",
            snapName) != KYSO::BUFFER_OK) {
        error(kBuildHeader, "getSnapUUID failed snap ID  [%d]", host->getSnapId());
        return COPY_FAILED;
    }
    map[TARGET_DEVICE_NAME] = snapName;

    if (map[SNAP_CONFIG_PROTOCOL] == PROTOCOL_NFS) {
        // Whatever the JSON records hold, the mounted copy is still read; this is the result.
        status = parseMetaDataNFS(device);
    } else {
        auto readMeta = [&](int32_t kind, std::string& text) {
            return readRequestText(
                [host, kind](char* buffer, int16_t& size) {
                    return host->getMetaData(kind, buffer, size);
                },
                kBuildHeader, "getMetaData received buf size [%d] status [%d]", text);
        };
        std::string metaData;
        if (readMeta(KYSO::META_SNAPSHOT, metaData) != KYSO::BUFFER_OK) {
            error(kBuildHeader, "getMetaData failed snap ID  [%d]", host->getSnapId());
            return COPY_FAILED;
        }
        info(kBuildHeader, "meta data [%s]", metaData.c_str());
        CMParser::KeyValues fields = decodeFields(metaData, kMetaKeys);
        map[::META_DATA_VERSION] = fields["01-META_DATA_VERSION"];
        if (map[SOURCE_DEVICE_ID].empty()) {
            map[SOURCE_DEVICE_ID] = fields["02-SOURCE_DEVICE_ID"];
        }
        map[SOURCE_DEVICE_NAME] = fields["03-SOURCE_DEVICE_NAME"];
        map[SOURCE_DEVICE_POOL_NAME] = fields["04-SOURCE_DEVICE_POOL_NAME"];
        map[SOURCE_DEVICE_PROJECT_NAME] = fields["05-SOURCE_DEVICE_PROJECT_NAME"];
        map[SOURCE_DEVICE_MODE] = fields["06-SOURCE_DEVICE_MODE"];
        if (snapName.empty()) {
            map[TARGET_DEVICE_NAME] = fields["07-TARGET_DEVICE_NAME"];
        }
        map[TARGET_DEVICE_MOUNT_ID] = fields["08-TARGET_DEVICE_MOUNT_ID"];
        map[TARGET_DEVICE_MOUNT_NAME] = fields["09-TARGET_DEVICE_MOUNT_NAME"];
        map[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME] =
            fields["10-TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME"];
        map[TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME] =
            fields["11-TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME"];
        setDatasetPathName(map);

        std::string transMetaData;
        if (readMeta(KYSO::META_TRANS, transMetaData) != KYSO::BUFFER_OK) {
            error(kBuildHeader, "getMetaData failed snap ID  [%d]", host->getSnapId());
            return COPY_FAILED;
        }
        info(kBuildHeader, "trans meta data [%s]", transMetaData.c_str());
        CMParser::KeyValues trans = decodeFields(transMetaData, kTransKeys);
        map[SOURCE_DEVICE_SIZE] = trans["1-SOURCE_DEVICE_SIZE"];
        map[SOURCE_DEVICE_BLOCK_SIZE] = trans["2-SOURCE_DEVICE_BLOCK_SIZE"];
        map[SOURCE_DEVICE_THIN_PROVISION] = trans["3-SOURCE_DEVICE_THIN_PROVISION"];
        map[SOURCE_DEVICE_PROTOCOL] = trans["4-SOURCE_DEVICE_PROTOCOL"];
    }

    // A host that cannot say which device shows the mounted copy is taken to have none.
    std::string snapDevice;
    if (readRequestText(
            [host](char* buffer, int16_t& size) { return host->getSnapDevice(buffer, size); },
            kBuildHeader, "getSnapDevice received buf size [%d] status [%d]",
            snapDevice) != KYSO::BUFFER_OK) {
        error(kBuildHeader, "getSnapDevice failed snap ID  [%d]", host->getSnapId());
        snapDevice.clear();
    }
    info(kBuildHeader, "snap Device [%s]", snapDevice.c_str());
    if (!snapDevice.empty()) {
        map[TARGET_DEVICE_MOUNTED] = VALUE_TRUE;
        map[TARGET_DEVICE_MAPPING_NAME] = snapDevice;
    }
    return status;
}

int CMCopyServerTegile::readHostIdentifier(std::string& identifier) {
    KYSO::SnapInfo* host = request();
    HostBuffer buffer(kIdentifierSize);
    int answer = KYSO::BUFFER_OK;
    for (int regrows = 0;; ++regrows) {
        int16_t size = buffer.size();
        answer = host->getHostIdentifier(buffer.data(), size);
        if (answer != KYSO::BUFFER_TOO_SMALL || size <= buffer.size() ||
            regrows >= kMaxBufferRegrows) {
            break;
        }
        buffer.resize(size);
    }
    // Only a refusal fails: any other answer leaves the text the host put in the buffer.
    identifier.clear();
    if (answer != KYSO::BUFFER_FAILED) {
        identifier.assign(buffer.data(),
                          strnlen(buffer.data(), static_cast<size_t>(buffer.size())));
    }
    return answer;
}

Copy_Status CMCopyServerTegile::createCopyContext(const std::string& operation) {
    KYSO::SnapInfo* host = request();
    context_.reset(new (std::nothrow) CMCopyContext());
    if (!context_) {
        error(kContextHeader, "CMCopyContext object allocation failed");
        return COPY_NO_MEMORY;
    }

    auto configInt = [&](const char* name, int32_t fallback) {
        int32_t value = 0;
        if (host->getConfigInt(name, value) == 0) {
            info(kContextHeader, "Array config [%s = %d]", name, value);
            return value;
        }
        info(kContextHeader, "failed to get config [%s]", name);
        return fallback;
    };
    // A negative retry setting read as unsigned would keep a mount call retrying for ever: it
    // is replaced by the default. A larger one than the bound is held to the bound, which is
    // nearer what the site asked for than the default.
    auto retrySetting = [&](const char* name, unsigned int fallback, int32_t most) {
        const int32_t value = configInt(name, static_cast<int32_t>(fallback));
        if (value < 0 || value > most) {
            const unsigned int used = value < 0 ? fallback : static_cast<unsigned int>(most);
            error(kContextHeader, "WARNING : config [%s = %d] outside 0 to %d, using [%u]", name,
                  value, most, used);
            return used;
        }
        return static_cast<unsigned int>(value);
    };
    context_->setRetryCount(
        retrySetting(SMCONFIG_NAME_SNAP_OP_RETRY_COUNT, defaultRetryCount_, kMostRetries));
    context_->setRetryInterval(retrySetting(SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC,
                                            defaultRetryInterval_, kMostRetryIntervalSeconds));
    context_->setDiagLogging(
        configInt(SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING, defaultDiagLogging_ ? 1 : 0) > 0);
    std::vector<char> groupBuffer(kConfigStringSize, '\0');
    int16_t groupSize = kConfigStringSize;
    if (host->getConfigString(SMCONFIG_NAME_TARGET_GROUP, groupBuffer.data(), groupSize) == 0) {
        const std::string group(groupBuffer.data(),
                                strnlen(groupBuffer.data(), groupBuffer.size()));
        info(kContextHeader, "Array config [%s = %s]", SMCONFIG_NAME_TARGET_GROUP, group.c_str());
        context_->setTargetGroup(group);
    } else {
        info(kContextHeader, "failed to get config [%s]", SMCONFIG_NAME_TARGET_GROUP);
    }

    std::string description;
    if (readDevice(kContextHeader, "getdevice buf too small received buf size [%d] error [%d]",
                   description) != COPY_SUCCESS) {
        return COPY_FAILED;
    }
    info(kContextHeader, "source storage Device [%s]", description.c_str());

    const bool mountOrUnmount = operation == "mount" || operation == "unmount";
    const bool vmware = description.find("idatype:vmware") != std::string::npos;
    auto readIdentifier = [&](std::string& identifier) {
        if (readHostIdentifier(identifier) == KYSO::BUFFER_FAILED) {
            error(kContextHeader, "get  host identifier failed");
            return false;
        }
        info(kContextHeader, "Received host identifier of the ESX server [%s]", identifier.c_str());
        CMParser::KeyValues values;
        CMParser().getKeyValues(identifier, values);
        context_->setESXHostName(values["esxname"]);
        info(kContextHeader, "Parsed esx name[%s] from host identifier [%s]",
             context_->getESXHostName().c_str(), identifier.c_str());
        return true;
    };

    if (isNfsDatastore(description)) {
        context_->setProtocol(PROTOCOL_NFS);
        if (mountOrUnmount) {
            std::string identifier;
            if (!readIdentifier(identifier)) {
                return COPY_FAILED;
            }
        }
        return COPY_SUCCESS;
    }
    if (!mountOrUnmount) {
        return COPY_SUCCESS;
    }

    if (vmware) {
        context_->setAppType("vmware");
        milestone(kContextHeader, "Get host identifier of the ESX server");
        std::string identifier;
        if (!readIdentifier(identifier)) {
            return COPY_FAILED;
        }
        context_->setHostName(identifier);
    } else {
        std::vector<char> name(kHostNameSize + 1, '\0');
        if (gethostname(name.data(), kHostNameSize) != 0) {
            name[0] = '\0';
        }
        context_->setHostName(std::string(name.data(), strnlen(name.data(), kHostNameSize)));
        if (context_->getHostName().empty()) {
            error(kContextHeader, "get host name  failed");
            return COPY_FAILED;
        }
    }

    std::string arrayInfo;
    const kyplatform::WipeAtScopeEnd wiped(arrayInfo);
    if (readRequestText(
            [host](char* buffer, int16_t& size) { return host->getArrayInfo(buffer, size); },
            kContextHeader, "getArrayInfo  received buf size [%d] status [%d]",
            arrayInfo) != KYSO::BUFFER_OK) {
        error(kContextHeader, "getArrayInfo failed  error [%d]", 1);
        return COPY_FAILED;
    }
    logArrayInfo(kContextHeader, arrayInfo);
    CMParser::KeyValues arrayValues;
    CMParser().getKeyValues(arrayInfo, arrayValues);
    if (auto secret = arrayValues.find("hostPassword"); secret != arrayValues.end()) {
        kyplatform::wipeSecret(secret->second);  // only the array's id is needed here
    }
    auto arrayId = arrayValues.find("arrayId");
    if (arrayId == arrayValues.end()) {
        error(kContextHeader, "array host name not found in array info");
        return COPY_FAILED;
    }
    const std::string arrayHost = arrayId->second;
    info(kContextHeader, "array host name [%s]", arrayHost.c_str());

    std::list<std::string> esxFc, esxIscsi, localFc, localIscsi;
    Copy_Status status;
    if (vmware) {
        status = detectHbalist(context_->getHostName(), arrayHost, esxFc, esxIscsi);
        if (status != COPY_SUCCESS) {
            error(kContextHeader,
                  "detect hba list failed for host identifier of the ESX server [%s]",
                  context_->getHostName().c_str());
            return status;
        }
    }
    status = detectHbalist("", arrayHost, localFc, localIscsi);
    if (status != COPY_SUCCESS) {
        if (!vmware) {
            error(kContextHeader, "detect hba list failed for host [%s]",
                  context_->getHostName().c_str());
            return status;
        }
        error(kContextHeader,
              "detect hba list failed for local host  - skipping vmware device [%s]",
              description.c_str());
    }
    std::vector<std::string> initiators;
    const auto& fc = vmware ? esxFc : localFc;
    const auto& iscsi = vmware ? esxIscsi : localIscsi;
    initiators.insert(initiators.end(), fc.begin(), fc.end());
    initiators.insert(initiators.end(), iscsi.begin(), iscsi.end());
    context_->setInitiatorList(initiators);

    if (operation == "unmount") {
        return COPY_SUCCESS;
    }
    std::string name, group, type;
    status = selectInitiator(localFc, localIscsi, name, group, type);
    if (status == COPY_SUCCESS) {
        context_->setLocalInitiatorName(name);
        context_->setLocalInitiatorGroup(group);
        context_->setLocalInitiatorType(type);
    } else if (vmware) {
        error(kContextHeader, "select local initiator failed for vmware device - skipping");
    } else {
        error(kContextHeader, "select local initiator failed");
        return status;
    }
    if (vmware) {
        name.clear();
        group.clear();
        type.clear();
        status = selectInitiator(esxFc, esxIscsi, name, group, type);
        if (status != COPY_SUCCESS) {
            error(kContextHeader, "select remote initiator failed");
            return status;
        }
        context_->setRemoteInitiatorName(name);
        context_->setRemoteInitiatorGroup(group);
        context_->setRemoteInitiatorType(type);
    }
    std::list<std::string> devices;
    if (scanDevices(vmware ? context_->getHostName() : std::string(), devices) != COPY_SUCCESS) {
        error(kContextHeader, "scan devices failed error [%d]", static_cast<int>(COPY_FAILED));
        return COPY_FAILED;
    }
    context_->setDeviceListBeforeMap(devices);
    return COPY_SUCCESS;
}
