// SPDX-License-Identifier: Apache-2.0
// SCSI identification: which array LUN a host device is, and which target presents it.
#include <cstring>
#include <vector>

#include "CMCopyServerTegile.h"
#include "CMParser.h"
#include "KyDeviceTree.h"
#include "KyException.h"
#include "PropertyNames.h"
#include "ScsiInquiry.h"

namespace {

const char* const kInquiryHeader = "TEGILE CMCopyServerTegile::sendSCSIInquiry() -";
const char* const kPropertiesHeader = "TEGILE CMCopyServerTegile::getSCSIDeviceProperties() -";
const char* const kVMwareHeader = "TEGILE CMCopyServerTegile::getSCSIDevicePropertiesVMware() -";
const char* const kDataHeader = "TEGILE CMCopyServerTegile::getSCSIDeviceData -";
// The SCSI interface's transfer options: data in, 10 second time-out.
constexpr int kTransferReserved = 0;
constexpr int kTransferRetries = 0;
constexpr int kTransferFlags = 0;
constexpr unsigned int kInquiryTimeoutSeconds = 10;

using Inquiry = std::vector<unsigned char>;

// The family check's lines for INQUIRY data read from a device and from a VMware description.
const CMCopyServerTegile::FamilyLines kBlockFamilyLines = {
    "scsi inquiry standary data device  [%s] not a tegile volume vendor ID [%s] ",
    "scsi inquiry standary data device  [%s] vendor ID [%s] ",
    "scsi inquiry standary data device  [%s] not a tegile prosuct supported product ID [%s] ",
    "scsi inquiry standary data device  [%s] productId ID [%s] ",
};
const CMCopyServerTegile::FamilyLines kVMwareFamilyLines = {
    "scsi inquiry standard data device  [%s] not a tegile volume vendor ID [%s] ",
    "scsi inquiry standard data device  [%s] vendor ID [%s] ",
    "scsi inquiry standard data device  [%s] not a tegile product supported product ID [%s] ",
    "scsi inquiry standary data device  [%s] productId ID [%s] ",
};

}  // namespace

int CMCopyServerTegile::sendSCSIInquiry(const std::string& device, bool evpd, unsigned int page,
                                        unsigned char* buffer, unsigned int length) {
    if (device.empty() || buffer == nullptr || length == 0) {
        return 1;
    }
    std::memset(buffer, 0, length);
    if (length < scsi::kInquiryLength) {
        return 1;
    }
    try {
        CLmError failure;
        SP<KyDevice> handle = KyDeviceTree::getDevice(device, &failure);
        if (!handle) {
            error(kInquiryHeader, "Failed to get KyDevice for device[%s]. Error:[%s]",
                  device.c_str(), failure.AsString().c_str());
            return 1;
        }
        const auto cdb = scsi::inquiryCdb(evpd, page, length);
        auto* scsiIface =
            static_cast<KyDeviceScsiIface*>(handle->getInterface(KY_DEVICE_SCSI_IFACE));
        if (scsiIface == nullptr) {
            error(kInquiryHeader, "%s is not SCSI device", handle->getDeviceName().c_str());
            return 1;
        }
        failure.Success();
        if (scsiIface->sendCommand(cdb.data(), static_cast<unsigned int>(cdb.size()), buffer,
                                   length, kTransferReserved, KyDeviceScsiIface::DIRECTION_IN,
                                   kTransferRetries, kTransferFlags, kInquiryTimeoutSeconds,
                                   &failure) == -1) {
            throw KyException(kInquiryHeader, failure.AsString(), __FILE__, __LINE__);
        }
        return 0;
    } catch (const KyException& e) {
        error(kInquiryHeader, "Failed to send SCSI Inquiry for device[%s], caught exception:[%s]",
              device.c_str(), e.getMessage().c_str());
    } catch (const std::exception& e) {
        // A provider installed by the host may throw anything; it must not reach the host.
        error(kInquiryHeader, "Failed to send SCSI Inquiry for device[%s], caught exception:[%s]",
              device.c_str(), e.what());
    } catch (...) {
        error(kInquiryHeader, "Failed to send SCSI Inquiry for device[%s], caught exception:[%s]",
              device.c_str(), "unknown");
    }
    std::memset(buffer, 0, length);
    return 1;
}

Copy_Status CMCopyServerTegile::getSCSIDeviceProperties(const std::string& device,
                                                        std::string& lunId, std::string& targetId,
                                                        bool force) {
    info(kPropertiesHeader, "source storage Device [%s]", device.c_str());
    // The host's cached data describes the request's own device; a forced identification
    // asks the device itself for both pages, so another device never takes its identity.
    auto obtain = [&](unsigned int page, Inquiry& data) {
        const unsigned char* cached =
            force || copyRequest_ == nullptr ? nullptr : request()->getInquiryData(page);
        if (cached != nullptr) {
            data.assign(cached, cached + scsi::kInquiryLength);
            return 0;
        }
        return sendSCSIInquiry(device, page != scsi::kPageStandard, page, data.data(),
                               static_cast<unsigned int>(data.size()));
    };
    Inquiry standard(scsi::kInquiryLength, 0);
    if (obtain(scsi::kPageStandard, standard) != 0) {
        error(kPropertiesHeader, "scsi inquiry standary data failed device name [%s]",
              device.c_str());
        return COPY_FAILED;
    }
    if (checkFamily(kPropertiesHeader, device, standard, kBlockFamilyLines) != COPY_SUCCESS) {
        return COPY_FAILED;
    }

    Inquiry page(scsi::kInquiryLength, 0);
    if (obtain(scsi::kPageDeviceIdentification, page) != 0) {
        error(kPropertiesHeader, "scsi inquiry page 0x83 failed device name [%s]", device.c_str());
        return COPY_FAILED;
    }
    lunId = scsi::lunId(page.data(), page.size());
    targetId = scsi::targetId(page.data(), page.size());
    info(kPropertiesHeader, "scsi inquiry page 0x83 data device  [%s] LUN ID [%s] ", device.c_str(),
         lunId.c_str());
    info(kPropertiesHeader, "scsi inquiry page 0x83 data device  [%s] target ID [%s] ",
         device.c_str(), targetId.c_str());
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::checkFamily(const char* header, const std::string& device,
                                            const std::vector<unsigned char>& standard,
                                            const FamilyLines& lines) {
    const std::string vendor = scsi::vendorId(standard.data(), standard.size());
    if (vendor != scsi::kVendorTegile) {
        error(header, lines.wrongVendor, device.c_str(), vendor.c_str());
        return COPY_FAILED;
    }
    info(header, lines.vendor, device.c_str(), vendor.c_str());
    const std::string product = scsi::productId(standard.data(), standard.size());
    if (product != scsi::kProductIntelliFlash) {
        error(header, lines.wrongProduct, device.c_str(), product.c_str());
        return COPY_FAILED;
    }
    info(header, lines.product, device.c_str(), product.c_str());
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::getSCSIDevicePropertiesVMware(const std::string& description,
                                                              std::string& lunId,
                                                              std::string& targetId) {
    info(kVMwareHeader, "source storage Device [%s]", description.c_str());
    CMParser parser;
    CMParser::KeyValues values;
    parser.getKeyValues(description, values);

    Inquiry standard;
    std::string why;
    if (!scsi::decodeHexInquiry(values["standardinqury"], standard, why)) {
        error(kVMwareHeader, "scsi inquiry standard data device  [%s] unusable standardinqury [%s]",
              description.c_str(), why.c_str());
        return COPY_FAILED;
    }
    if (checkFamily(kVMwareHeader, description, standard, kVMwareFamilyLines) != COPY_SUCCESS) {
        return COPY_FAILED;
    }

    if (!scsi::lunIdFromUuid(values["lunuuid"], lunId)) {
        error(kVMwareHeader, "lunuuid [%s] of device [%s] is too short to hold a LUN ID",
              values["lunuuid"].c_str(), description.c_str());
        return COPY_FAILED;
    }
    targetId = values["targetidentifier"];
    if (targetId.find("iqn") == std::string::npos) {
        parser.toUpper(targetId);
        targetId = "wwn." + targetId;
    }
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::getSCSIDeviceData(const std::string& device, bool evpd,
                                                  unsigned int page,
                                                  CMStorageDevice::Properties& properties) {
    Inquiry data(scsi::kInquiryLength, 0);
    // A failed inquiry leaves the buffer zeroed, and so the values empty.
    sendSCSIInquiry(device, evpd, page, data.data(), static_cast<unsigned int>(data.size()));
    if (!evpd) {
        properties[DEVICE_VENDOR_ID] = scsi::vendorId(data.data(), data.size());
        properties[DEVICE_PRODUCT_ID] = scsi::productId(data.data(), data.size());
    } else if (page == scsi::kPageDeviceIdentification) {
        const std::string lun = scsi::lunId(data.data(), data.size());
        const std::string target = scsi::targetIdFixed(data.data(), data.size());
        properties[DEVICE_LUN_ID] = lun;
        properties[DEVICE_TARGET_ID] = target;
        info(kDataHeader, "scsi inquiry page 0x83 data device  [%s] LUN ID [%s] ", device.c_str(),
             lun.c_str());
        info(kDataHeader, "scsi inquiry page 0x83 data device  [%s] target ID [%s] ",
             device.c_str(), target.c_str());
    }
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::isDeviceMappedToHost(const std::string& device,
                                                     const std::string& expectedLunId,
                                                     bool& mapped) {
    static const char* const kHeader = "TEGILE CMCopyServerTegile::isDeviceMappedToHost() -";
    mapped = false;
    Inquiry page(scsi::kInquiryLength, 0);
    sendSCSIInquiry(device, true, scsi::kPageDeviceIdentification, page.data(),
                    static_cast<unsigned int>(page.size()));
    const std::string lun = scsi::lunId(page.data(), page.size());
    info(kHeader, "scsi inquiry page 0x83 data device  [%s] LUN ID [%s] ", device.c_str(),
         lun.c_str());
    mapped = lun == expectedLunId;
    return COPY_SUCCESS;
}
