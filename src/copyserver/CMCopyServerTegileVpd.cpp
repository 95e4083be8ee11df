// SPDX-License-Identifier: Apache-2.0
// VPD processing and the identification of devices mounted on a virtual-host proxy.
#include <new>

#include "CMCopyServerTegile.h"
#include "KYSOTypes.h"
#include "PropertyNames.h"

namespace {
const char* const kVpdHeader = "Copy_Status CMCopyServerTegile::processVPD()";
const char* const kProxyHeader = "TEGILE CMCopyServerTegile::getArrayIdLunId() -";
const char* const kHbxHeader = "TEGILE CMCopyServerTegile::getHBXProxyDevices() -";
}  // namespace

Copy_Status CMCopyServerTegile::processVPD() {
    KYSO::SnapInfo* host = request();
    std::string description;
    if (!getSourceDevice(description)) {
        error(kVpdHeader, "getdevice failed snap ID  [%d]", host->getSnapId());
        return COPY_FAILED;
    }
    std::string lunId, targetId;
    if (const Copy_Status status = identifySource(kVpdHeader, description, lunId, targetId);
        status != COPY_SUCCESS) {
        return status;
    }
    host->setLunId(lunId.c_str());
    host->setTargetId(targetId.c_str());
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::getArrayIdLunId(const std::list<std::string>& devices,
                                                ProxyDeviceMap& proxies) {
    for (const std::string& device : devices) {
        if (device.find("idatype:vmware") != std::string::npos) {
            // A VMware description names no device this host can inquire.
            info(kProxyHeader, "VMware device [%s] not identified", device.c_str());
            continue;
        }
        std::string lunId, targetId;
        const Copy_Status status = getSCSIDeviceProperties(device, lunId, targetId, true);
        if (status != COPY_SUCCESS) {
            error(kProxyHeader, "Failed to get scsi device properties device [%s]. Error [%d]",
                  device.c_str(), static_cast<int>(status));
            continue;
        }
        proxies[{targetId, lunId}] = device;
    }
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::getHBXProxyDevices(const ProxyDeviceMap& proxies,
                                                   std::list<std::string>& found) {
    std::unique_ptr<CMStorageDevice> device(new (std::nothrow) CMStorageDevice());
    if (!device) {
        error(kHbxHeader, "Source storage device object allocation failed");
        return COPY_NO_MEMORY;
    }
    std::string hostName, userName, password;
    const kyplatform::WipeAtScopeEnd wiped(password);
    if (buildCopyDevices(device.get(), hostName, userName, password) != COPY_SUCCESS) {
        return COPY_SUCCESS;
    }
    const std::string mountId = device->getProperties()[TARGET_DEVICE_MOUNT_ID];
    std::string proxyText;
    if (request()->getSnapProperty(KYSO::SNAP_PROPERTY_PROXY, proxyText) == 0) {
        return COPY_SUCCESS;
    }
    for (const auto& [key, description] : proxies) {
        const auto& [targetId, lunId] = key;
        if (proxyText.find(targetId) != std::string::npos && lunId == mountId) {
            info(kHbxHeader, "Found device [%s]", description.c_str());
            found.push_back(description);
            break;
        }
    }
    return COPY_SUCCESS;
}
