// SPDX-License-Identifier: Apache-2.0
// LunIdentity: what a device's standard INQUIRY says it is, in the words kysnap shows. The
// plug-in supports vendor TEGILE with product INTELLIFLASH only. LUNs made before IntelliFlash
// 3.x still answer TEGILE with ZEBI-FC or ZEBI-ISCSI (the vendor's own host scripts test for
// them), so kysnap names such a LUN for what it is instead of calling it unknown.
#pragma once

#include <string>

namespace kysnap {

enum class LunKind {
    IntelliFlash,       // the identity the plug-in supports
    OlderIntelliFlash,  // an IntelliFlash LUN of an older identity, not supported
    Other,              // not an IntelliFlash LUN
};

struct LunIdentity {
    LunKind kind = LunKind::Other;
    std::string text;  // e.g. "IntelliFlash volume"

    bool supported() const { return kind == LunKind::IntelliFlash; }
};

// The identity of the trimmed standard INQUIRY vendor and product fields.
LunIdentity lunIdentity(const std::string& vendor, const std::string& product);

// Reads `device`'s standard INQUIRY and judges it; false with `why` set when it is not
// answered.
bool readLunIdentity(const std::string& device, LunIdentity& identity, std::string& why);

}  // namespace kysnap
