// SPDX-License-Identifier: Apache-2.0
#include "BatchCommands.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <limits>
#include <optional>
#include <set>

#include "CannotRun.h"
#include "CliRequest.h"
#include "DestroyPlan.h"
#include "DeviceNames.h"
#include "PluginTexts.h"
#include "RecordFields.h"
#include "Report.h"
#include "Session.h"
#include "SnapshotNames.h"
#include "Unsettled.h"
#include "VisibleText.h"
#include "jsonxx.h"

namespace kysnap {

namespace {

struct Operation {
    const char* name;
    bool onSnapshots;  // items are catalog snapshots, else devices
    KYSO::BatchFn PluginLibrary::*call;
    int32_t success;  // the status of a request that succeeded (0: none)
    // What the array destroys besides the request's own object, checked before the call.
    std::optional<Destruction> destroys;
};

const Operation kOperations[] = {
    {"vpd", false, &PluginLibrary::processVPDInfo, 0, std::nullopt},
    {"prepare", false, &PluginLibrary::prepareDevices, KYSO::SNAP_PREPARED, std::nullopt},
    {"unprepare", false, &PluginLibrary::unprepareDevices, KYSO::SNAP_UNPREPARED, std::nullopt},
    {"snap", false, &PluginLibrary::snapDevices, KYSO::SNAP_CREATED, std::nullopt},
    {"map", true, &PluginLibrary::mapSnaps, KYSO::SNAP_MOUNTED, std::nullopt},
    {"unmap", true, &PluginLibrary::unmapSnaps, KYSO::SNAP_UNMOUNTED, std::nullopt},
    {"delete", true, &PluginLibrary::deleteSnaps, KYSO::SNAP_DELETED, Destruction::Delete},
    {"revert", true, &PluginLibrary::revertSnaps, KYSO::SNAP_REVERTED, Destruction::Revert},
    {"reconcile", true, &PluginLibrary::reconcileSnaps, 0, std::nullopt},
};

// Delete and reconcile are the operations that settle a record of a snapshot whose creation
// was not completed.
bool settles(const Operation& operation) {
    const std::string op = operation.name;
    return op == "delete" || op == "reconcile";
}

const Operation* findOperation(const std::string& name) {
    for (const Operation& operation : kOperations) {
        if (name == operation.name) {
            return &operation;
        }
    }
    return nullptr;
}

// One request of the run, with what it is about.
struct Item {
    DeviceName device;
    std::string snapshot;  // the host's snapshot id ("" for vpd, prepare, unprepare)
    RecordState state = RecordState::Created;  // of the snapshot's record before the call
    bool listedBefore = true;  // delete: the array listed the snapshot before the call
    std::unique_ptr<CliRequest> request;
    // A record whose creation was not confirmed that the array turned out not to hold: whether
    // its snapshot may still appear.
    std::optional<SettleVerdict> settle;
};

std::string hostIdentifier(const Session& session) {
    const std::string esx =
        !session.config.esxName.empty() ? session.config.esxName : session.backend->hostName();
    return "{hostType:esx,esxname:" + esx + "}";
}

// Fills what every request of the run shares: the host's settings and identity.
void fillShared(Session& session, CliRequest& request, int32_t id) {
    const HostConfig& config = session.config;
    if (config.retryCount) {
        request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = *config.retryCount;
    }
    if (config.retryInterval) {
        request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = *config.retryInterval;
    }
    if (config.diagnosticLogging) {
        request.configInts["SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING"] =
            *config.diagnosticLogging ? 1 : 0;
    }
    if (config.targetGroup) {
        request.configStrings["SMCONFIG_NAME_TARGET_GROUP"] = *config.targetGroup;
    }
    request.hostIdentifier = hostIdentifier(session);
    request.snapId = id;
    PluginLog* log = session.log.get();
    request.onLog = [log](const hostkit::LogLine& line) { log->request(line); };
}

// The array a device request starts with: --array, else for an NFS datastore the array of its
// server; block devices are left to the plug-in's search by target.
bool deviceArray(Session& session, const DeviceName& device, std::string& array,
                 std::string& error) {
    const ArrayDirectory& arrays = *session.directory;
    if (!session.options.array.empty()) {
        if (arrays.find(session.options.array) == nullptr) {
            error = "--array " + session.options.array + " is not in " + session.config.path;
            return false;
        }
        array = session.options.array;
        return true;
    }
    if (device.nfs) {
        const ArrayAccess* server = arrays.forServer(device.server);
        if (server == nullptr) {
            server = arrays.only();
        }
        if (server == nullptr) {
            error = "no configured array answers to NFS server " + device.server +
                    ": name it with --array";
            return false;
        }
        array = server->name;
    }
    return true;
}

bool makeItems(Session& session, const Operation& operation, std::vector<Item>& items,
               std::string& error) {
    Catalog& catalog = session.catalog;
    std::vector<std::string> names = session.options.arguments;
    if (names.empty() && std::string(operation.name) == "reconcile") {
        for (const SnapshotRecord& record : catalog.snapshots) {
            names.push_back(record.name);
        }
        if (names.empty()) {
            error = "the catalog holds no snapshot to reconcile";
            return false;
        }
    }
    if (names.size() > static_cast<size_t>(std::numeric_limits<int16_t>::max())) {
        error = "too many requests for one call";
        return false;
    }
    std::set<std::string> seen;
    std::vector<std::string> newNames;
    const std::time_t now = std::time(nullptr);
    for (const std::string& name : names) {
        if (!seen.insert(name).second) {
            error = name + " is named twice";
            return false;
        }
        Item item;
        std::string array;
        std::string metadata;
        std::string transMetadata;
        std::string mounted;
        int32_t status = 0;
        if (operation.onSnapshots) {
            const SnapshotRecord* record = catalog.findSnapshot(name);
            if (record == nullptr) {
                error = "no snapshot " + name + " in the catalog (kysnap list shows them)";
                return false;
            }
            if (record->state != RecordState::Created && !settles(operation)) {
                error = name + " was not made completely (its record is \"" +
                        stateName(record->state) + "\"): kysnap reconcile " + name +
                        " settles it, kysnap delete " + name + " removes it";
                return false;
            }
            if (record->state != RecordState::Created && record->metadata.empty()) {
                error = "the catalog holds no metadata for " + name +
                        ", so the plug-in cannot be asked about it; remove the record by hand";
                return false;
            }
            if (!parseDeviceName(record->device, item.device, error)) {
                return false;
            }
            item.snapshot = record->name;
            item.state = record->state;
            array = record->array;
            metadata = record->metadata;
            transMetadata = record->transMetadata;
            mounted = record->mountedDevice;
            status = record->status;
        } else {
            if (!parseDeviceName(name, item.device, error)) {
                return false;
            }
            auto prepared = catalog.devices.find(name);
            const std::string op = operation.name;
            if (op == "snap" || op == "unprepare") {
                if (prepared == catalog.devices.end() ||
                    prepared->second.status != KYSO::SNAP_PREPARED) {
                    error = name + " is not prepared (kysnap prepare " + name + ")";
                    return false;
                }
                array = prepared->second.array;
                metadata = prepared->second.metadata;
                transMetadata = prepared->second.transMetadata;
                status = prepared->second.status;
            } else if (!deviceArray(session, item.device, array, error)) {
                return false;
            }
            if (op == "snap") {
                const std::string& last = newNames.empty() ? catalog.lastName : newNames.back();
                item.snapshot = newSnapshotName(now, last, [&](const std::string& candidate) {
                    return catalog.findSnapshot(candidate) != nullptr;
                });
                newNames.push_back(item.snapshot);
            }
        }
        item.request = std::make_unique<CliRequest>(*session.directory, array);
        CliRequest& request = *item.request;
        fillShared(session, request, static_cast<int32_t>(items.size() + 1));
        request.device = item.device.description;
        request.snapUUID = item.snapshot;
        request.metaData = metadata;
        request.transMetaData = transMetadata;
        request.snapDevice = mounted;
        request.status = status;
        items.push_back(std::move(item));
    }
    return true;
}

// Records each snapshot about to be made, as "creating", and saves the catalog before the
// plug-in is called: whatever becomes of the call, the array's snapshot has a record.
bool recordIntents(Session& session, const std::vector<Item>& items, std::string& error) {
    Catalog& catalog = session.catalog;
    const std::string now = isoTime(std::time(nullptr));
    for (const Item& item : items) {
        const PreparedDevice& prepared = catalog.devices.at(item.device.given);
        SnapshotRecord intent;
        intent.name = item.snapshot;
        intent.device = item.device.given;
        intent.array = prepared.array;
        intent.metadata = prepared.metadata;
        intent.transMetadata = prepared.transMetadata;
        intent.status = prepared.status;
        intent.created = now;
        intent.state = RecordState::Creating;
        catalog.snapshots.push_back(intent);
        catalog.lastName = item.snapshot;
    }
    return session.saveCatalog(error);
}

// True when the array refused to create `item`'s snapshot because one of that name exists.
// The id was new to this catalog, so that snapshot is another host's (or an older catalog's),
// not one this record may adopt or delete.
bool nameTakenOnArray(const Item& item) {
    for (const hostkit::LogLine& line : item.request->logLines) {
        if (line.text.find(item.snapshot) != std::string::npos &&
            line.text.find(plugintext::kArrayAlreadyExists) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The argument a command cannot go without, checked before anything is opened: a missing
// argument is the first thing to say.
bool hasArguments(const Operation& operation, const Options& options, std::string& error) {
    if (!options.arguments.empty() || std::string(operation.name) == "reconcile") {
        return true;
    }
    error = std::string(operation.name) + " needs at least one " +
            (operation.onSnapshots ? "snapshot" : "device") + " (kysnap " + operation.name +
            " --help)";
    return false;
}

bool succeeded(const Operation& operation, const Item& item) {
    const CliRequest& request = *item.request;
    if (operation.success != 0) {
        return request.status == operation.success;
    }
    if (std::string(operation.name) == "vpd") {
        return !request.lunIdsSet.empty();
    }
    // A reconcile sets no status when the snapshot is still there; its failure line tells.
    return !request.logged(std::string(plugintext::kReconcileFailed));
}

// Writes what the plug-in told the host about `item` into the catalog.
void record(Session& session, const Operation& operation, const Item& item, bool ok) {
    Catalog& catalog = session.catalog;
    const CliRequest& request = *item.request;
    const std::string op = operation.name;
    if (op == "vpd") {
        return;
    }
    if (op == "prepare" || op == "unprepare") {
        if (op == "unprepare") {
            catalog.devices.erase(item.device.given);
        } else if (ok) {
            catalog.devices[item.device.given] = PreparedDevice{
                request.arrayName(), request.metaData, request.transMetaData, request.status};
        }
        return;
    }
    SnapshotRecord* kept = catalog.findSnapshot(item.snapshot);
    if (kept == nullptr) {
        return;
    }
    if (op == "snap") {
        // The intent record keeps the prepared device's metadata until the plug-in has
        // written the snapshot's own.
        if (!ok && nameTakenOnArray(item)) {
            catalog.eraseSnapshot(item.snapshot);
            return;
        }
        kept->status = request.status;
        kept->state = ok ? RecordState::Created : RecordState::Failed;
        if (ok) {
            kept->array = request.arrayName();
            kept->metadata = request.metaData;
            kept->transMetadata = request.transMetaData;
        }
        return;
    }
    if (item.state != RecordState::Created) {
        // Only delete and reconcile get here. Not knowing is no reason to change the record,
        // and neither is a snapshot the array may still make.
        if (ok && item.settle && item.settle->mayStillAppear) {
            kept->state = RecordState::Unknown;
        } else if (ok && (op == "delete" || item.settle)) {
            catalog.eraseSnapshot(item.snapshot);
        } else if (ok) {
            kept->state = RecordState::Created;
            kept->status = KYSO::SNAP_CREATED;
        }
        return;
    }
    if (op == "delete" && ok) {
        catalog.eraseSnapshot(item.snapshot);
        return;
    }
    if (!request.metaDataWrites.empty()) {
        kept->metadata = request.metaData;
    }
    if (!request.transMetaDataWrites.empty()) {
        kept->transMetadata = request.transMetaData;
    }
    kept->status = request.status;
    kept->mountedDevice = op == "unmap" && ok ? "" : request.snapDevice;
    if (op == "unmap" && ok) {
        kept->clone.clear();
    }
}

std::string detail(const Operation& operation, const Item& item, bool ok) {
    const CliRequest& request = *item.request;
    const std::string op = operation.name;
    if (op == "vpd" && ok) {
        return "LUN " + request.lunIdsSet.back() +
               (request.targetIdsSet.empty() ? "" : " target " + request.targetIdsSet.back()) +
               " array " + request.arrayName();
    }
    if ((op == "prepare" || op == "snap") && ok) {
        return "on array " + request.arrayName();
    }
    if (op == "map" && ok) {
        const std::string copy = mountedCopyText(request.snapDevice);
        return copy.empty() ? std::string() : "-> " + copy;
    }
    if (op == "snap" && !ok && nameTakenOnArray(item)) {
        return "(the array holds another snapshot of this id, not this host's: no record kept)";
    }
    if (ok && item.settle) {
        return item.settle->mayStillAppear
                   ? "(not on the array, but " + item.settle->why + ": kept as unknown; kysnap " +
                         op + " " + item.snapshot + " settles it then)"
                   : "(its creation had not finished and it is not on the array: record removed, "
                     "as " +
                         item.settle->why + ")";
    }
    if (op == "reconcile" && ok && item.state != RecordState::Created) {
        return "(its creation had not finished but it is on the array: now recorded)";
    }
    if (op == "reconcile" && ok && request.status != KYSO::SNAP_UNAVAILABLE) {
        return "(still on the array)";
    }
    if (!ok && !request.problem().empty()) {
        return "(" + request.problem() + ")";
    }
    return std::string();
}

// The first failure lines the plug-in logged for `request`: usually the cause, before the lines
// of the layers above that pass the failure on.
std::vector<std::string> failureLines(const Session& session, const CliRequest& request) {
    constexpr size_t kShown = 2;
    std::vector<std::string> lines;
    for (const hostkit::LogLine& line : request.logLines) {
        if (line.level == 2 && lines.size() < kShown) {
            lines.push_back(session.log->mask(line.text));
        }
    }
    return lines;
}

// True when the host could not remove `device` (either side may be padded with blanks).
bool deviceLeftOnHost(const HostBackend& backend, const std::string& device) {
    const auto unpadded = [](const std::string& name) {
        const size_t start = name.find_first_not_of(' ');
        return start == std::string::npos ? std::string() : name.substr(start);
    };
    const std::vector<std::string>& left = backend.devicesLeft();
    return !unpadded(device).empty() &&
           std::any_of(left.begin(), left.end(),
                       [&](const std::string& name) { return unpadded(name) == unpadded(device); });
}

}  // namespace

bool isBatchCommand(const std::string& command) {
    return findOperation(command) != nullptr;
}

int runBatchCommand(const Options& options) {
    const Operation* operation = findOperation(options.command);
    if (operation == nullptr) {
        return cannotRun(options, "unknown command " + options.command);
    }
    std::string error;
    if (!hasArguments(*operation, options, error)) {
        return cannotRun(options, error);
    }
    std::unique_ptr<Session> session = Session::open(options, {false, true, true, true}, error);
    if (!session) {
        return cannotRun(options, error);
    }
    std::vector<Item> items;
    if (!makeItems(*session, *operation, items, error)) {
        return cannotRun(options, error);
    }
    // The array takes a snapshot's clones with it, and a rollback the newer snapshots with
    // theirs: what would be lost is read and named before anything is asked of the array.
    DestroyPlan plan;
    const std::optional<Destruction> destruction = operation->destroys;
    if (destruction) {
        std::vector<std::string> snapshots;
        for (const Item& item : items) {
            snapshots.push_back(item.snapshot);
        }
        if (!readDestroyPlan(*session, *destruction, snapshots, plan, error)) {
            return cannotRun(options, error);
        }
        if (options.dryRun) {
            return printDryRun(plan, options);
        }
        if (!mayDestroy(plan, options)) {
            return 1;
        }
        for (size_t i = 0; i < items.size(); ++i) {
            items[i].listedBefore = plan.requests[i].found.snapshotListed;
        }
    }
    if (std::string(operation->name) == "snap" && !recordIntents(*session, items, error)) {
        return cannotRun(options,
                         "no snapshot was made, because the catalog cannot record them: " + error);
    }

    // The plug-in decides a call's protocol from its first request, so block devices and NFS
    // datastores go in separate calls, each in the order given.
    OperationReport report;
    report.operation = operation->name;
    std::vector<int32_t> results;
    for (const bool nfs : {false, true}) {
        std::vector<KYSO::SnapInfo*> batch;
        for (Item& item : items) {
            if (item.device.nfs == nfs) {
                batch.push_back(item.request.get());
            }
        }
        if (batch.empty()) {
            continue;
        }
        const KYSO::ResultCode result = (session->plugin.get()->*operation->call)(
            batch.data(), static_cast<int16_t>(batch.size()), session->backend.get());
        results.push_back(result);
    }
    report.result = combinedResult(results);

    const std::string op = operation->name;
    std::vector<std::string> problems;
    for (Item& item : items) {
        const bool left =
            op == "unmap" && deviceLeftOnHost(*session->backend, item.request->snapDevice);
        const bool ok = succeeded(*operation, item) && !left;
        const bool absent =
            op == "delete" ? !item.listedBefore : item.request->status == KYSO::SNAP_UNAVAILABLE;
        if (ok && item.state != RecordState::Created && absent) {
            item.settle = settleVerdict(*session, *session->catalog.findSnapshot(item.snapshot));
        }
        record(*session, *operation, item, ok);
        RequestOutcome outcome;
        outcome.snapshot = item.snapshot;
        outcome.device = item.device.given;
        outcome.status = item.request->status;
        SnapshotRecord* kept = session->catalog.findSnapshot(item.snapshot);
        std::string adopted;
        if (op == "reconcile" && kept != nullptr) {
            // What the catalog holds now, not what the plug-in found the request with.
            outcome.status = kept->status;
            if (ok && kept->state == RecordState::Created) {
                adopted = adoptUnrecordedClone(*session, *kept, problems);
            }
        }
        outcome.hasStatus = std::string(operation->name) != "vpd" && !left;
        if (left) {
            // Unmapped on the array, yet not gone from the host: never reported "unmounted".
            outcome.state = "unmapped on the array, but still on this host";
        } else if (!outcome.hasStatus) {
            outcome.state = ok ? "identified" : "not identified";
        }
        outcome.succeeded = ok;
        outcome.detail = detail(*operation, item, ok);
        if (!adopted.empty()) {
            outcome.detail += (outcome.detail.empty() ? "" : " ") + std::string("(found ") +
                              adopted + ", which no map recorded: now recorded; kysnap unmap " +
                              item.snapshot + " removes it)";
        }
        if (!ok) {
            outcome.failures = failureLines(*session, *item.request);
        }
        report.requests.push_back(outcome);
        for (const hostkit::ErrorReport& reported : item.request->errors) {
            report.errors.push_back(
                hostkit::ErrorReport{reported.code, session->log->mask(reported.message)});
        }
    }
    report.hostProblems = session->backend->problems();
    report.hostProblems.insert(report.hostProblems.end(), problems.begin(), problems.end());
    if (destruction == Destruction::Revert) {
        const std::vector<std::string> removed =
            forgetDestroyed(*session, plan, report.hostProblems);
        for (size_t i = 0; i < removed.size(); ++i) {
            if (!removed[i].empty()) {
                std::string& detail = report.requests[i].detail;
                detail += (detail.empty() ? "" : " ") + std::string("(the array destroyed ") +
                          removed[i] + " with it; removed from the catalog)";
            }
        }
    }
    // The report says what the catalog holds, so it comes after the save.
    if (!session->saveCatalog(error)) {
        report.catalogError = error;
        for (const RequestOutcome& outcome : report.requests) {
            if (outcome.succeeded) {
                report.unrecorded.push_back(outcome.snapshot.empty() ? outcome.device
                                                                     : outcome.snapshot);
            }
        }
        std::fprintf(stderr, "kysnap: %s\n", notRecordedMessage(report).c_str());
    }
    printReport(report, options.json, options.verbose);
    return report.exitStatus();
}

}  // namespace kysnap
