// SPDX-License-Identifier: Apache-2.0
#include "DeviceInquiry.h"

#include <exception>

#include "KyDeviceTree.h"
#include "ScsiInquiry.h"

namespace kysnap {

namespace {

constexpr unsigned int kInquiryTimeoutSeconds = 10;

}  // namespace

bool inquire(const std::string& device, bool evpd, unsigned int page,
             std::vector<unsigned char>& data, std::string& why) {
    data.assign(scsi::kInquiryLength, 0);
    CLmError failure;
    SP<KyDevice> handle = KyDeviceTree::getDevice(device, &failure);
    if (!handle) {
        why = failure.AsString();
        return false;
    }
    auto* iface = static_cast<KyDeviceScsiIface*>(handle->getInterface(KY_DEVICE_SCSI_IFACE));
    if (iface == nullptr) {
        why = device + " is not a SCSI device";
        return false;
    }
    const auto cdb = scsi::inquiryCdb(evpd, page, scsi::kInquiryLength);
    failure.Success();
    try {
        if (iface->sendCommand(cdb.data(), static_cast<unsigned int>(cdb.size()), data.data(),
                               scsi::kInquiryLength, 0, KyDeviceScsiIface::DIRECTION_IN, 0, 0,
                               kInquiryTimeoutSeconds, &failure) != 0) {
            why = failure.AsString();
            return false;
        }
    } catch (const std::exception& e) {
        why = e.what();
        return false;
    }
    return true;
}

bool identifyDevice(const std::string& device, std::string& lunId, std::string& targetId,
                    std::string& why) {
    std::vector<unsigned char> page;
    if (!inquire(device, true, scsi::kPageDeviceIdentification, page, why)) {
        return false;
    }
    lunId = scsi::lunId(page.data(), page.size());
    targetId = scsi::targetId(page.data(), page.size());
    return true;
}

}  // namespace kysnap
