// SPDX-License-Identifier: Apache-2.0
#include "LunIdentity.h"

#include <vector>

#include "DeviceInquiry.h"
#include "ScsiInquiry.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

struct IdentityRow {
    const char* vendor;
    const char* product;
    LunKind kind;
};

const IdentityRow kIdentities[] = {
    {scsi::kVendorTegile, scsi::kProductIntelliFlash, LunKind::IntelliFlash},
    {scsi::kVendorTegile, "ZEBI-FC", LunKind::OlderIntelliFlash},
    {scsi::kVendorTegile, "ZEBI-ISCSI", LunKind::OlderIntelliFlash},
};

}  // namespace

LunIdentity lunIdentity(const std::string& vendor, const std::string& product) {
    LunIdentity identity;
    for (const IdentityRow& row : kIdentities) {
        if (vendor == row.vendor && product == row.product) {
            identity.kind = row.kind;
        }
    }
    const std::string named = visibleText(vendor) + " " + visibleText(product);
    switch (identity.kind) {
        case LunKind::IntelliFlash:
            identity.text = "IntelliFlash volume";
            break;
        case LunKind::OlderIntelliFlash:
            identity.text = "an IntelliFlash LUN of an older identity (" + named +
                            ", from before IntelliFlash 3.x), which this plug-in does not "
                            "support";
            break;
        case LunKind::Other:
            identity.text = "not an IntelliFlash LUN (" + named + ")";
            break;
    }
    return identity;
}

bool readLunIdentity(const std::string& device, LunIdentity& identity, std::string& why) {
    std::vector<unsigned char> standard;
    if (!inquire(device, false, scsi::kPageStandard, standard, why)) {
        return false;
    }
    identity = lunIdentity(scsi::vendorId(standard.data(), standard.size()),
                           scsi::productId(standard.data(), standard.size()));
    return true;
}

}  // namespace kysnap
