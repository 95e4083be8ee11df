// SPDX-License-Identifier: Apache-2.0
#include "DevicesCommand.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "CannotRun.h"
#include "DeviceInquiry.h"
#include "LunIdentity.h"
#include "RecordFields.h"
#include "Session.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

struct SeenDevice {
    std::string device;
    std::string lunId;
    std::string targetId;
    std::string array;     // "" when the catalog pairs no array with the target
    std::string snapshot;  // the catalog snapshot mounted on it, or ""
    std::string problem;   // why page 0x83 was not answered, or ""
    std::string dataPath;  // a file holding the device's bytes, or ""
    LunIdentity identity;  // by its standard INQUIRY
};

// The LUN id of each mounted snapshot's device: a mounted copy may be reported through one path
// while the host lists the LUN under another (or under its multipath map).
std::map<std::string, std::string> mountedByLun(const Catalog& catalog) {
    std::map<std::string, std::string> snapshots;
    for (const SnapshotRecord& record : catalog.snapshots) {
        const std::string device = mountedCopyText(record.mountedDevice);
        std::string lun;
        std::string target;
        std::string why;
        if (!device.empty() && device.front() == '/' && identifyDevice(device, lun, target, why) &&
            !lun.empty()) {
            snapshots[lun] = record.name;
        }
    }
    return snapshots;
}

void printJson(const std::vector<SeenDevice>& seen,
               const std::vector<HostBackend::ShareData>& shares, const std::string& command) {
    JsonDocument root = jsonDocument(command);
    root["devices"] = JsonDocument::array();
    for (const SeenDevice& device : seen) {
        JsonDocument entry;
        entry["device"] = visibleText(device.device);
        entry["lunId"] = visibleText(device.lunId);
        entry["targetId"] = visibleText(device.targetId);
        entry["array"] = visibleText(device.array);
        entry["mounted"] = !device.snapshot.empty();
        entry["snapshot"] = visibleText(device.snapshot);
        entry["supported"] = device.identity.supported();
        entry["identity"] = device.identity.text;
        if (!device.problem.empty()) {
            entry["page83Error"] = visibleText(device.problem);
        }
        if (!device.dataPath.empty()) {
            entry["dataPath"] = visibleText(device.dataPath);
        }
        root["devices"].push_back(std::move(entry));
    }
    // Only a backend that reaches shares' files lists them.
    if (!shares.empty()) {
        root["shares"] = JsonDocument::array();
        for (const HostBackend::ShareData& share : shares) {
            JsonDocument entry;
            entry["share"] = visibleText(share.share);
            entry["dataPath"] = visibleText(share.dataPath);
            root["shares"].push_back(std::move(entry));
        }
    }
    printJsonDocument(root);
}

void printText(const std::vector<SeenDevice>& seen) {
    std::vector<std::vector<std::string>> rows = {
        {"DEVICE", "LUN-ID", "TARGET", "ARRAY", "MOUNTED"}};
    for (const SeenDevice& device : seen) {
        rows.push_back({visibleText(device.device),
                        device.problem.empty() ? visibleText(device.lunId)
                                               : "(" + visibleText(device.problem) + ")",
                        device.targetId.empty() ? "-" : visibleText(device.targetId),
                        device.array.empty() ? "-" : visibleText(device.array),
                        device.snapshot.empty() ? "-" : visibleText(device.snapshot)});
    }
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        std::printf("%s\n", line.c_str());
    }
    for (const SeenDevice& device : seen) {
        if (device.identity.kind == LunKind::OlderIntelliFlash) {
            std::printf("%s is %s\n", visibleText(device.device).c_str(),
                        device.identity.text.c_str());
        }
    }
}

}  // namespace

int runDevices(const Options& options, const Session::Needs& needs) {
    std::string error;
    auto session = Session::open(options, needs, error);
    if (!session) {
        return cannotRun(options, error);
    }
    std::vector<std::string> names;
    std::string why;
    const bool listed = session->backend->arrayDevices(false, names, why);
    for (const std::string& problem : session->backend->problems()) {
        std::fprintf(stderr, "kysnap: host: %s\n", visibleText(problem).c_str());
    }
    if (!listed) {
        std::fprintf(stderr, "kysnap: the host's devices cannot be listed: %s\n",
                     visibleText(why).c_str());
        return 1;
    }
    const std::map<std::string, std::string> mounted = mountedByLun(session->catalog);
    std::vector<SeenDevice> seen;
    for (const std::string& name : names) {
        SeenDevice device;
        device.device = name;
        device.dataPath = session->backend->dataPath(name);
        std::string unanswered;
        if (!readLunIdentity(name, device.identity, unanswered)) {
            device.identity.text = "its standard INQUIRY is not answered: " + unanswered;
        }
        if (identifyDevice(name, device.lunId, device.targetId, device.problem)) {
            device.problem.clear();
            const auto array = session->catalog.targets.find(device.targetId);
            if (array != session->catalog.targets.end()) {
                device.array = array->second;
            }
            const auto snapshot = mounted.find(device.lunId);
            if (snapshot != mounted.end()) {
                device.snapshot = snapshot->second;
            }
        }
        seen.push_back(device);
    }
    if (options.json) {
        printJson(seen, session->backend->shareData(), options.command);
    } else {
        printText(seen);
    }
    return 0;
}

}  // namespace kysnap
