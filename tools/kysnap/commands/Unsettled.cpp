// SPDX-License-Identifier: Apache-2.0
#include "Unsettled.h"

#include "Dependents.h"
#include "DeviceInquiry.h"
#include "SnapshotNames.h"

namespace kysnap {

namespace {

// The device of this host that shows LUN `luId`, or "".
std::string hostDeviceOf(HostBackend& backend, const std::string& luId) {
    std::vector<std::string> names;
    std::string why;
    if (luId.empty() || !backend.arrayDevices(false, names, why)) {
        return std::string();
    }
    for (const std::string& name : names) {
        std::string lun;
        std::string target;
        if (identifyDevice(name, lun, target, why) && lun == luId) {
            return name;
        }
    }
    return std::string();
}

}  // namespace

SettleVerdict settleVerdict(const Session& session, const SnapshotRecord& record) {
    SettleVerdict verdict;
    std::time_t sent = 0;
    if (!parseIsoTime(record.created, sent)) {
        // No time to go by: the record is kept rather than guessed about.
        verdict.mayStillAppear = true;
        verdict.why = "its creation time \"" + record.created + "\" cannot be read";
        return verdict;
    }
    verdict.until = sent + session.config.settleSeconds();
    if (std::time(nullptr) < verdict.until) {
        verdict.mayStillAppear = true;
        verdict.why = "the array may still finish creating it until " + isoTime(verdict.until);
        return verdict;
    }
    const ArrayAccess* array = session.directory->find(record.array);
    SnapshotSource source;
    std::string why;
    if (array == nullptr || !snapshotSource(record, source, why)) {
        verdict.mayStillAppear = true;
        verdict.why = array == nullptr ? "its array " + record.array + " is not configured" : why;
        return verdict;
    }
    switch (creationOnArray(*array, source, record.name)) {
        case Creation::InProgress:
            verdict.mayStillAppear = true;
            verdict.why = "the array says its creation is in progress";
            break;
        case Creation::Unanswered:
            verdict.mayStillAppear = true;
            verdict.why = "the array does not say whether its creation is in progress";
            break;
        case Creation::NotKnown:
            verdict.why = "the array has no such snapshot and creates none";
            break;
    }
    return verdict;
}

std::string adoptUnrecordedClone(Session& session, SnapshotRecord& record,
                                 std::vector<std::string>& problems) {
    if (!record.mountedDevice.empty() || !record.clone.empty()) {
        return std::string();
    }
    const ArrayAccess* array = session.directory->find(record.array);
    SnapshotSource source;
    std::string why;
    if (array == nullptr || !snapshotSource(record, source, why)) {
        return std::string();
    }
    std::string path;
    std::string luId;
    if (!pluginClone(*array, source, record.name, path, luId, why)) {
        if (!why.empty()) {
            problems.push_back("a clone of " + record.name + " cannot be looked for: " + why);
        }
        return std::string();
    }
    record.clone = path;
    record.mountedDevice = hostDeviceOf(*session.backend, luId);
    return "clone " + path +
           (record.mountedDevice.empty() ? "" : ", seen on this host as " + record.mountedDevice);
}

}  // namespace kysnap
