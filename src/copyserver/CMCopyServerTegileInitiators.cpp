// SPDX-License-Identifier: Apache-2.0
// Host initiators, initiator choice and the host's device scans.
#include <algorithm>
#include <new>
#include <unordered_set>
#include <vector>

#include "CMCopyServerTegile.h"
#include "CMParser.h"
#include "CMStorageServerTegile.h"
#include "CMTegileCopyCommand.h"
#include "PropertyNames.h"
#include "UtilText.h"

namespace {
const char* const kDetectHeader = "TEGILE CMCopyServerTegile::detectHbalist() -";
const char* const kSelectHeader = "TEGILE CMCopyServerTegile::selectInitiator() -";
const char* const kScanHeader = "TEGILE CMCopyServerTegile::scanDevices() -";
constexpr int32_t kDeviceListSize = 8192;
constexpr unsigned char kIscsiFlag = 1;
constexpr size_t kWwnPrefixLength = 4;  // "wwn."
}  // namespace

Copy_Status CMCopyServerTegile::detectHbalist(const std::string& host, const std::string& arrayHost,
                                              std::list<std::string>& fcList,
                                              std::list<std::string>& iscsiList) {
    auto list = [&](char* names, int16_t& namesLength, char* flags, int16_t& flagsLength,
                    int16_t& count) {
        return host.empty() ? osUtil_->getLocalHbaList(nullptr, arrayHost.c_str(), names,
                                                       namesLength, flags, flagsLength, count)
                            : osUtil_->getRemoteHbaList(host.c_str(), arrayHost.c_str(), names,
                                                        namesLength, flags, flagsLength, count);
    };
    int16_t namesLength = 0;
    int16_t flagsLength = 0;
    int16_t count = 0;
    int32_t answer = list(nullptr, namesLength, nullptr, flagsLength, count);
    if ((answer != 0 && namesLength == 0) || namesLength < 0 || flagsLength < 0) {
        error(kDetectHeader, "no initiators found");
        return COPY_FAILED;
    }
    // One spare byte keeps the names terminated whatever the host writes.
    std::vector<char> names;
    std::vector<char> flags;
    try {
        names.assign(static_cast<size_t>(namesLength) + 1, '\0');
        flags.assign(static_cast<size_t>(flagsLength) + 1, '\0');
    } catch (const std::bad_alloc&) {
        error(kDetectHeader, "failed to allocate memory");
        return COPY_NO_MEMORY;
    }
    const int16_t namesCapacity = namesLength;
    const int16_t flagsCapacity = flagsLength;
    answer = list(names.data(), namesLength, flags.data(), flagsLength, count);
    if (answer != 0 && namesLength == 0) {
        error(kDetectHeader, "no initiators returned");
        return COPY_FAILED;
    }
    // Never trust the lengths written back beyond the buffers the host was given.
    const size_t flagsKnown =
        static_cast<size_t>(std::max<int16_t>(0, std::min(flagsLength, flagsCapacity)));
    names[static_cast<size_t>(namesCapacity)] = '\0';
    std::vector<std::string> entries;
    CMParser parser;
    parser.getValues(std::string(names.data()), ",", entries);
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string name = entries[i];
        if (i >= flagsKnown) {
            error(kDetectHeader, "initiator [%s] has no type byte, skipped", name.c_str());
            continue;
        }
        if (static_cast<unsigned char>(flags[i]) == kIscsiFlag) {
            parser.toLower(name);
            iscsiList.push_back(name);
        } else {
            parser.toUpper(name);
            fcList.push_back(name);
        }
    }
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::selectInitiator(const std::list<std::string>& fcList,
                                                const std::list<std::string>& iscsiList,
                                                std::string& name, std::string& group,
                                                std::string& type) {
    const std::string hostName = isVMware() ? context_->getESXHostName() : context_->getHostName();
    ArrayAccess access;
    Copy_Status status =
        readArrayInfo(kSelectHeader, "getArrayInfo received buf size [%d] status [%d]",
                      {"arrayID not found in array info", "host user anme not found in array info",
                       "host password not found in array info"},
                      access);
    if (status != COPY_SUCCESS) {
        return status;
    }
    std::unique_ptr<CMStorageServerTegile> server;
    status = makeTemporaryServer(kSelectHeader, access, server);
    if (status != COPY_SUCCESS) {
        return status;
    }
    bool selected = false;
    if (!fcList.empty()) {
        std::string offered;
        for (std::string initiator : fcList) {
            initiator.erase(std::remove(initiator.begin(), initiator.end(), ':'), initiator.end());
            offered += "wwn." + initiator + "|";
        }
        CMStorageDevice choice;
        auto& map = choice.getProperties();
        map[DEVICE_MAPPING_INITIATOR_LIST] = offered;
        map[DEVICE_MAPPING_HOST_NAME] = hostName;
        const std::string& chosen = map[DEVICE_MAPPING_INITIATOR_NAME];
        if (server->selectFCInitiator(&choice) != COPY_SUCCESS) {
            error(kSelectHeader, "FC initiator selection failed");
        } else if (chosen.size() < kWwnPrefixLength) {
            // Too short to carry the "wwn." prefix of every offered name: not a choice.
            error(kSelectHeader, "FC initiator selection answered no initiator name [%s]",
                  chosen.c_str());
        } else {
            name = chosen.substr(kWwnPrefixLength);
            group = map[DEVICE_MAPPING_INITIATOR_GROUP_NAME];
            type = "FC";
            selected = true;
        }
    }
    if (!selected && !iscsiList.empty()) {
        CMStorageDevice choice;
        auto& map = choice.getProperties();
        map[DEVICE_MAPPING_INITIATOR_LIST] = iscsiList.front();
        map[DEVICE_MAPPING_INITIATOR_NAME] = iscsiList.front();
        map[DEVICE_MAPPING_HOST_NAME] = hostName;
        if (server->selectISCSIInitiator(&choice) == COPY_SUCCESS) {
            name = map[DEVICE_MAPPING_INITIATOR_NAME];
            group = map[DEVICE_MAPPING_INITIATOR_GROUP_NAME];
            type = "ISCSI";
            selected = true;
        } else {
            error(kSelectHeader, "ISCSI initiator selection failed");
        }
    }
    if (!selected) {
        error(kSelectHeader, "NO initiator seleced for device mapping");
        return COPY_FAILED;
    }
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::scanDevices(const std::string& host,
                                            std::list<std::string>& devices) {
    std::string text;
    const int32_t answer = readUtilText(
        kDeviceListSize,
        [&](int32_t size, char* buffer) {
            return osUtil_->getDeviceList(host.empty() ? nullptr : host.c_str(), "TEGILE", '|',
                                          size, buffer);
        },
        [this](int32_t size, int32_t wanted) {
            info(kScanHeader, "getDeviceList received buf size [%d] status [%d]", size, wanted);
        },
        text);
    if (answer != 0) {
        error(kScanHeader, "get devices from OS util  failed  error [%d]", answer);
        return COPY_FAILED;
    }
    CMParser().getValues(text, devices);
    return COPY_SUCCESS;
}

void CMCopyServerTegile::getDiffDevices(const std::list<std::string>& before,
                                        const std::list<std::string>& after,
                                        std::list<std::string>& added) {
    const std::unordered_set<std::string> known(before.begin(), before.end());
    for (const std::string& device : after) {
        if (known.count(device) == 0) {
            added.push_back(device);
        }
    }
}

Copy_Status CMCopyServerTegile::refreshSystemBus(const std::string& /*unused*/,
                                                 const std::string& initiator,
                                                 const std::list<std::string>& /*unusedList*/) {
    static const char* const kHeader = "TEGILE CMCopyServerTegile::refreshSystemBus() -";
    const char* initiators[] = {initiator.c_str(), nullptr};
    if (!osUtil_->refreshBus(nullptr, initiators, nullptr)) {
        error(kHeader, "refresh bus failed");
    }
    return COPY_SUCCESS;
}

void CMCopyServerTegile::setInitiator(CMTegileCopyCommand* command) {
    static const char* const kHeader = "TEGILE CMCopyServerTegile::setInitiator() -";
    std::list<std::string> fcList;
    std::list<std::string> iscsiList;
    const std::string arrayHost = command->getStorageServer()->getHostName();
    if (detectHbalist("", arrayHost, fcList, iscsiList) != COPY_SUCCESS || iscsiList.empty()) {
        // Nothing to map through: the command keeps whatever initiator it had.
        error(kHeader, "no iSCSI initiator found on the local host");
        return;
    }
    auto& map = command->getDevice()->getProperties();
    map[TARGET_DEVICE_MAPPING_INITIATOR_NAME] = iscsiList.front();
    map[TARGET_DEVICE_MAPPING_INITIATOR_TYPE] = "iSCSI";
}
