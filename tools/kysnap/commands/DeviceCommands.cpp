// SPDX-License-Identifier: Apache-2.0
#include "DeviceCommands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <set>

#include "CannotRun.h"
#include "CliRequest.h"
#include "DeviceInquiry.h"
#include "DeviceNames.h"
#include "HostConfig.h"
#include "JsonOutput.h"
#include "LunIdentity.h"
#include "Report.h"
#include "ScsiInquiry.h"
#include "Session.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// The key under which a host lists the array family's devices for identification: vendor and
// product padded to their INQUIRY field widths.
const char kFamilyKey[] = "TEGILE  |::|INTELLIFLASH    ";
constexpr int32_t kIdentifyOperation = 3;

}  // namespace

int runSupport(const Options& options, const Session::Needs& needs) {
    std::string error;
    auto session = Session::open(options, needs, error);
    if (!session) {
        return cannotRun(options, error);
    }
    OperationReport report;
    report.operation = options.command;
    std::vector<int32_t> results;
    for (const std::string& device : options.arguments) {
        const size_t before = session->log->debugErrors().size();
        const KYSO::ResultCode result =
            session->plugin->isSupported(device.c_str(), 0, session->backend.get(), nullptr, 0);
        results.push_back(result);
        RequestOutcome outcome;
        outcome.device = device;
        outcome.hasStatus = false;
        outcome.succeeded = result == KYSO::RESULT_SUCCESS;
        outcome.state = outcome.succeeded ? "supported" : "not supported";
        const auto& reasons = session->log->debugErrors();
        if (!outcome.succeeded && reasons.size() > before) {
            outcome.detail = "(" + reasons.back() + ")";
        }
        report.requests.push_back(outcome);
    }
    report.result = combinedResult(results);
    report.hostProblems = session->backend->problems();
    printReport(report, options.json, options.verbose);
    return report.exitStatus();
}

namespace {

// The host backend through which inquiry reaches the device. It needs no configuration: with
// none (none given and none at the default place) or with the linux backend, the device is
// asked directly (SG_IO); only the sim backend's devices need the session and its arrays.
bool openInquirySession(const Options& options, const Session::Needs& needs,
                        std::unique_ptr<Session>& session, std::string& error) {
    HostConfig config;
    if (!Session::loadConfig(options, needs.config == Session::Needs::Config::Optional, config,
                             error)) {
        return false;
    }
    if (config.backend == BackendKind::Linux) {
        return true;
    }
    session = Session::open(options, needs, error);
    return session != nullptr;
}

// Lower-case hex of every byte of `text`.
std::string hexText(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : text) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// True when `text` would be changed to be printed: then its bytes are shown as hex as well.
bool needsHex(const std::string& text) {
    return visibleText(text) != text;
}

}  // namespace

int runInquiry(const Options& options, const Session::Needs& needs) {
    std::string error;
    std::unique_ptr<Session> session;
    if (!openInquirySession(options, needs, session, error)) {
        return cannotRun(options, error);
    }
    const std::string& device = options.arguments.front();
    std::vector<unsigned char> standard;
    std::string why;
    if (!inquire(device, false, scsi::kPageStandard, standard, why)) {
        if (session) {
            for (const std::string& problem : session->backend->problems()) {
                std::fprintf(stderr, "kysnap: host: %s\n", visibleText(problem).c_str());
            }
        }
        const std::string message = "INQUIRY of " + device + " failed: " + why;
        printErrorDocument(options, 1, message);
        std::fprintf(stderr, "kysnap: %s\n", visibleText(message).c_str());
        return 1;
    }
    const std::string vendor = scsi::vendorId(standard.data(), standard.size());
    const std::string product = scsi::productId(standard.data(), standard.size());
    std::string pageProblem;
    std::string lun;
    std::string target;
    const bool identified = identifyDevice(device, lun, target, pageProblem);
    const LunIdentity identity = lunIdentity(vendor, product);
    // What the device answers comes from the array (or whatever answers in its place): every
    // field is printed as visible text, and the ids also as hex, the bytes as they came.
    if (options.json) {
        JsonDocument answer = jsonDocument(options.command);
        answer["device"] = visibleText(device);
        answer["vendor"] = visibleText(vendor);
        answer["product"] = visibleText(product);
        answer["lunId"] = visibleText(lun);
        answer["lunIdHex"] = hexText(lun);
        answer["targetId"] = visibleText(target);
        answer["targetIdHex"] = hexText(target);
        answer["supported"] = identity.supported();
        answer["identity"] = identity.text;
        if (!identified) {
            answer["page83Error"] = visibleText(pageProblem);
        }
        printJsonDocument(answer);
    } else {
        std::printf("device:    %s\nvendor:    %s\nproduct:   %s\n", visibleText(device).c_str(),
                    visibleText(vendor).c_str(), visibleText(product).c_str());
        if (identified) {
            std::printf("LUN id:    %s%s\ntarget id: %s%s\n", visibleText(lun).c_str(),
                        needsHex(lun) ? (" (hex " + hexText(lun) + ")").c_str() : "",
                        visibleText(target).c_str(),
                        needsHex(target) ? (" (hex " + hexText(target) + ")").c_str() : "");
        } else {
            std::printf("page 0x83: not answered (%s)\n", visibleText(pageProblem).c_str());
        }
        std::printf("supported: %s (%s)\n", identity.supported() ? "yes" : "no",
                    identity.text.c_str());
    }
    return 0;
}

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
