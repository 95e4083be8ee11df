// SPDX-License-Identifier: Apache-2.0
#include "DeviceChecks.h"

#include <algorithm>

#include "DeviceInquiry.h"
#include "StrictJson.h"

namespace kysnap {

DeviceIdentity readIdentity(const std::string& device) {
    DeviceIdentity identity;
    identity.device = device;
    if (identifyDevice(device, identity.lunId, identity.targetId, identity.unreadable)) {
        identity.unreadable.clear();
        identity.protocol = identity.targetId.find("iqn") != std::string::npos ? "ISCSI" : "FC";
    } else if (identity.unreadable.empty()) {
        identity.unreadable = "no answer";
    }
    std::string unanswered;
    if (!readLunIdentity(device, identity.identity, unanswered)) {
        identity.identity.text = "its standard INQUIRY is not answered: " + unanswered;
    }
    return identity;
}

void judgeOnArray(DeviceIdentity& device, const ArrayProbe& probe, const std::string& arrayName,
                  const std::vector<ArrayTarget>& targets) {
    if (!device.unreadable.empty() || device.owned) {
        return;
    }
    const auto owner = std::find_if(targets.begin(), targets.end(), [&](const ArrayTarget& t) {
        return t.protocol == device.protocol && t.target == device.targetId;
    });
    if (owner == targets.end()) {
        return;
    }
    device.owned = true;
    const std::string where = "target " + device.targetId + " of array " + arrayName + " (" +
                              owner->protocol + " target group " + arrayText(owner->group) + ")";
    const ApiAnswer answer =
        probe.call("listLunsById", requestBody(nlohmann::json::array({{device.lunId}})));
    nlohmann::json volumes;
    std::string why;
    if (!readList(answer, volumes, why)) {
        device.verdict = "LUN " + device.lunId + " on " + where +
                         ": the array cannot be asked for it (" + why + ")";
        device.asked = false;
        return;
    }
    const std::string path = volumes.size() == 1 && volumes[0].is_object()
                                 ? strictjson::textOr(volumes[0], "datasetPath", "")
                                 : std::string();
    if (path.empty()) {
        device.verdict = "LUN " + device.lunId + " on " + where + " is no volume of that array";
        return;
    }
    device.volume = true;
    device.verdict = "LUN " + device.lunId + " is volume " + arrayText(path) + ", " + where;
}

// `unasked` names each configured array whose targets could not be read, and why: a device
// none of the others presents may be one of theirs, so the configuration is not blamed.
void reportDevice(CheckLines& lines, const DeviceIdentity& device, const HostConfig& config,
                  const std::vector<std::string>& unasked) {
    const std::string subject = "device " + device.device;
    if (device.identity.kind == LunKind::OlderIntelliFlash) {
        lines.warn(subject, "LUN " + device.lunId + " is " + device.identity.text,
                   "the plug-in's support check says no for it, so a backup host does not "
                   "snapshot it through this plug-in");
    } else if (!device.unreadable.empty()) {
        lines.fail(subject, "its page 0x83 cannot be read: " + device.unreadable,
                   "vpd and prepare need it; run kysnap check as root");
    } else if (!device.owned && !unasked.empty()) {
        std::string arrays;
        for (const std::string& array : unasked) {
            arrays += (arrays.empty() ? "" : "; ") + array;
        }
        lines.warn(subject,
                   "LUN " + device.lunId + ": cannot tell which array presents it (target id \"" +
                       device.targetId + "\"), because " + arrays,
                   "run kysnap check again once the array answers");
    } else if (!device.asked) {
        lines.warn(subject, device.verdict, "run kysnap check again once the array answers");
    } else if (!device.owned) {
        lines.fail(subject,
                   "LUN " + device.lunId + ": its target id \"" + device.targetId + "\" names no " +
                       device.protocol + " target of a configured array",
                   "vpd and prepare will not find it: add the [array NAME] section of the array "
                   "that presents it to " +
                       config.path +
                       " (its target must be in one of that array's target groups), or leave "
                       "this device alone: it is not presented by a configured array");
    } else if (!device.volume) {
        lines.fail(subject, device.verdict,
                   "vpd and prepare will not find it: check which array presents this LUN");
    } else {
        lines.ok(subject, device.verdict);
    }
}

}  // namespace kysnap
