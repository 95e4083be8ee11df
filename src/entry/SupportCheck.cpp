// SPDX-License-Identifier: Apache-2.0
#include "SupportCheck.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "CMCopyServerTegile.h"
#include "CMParser.h"
#include "EvDebug.h"
#include "ScsiInquiry.h"

namespace {
const char* const kHeader =
    "KYSO::ResultCode kyso_isSupported(const char*, int32_t, KYSO::KYOSUtil*, void*, int16_t)";
}

KYSO::ResultCode checkSupport(const char* device, KYSO::KYOSUtil* util) {
    EvDebug log(nullptr);
    if (device == nullptr) {
        log.DebugLvl(kHeader, EvDebug::LEVEL_ERROR, "device name is null");
        return KYSO::RESULT_FAILED;
    }
    const std::string name(device);
    std::vector<unsigned char> inquiry;
    if (name.find("idatype:vmware") == std::string::npos) {
        std::unique_ptr<CMCopyServerTegile> server(new (std::nothrow) CMCopyServerTegile(util));
        if (!server) {
            log.DebugLvl(kHeader, EvDebug::LEVEL_ERROR,
                         "CMCopyServerTegile object allocation failed");
            return KYSO::RESULT_FAILED;
        }
        inquiry.assign(scsi::kInquiryLength, 0);
        if (server->sendSCSIInquiry(name, false, scsi::kPageStandard, inquiry.data(),
                                    scsi::kInquiryLength) != 0) {
            log.DebugLvl(kHeader, EvDebug::LEVEL_ERROR,
                         "scsi inquiry standary data failed device name [%s]", device);
            return KYSO::RESULT_FAILED;
        }
    } else {
        // Text that is not usable INQUIRY data decodes to nothing and so names no vendor.
        CMParser::KeyValues values;
        CMParser().getKeyValues(name, values);
        std::string why;
        scsi::decodeHexInquiry(values["standardinqury"], inquiry, why);
    }
    const std::string vendor = scsi::vendorId(inquiry.data(), inquiry.size());
    if (vendor != scsi::kVendorTegile) {
        log.DebugLvl(kHeader, EvDebug::LEVEL_ERROR, "device [%s] does not belong to [%s] vendor",
                     device, scsi::kVendorTegile);
        return KYSO::RESULT_FAILED;
    }
    const std::string product = scsi::productId(inquiry.data(), inquiry.size());
    if (product != scsi::kProductIntelliFlash) {
        log.DebugLvl(kHeader, EvDebug::LEVEL_ERROR, "device [%s] does not belong to [%s] family",
                     device, scsi::kProductIntelliFlash);
        return KYSO::RESULT_FAILED;
    }
    log.DebugLvl(kHeader, EvDebug::LEVEL_INFO,
                 "Device [%s] Vendor [%s] Product [%s] supported by [%s]\n", device, vendor.c_str(),
                 product.c_str(), "Western Digital IntelliFlash Snap");
    return KYSO::RESULT_SUCCESS;
}
