// SPDX-License-Identifier: Apache-2.0
#include "BatchCommands.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <set>

#include "AuditTrail.h"
#include "BatchItems.h"
#include "BatchOperations.h"
#include "BatchOutcome.h"
#include "CannotRun.h"
#include "DestroyPlan.h"
#include "Quiescing.h"
#include "Report.h"
#include "SourceListings.h"
#include "StatusNames.h"

namespace kysnap {

namespace {

// Operands that cannot make one call, told before anything is opened.
bool operandsFit(const Options& options, std::string& error) {
    if (options.arguments.size() > static_cast<size_t>(std::numeric_limits<int16_t>::max())) {
        error = "too many requests for one call";
        return false;
    }
    std::set<std::string> seen;
    for (const std::string& name : options.arguments) {
        if (!seen.insert(name).second) {
            error = name + " is named twice";
            return false;
        }
    }
    return true;
}

// Calls the plug-in. It decides a call's protocol from its first request, so block devices
// and NFS datastores go in separate calls, each in the order given. Returns the result code of
// the calls together.
int32_t callPlugin(Session& session, const batch::Operation& operation,
                   RequestAttribution& attribution, std::vector<BatchItem>& items) {
    std::vector<int32_t> results;
    for (const bool nfs : {false, true}) {
        std::vector<KYSO::SnapInfo*> batch;
        for (BatchItem& item : items) {
            if (item.device.nfs == nfs) {
                batch.push_back(item.request.get());
            }
        }
        if (batch.empty()) {
            continue;
        }
        attribution.callStarts();
        results.push_back((session.plugin.get()->*operation.call)(
            batch.data(), static_cast<int16_t>(batch.size()), session.backend.get()));
    }
    return combinedResult(results);
}

// Saves the catalog after the call; when it cannot be, the report names what it lacks.
void saveAfterCall(Session& session, OperationReport& report) {
    std::string error;
    if (session.saveCatalog(error)) {
        return;
    }
    report.catalogError = error;
    for (const RequestOutcome& outcome : report.requests) {
        if (outcome.succeeded) {
            report.unrecorded.push_back(outcome.snapshot.empty() ? outcome.device
                                                                 : outcome.snapshot);
        }
    }
    std::fprintf(stderr, "kysnap: %s\n", notRecordedMessage(report).c_str());
}

// --policy NAME: the policy's devices, from the configuration the run will use, as operands.
bool policyDevices(Options& options, std::string& error) {
    if (options.policy.empty()) {
        return true;
    }
    HostConfig config;
    if (!Session::loadConfig(options, false, config, error)) {
        return false;
    }
    const Policy* policy = config.findPolicy(options.policy);
    if (policy == nullptr) {
        error = "no [policy " + options.policy + "] in " + config.path;
        return false;
    }
    options.arguments = policy->devices;
    return true;
}

// Each request's audit entry with what it is about, read from the catalog before the call (a
// deleted snapshot's record is gone after it).
std::vector<AuditEntry> auditTargets(const Session& session, const AuditTrail& trail,
                                     const std::vector<BatchItem>& items) {
    std::vector<AuditEntry> entries;
    for (const BatchItem& item : items) {
        AuditEntry entry = trail.entry(session.options.command);
        entry.device = item.device.given;
        entry.snapshot = item.snapshot;
        for (const SnapshotRecord& record : session.catalog.snapshots) {
            SnapshotSource source;
            std::string unknown;
            if (record.name != item.snapshot) {
                continue;
            }
            entry.array = record.array;
            entry.device = record.device;
            if (snapshotSource(record, source, unknown)) {
                entry.dataset = source.datasetPath();
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

// Completes the entries with each request's outcome and appends them.
void writeAudit(const AuditTrail& trail, std::vector<AuditEntry>& entries,
                const std::vector<BatchItem>& items, const OperationReport& report) {
    const int exitStatus = report.exitStatus();
    for (size_t i = 0; i < entries.size() && i < report.requests.size(); ++i) {
        const RequestOutcome& outcome = report.requests[i];
        AuditEntry& entry = entries[i];
        const AuditEntry now = trail.entry(entry.operation);
        entry.time = now.time;
        entry.seconds = now.seconds;
        entry.methods = arrayMethodsSent(items[i].lines);
        entry.result = !outcome.succeeded            ? "failed"
                       : report.catalogError.empty() ? "succeeded"
                                                     : "succeeded, not recorded in the catalog";
        entry.status = outcome.hasStatus ? statusName(outcome.status) : outcome.state;
        entry.statusCode = outcome.status;
        entry.exitStatus = exitStatus;
    }
    trail.write(entries);
}

// The snapshots the freeze failed to cover are not made: their "creating" records go again.
void dropIntents(Session& session, const std::vector<BatchItem>& items) {
    for (const BatchItem& item : items) {
        session.catalog.eraseSnapshot(item.snapshot);
    }
    std::string error;
    if (!session.saveCatalog(error)) {
        std::fprintf(stderr, "kysnap: %s\n", error.c_str());
    }
}

// Each record of the batch keeps its consistency, and each successful line says it.
void recordConsistency(Session& session, const Quiescing& quiescing,
                       const std::vector<BatchItem>& items, OperationReport& report) {
    const Consistency consistency = quiescing.consistency();
    for (const BatchItem& item : items) {
        if (SnapshotRecord* record = session.catalog.findSnapshot(item.snapshot)) {
            record->consistency = consistency;
        }
    }
    for (RequestOutcome& outcome : report.requests) {
        if (outcome.succeeded) {
            outcome.detail +=
                std::string(outcome.detail.empty() ? "" : ", ") + consistencyName(consistency);
        }
    }
}

}  // namespace

OperationReport callAndSettle(Session& session, const batch::Operation& operation,
                              RequestAttribution& attribution, std::vector<BatchItem>& items,
                              const DestroyPlan& plan, Quiescing* quiescing) {
    // Audited as the command that asked (prune's deletions are "prune"), timed from the call.
    const AuditTrail trail(session.config, session.store->path(), session.backend->hostName(),
                           std::chrono::steady_clock::now());
    std::vector<AuditEntry> audit;
    if (operation.audited == batch::Audited::EachRequest) {
        audit = auditTargets(session, trail, items);
    }
    OperationReport report;
    report.operation = operation.name;
    report.unrecordedWork = operation.unrecorded;
    report.result = callPlugin(session, operation, attribution, items);
    std::vector<std::string> problems;
    if (quiescing != nullptr) {
        quiescing->thaw(problems);
        quiescing->runPostHook(problems);  // a failure is in problems, and fellShort says it
    }
    for (BatchItem& item : items) {
        report.requests.push_back(settleItem(session, operation, item, problems));
        for (const hostkit::ErrorReport& reported : item.request->errors) {
            report.errors.push_back(
                hostkit::ErrorReport{reported.code, session.log->mask(reported.message)});
        }
    }
    report.hostProblems = session.backend->problems();
    report.hostProblems.insert(report.hostProblems.end(), problems.begin(), problems.end());
    if (operation.destroys == Destruction::Revert) {
        const std::vector<std::string> removed =
            forgetDestroyed(session, plan, report.hostProblems);
        for (size_t i = 0; i < removed.size(); ++i) {
            if (!removed[i].empty()) {
                std::string& detail = report.requests[i].detail;
                detail += (detail.empty() ? "" : " ") + std::string("(the array destroyed ") +
                          removed[i] + " with it; removed from the catalog)";
            }
        }
    }
    if (quiescing != nullptr && quiescing->asked()) {
        recordConsistency(session, *quiescing, items, report);
    }
    // The report says what the catalog holds, so it comes after the save.
    saveAfterCall(session, report);
    if (!audit.empty()) {
        writeAudit(trail, audit, items, report);
    }
    return report;
}

int runBatchCommand(const Options& given, const Session::Needs& needs) {
    const batch::Operation* operation = batch::findOperation(given.command);
    if (operation == nullptr) {
        return cannotRun(given, "no batch operation " + given.command);
    }
    Options options = given;
    std::string error;
    if (!policyDevices(options, error)) {
        return cannotRun(options, error);
    }
    if (!operandsFit(options, error)) {
        return usageError(options, error);
    }
    // Mount points are checked before anything is read or run.
    std::unique_ptr<Quiescing> quiescing;
    if (operation->quiesce == batch::Quiesce::AroundCall) {
        if (!quiesceOptionsFit(options, error)) {
            return usageError(options, error);
        }
        quiescing = Quiescing::prepare(options, error);
        if (!quiescing) {
            return cannotRun(options, error);
        }
    }
    std::unique_ptr<Session> session = Session::open(options, needs, error);
    if (!session) {
        return cannotRun(options, error);
    }
    RequestAttribution attribution;
    std::vector<BatchItem> items;
    if (!makeBatchItems(*session, *operation, options.arguments, attribution, items, error)) {
        return cannotRun(options, error);
    }
    // The array takes a snapshot's clones with it, and a rollback the newer snapshots with
    // theirs: what would be lost is read and named before anything is asked of the array.
    DestroyPlan plan;
    if (operation->destroys) {
        std::vector<std::string> snapshots;
        for (const BatchItem& item : items) {
            snapshots.push_back(item.snapshot);
        }
        if (!readDestroyPlan(*session, *operation->destroys, snapshots, plan, error)) {
            return cannotRun(options, error);
        }
        if (options.dryRun) {
            return printDryRun(plan, options);
        }
        if (!mayDestroy(plan, options)) {
            return kExitFailure;
        }
        for (size_t i = 0; i < items.size(); ++i) {
            items[i].listedBefore = plan.requests[i].found.snapshotListed;
        }
    }
    if (quiescing) {
        std::vector<std::string> secrets;
        for (const ArrayConfig& array : session->config.arrays) {
            if (!array.passwordEnv.empty()) {
                secrets.push_back(array.passwordEnv);
            }
        }
        quiescing->withhold(secrets);
    }
    if (quiescing && !quiescing->runPreHook()) {
        printErrorDocument(options, kExitFailure, "the pre-hook failed: no snapshot was taken");
        return kExitFailure;
    }
    if (operation->ids == batch::Ids::MadeNew && !recordIntents(*session, items, error)) {
        return cannotRun(options,
                         "no snapshot was made, because the catalog cannot record them: " + error);
    }
    // Frozen for the create alone: the catalog was saved before, and is saved after the thaw.
    if (quiescing && !quiescing->freeze()) {
        dropIntents(*session, items);
        printErrorDocument(options, kExitFailure, "the freeze failed: no snapshot was taken");
        return kExitFailure;
    }
    const OperationReport report =
        callAndSettle(*session, *operation, attribution, items, plan, quiescing.get());
    printReport(report, options.json, options.verbose);
    // A snapshot that is not what was asked for, or an application the post-hook may have left
    // quiesced, is no plain success.
    const bool shortOfAsked = quiescing && quiescing->fellShort();
    return shortOfAsked && report.exitStatus() == kExitSuccess ? kExitPartial : report.exitStatus();
}

}  // namespace kysnap
