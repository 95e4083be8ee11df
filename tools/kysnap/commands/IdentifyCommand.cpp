// SPDX-License-Identifier: Apache-2.0
#include "IdentifyCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <list>
#include <set>

#include "CannotRun.h"
#include "CliRequest.h"
#include "DeviceInquiry.h"
#include "DeviceNames.h"
#include "Report.h"
#include "Session.h"

namespace kysnap {

namespace {

// The key under which a host lists the array family's devices for identification: vendor and
// product padded to their INQUIRY field widths.
const char kFamilyKey[] = "TEGILE  |::|INTELLIFLASH    ";
constexpr int32_t kIdentifyOperation = 3;

}  // namespace

int runIdentify(const Options& options, const Session::Needs& needs) {
    std::string error;
    auto session = Session::open(options, needs, error);
    if (!session) {
        return cannotRun(options, error);
    }
    // The snapshots whose mounted copies are looked for: those named, else all mounted ones.
    std::vector<const SnapshotRecord*> records;
    for (const SnapshotRecord& record : session->catalog.snapshots) {
        const bool named = options.snapshots.empty()
                               ? record.status == KYSO::SNAP_MOUNTED
                               : std::find(options.snapshots.begin(), options.snapshots.end(),
                                           record.name) != options.snapshots.end();
        if (named) {
            records.push_back(&record);
        }
    }
    if (records.empty()) {
        return cannotRun(options, options.snapshots.empty() ? "no mounted snapshot in the catalog"
                                                            : "no such snapshot in the catalog");
    }
    // The proxy tells which targets it sees: those its devices answer with.
    std::string seen = session->backend->hostName();
    std::set<std::string> targets;
    for (const std::string& device : options.arguments) {
        std::string lun;
        std::string target;
        std::string why;
        if (identifyDevice(device, lun, target, why)) {
            if (!target.empty() && targets.insert(target).second) {
                seen += " " + target;
            }
        }
    }
    std::deque<CliRequest> requests;
    std::vector<KYSO::SnapInfo*> batch;
    for (const SnapshotRecord* record : records) {
        DeviceName device;
        parseDeviceName(record->device, device, error);
        requests.emplace_back(*session->directory, record->array);
        CliRequest& request = requests.back();
        request.device = device.description;
        request.snapUUID = record->name;
        request.metaData = record->metadata;
        request.transMetaData = record->transMetadata;
        request.snapDevice = record->mountedDevice;
        request.status = record->status;
        request.snapId = static_cast<int32_t>(requests.size());
        request.snapProperties[KYSO::SNAP_PROPERTY_PROXY] = seen;
        PluginLog* log = session->log.get();
        request.onLog = [log](const hostkit::LogLine& line) { log->request(line); };
        batch.push_back(&request);
    }
    KYSO::DeviceMap devices;
    devices[kFamilyKey] =
        std::list<std::string>(options.arguments.begin(), options.arguments.end());
    int16_t reserved = 0;
    const KYSO::ResultCode result =
        session->plugin->identifyDevices(batch.data(), static_cast<int16_t>(batch.size()), devices,
                                         kIdentifyOperation, reserved, session->backend.get());
    OperationReport report;
    report.operation = options.command;
    report.result = result;
    const std::list<std::string>& found = devices[kFamilyKey];
    for (const std::string& device : options.arguments) {
        RequestOutcome outcome;
        outcome.device = device;
        outcome.hasStatus = false;
        outcome.succeeded = result == KYSO::RESULT_SUCCESS &&
                            std::find(found.begin(), found.end(), device) != found.end();
        outcome.detail = outcome.succeeded ? "(shows a mounted copy)" : "(no mounted copy)";
        report.requests.push_back(outcome);
    }
    for (const CliRequest& request : requests) {
        report.errors.insert(report.errors.end(), request.errors.begin(), request.errors.end());
    }
    report.hostProblems = session->backend->problems();
    printReport(report, options.json, options.verbose);
    return report.exitStatus();
}

}  // namespace kysnap
