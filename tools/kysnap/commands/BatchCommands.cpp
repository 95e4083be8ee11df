// SPDX-License-Identifier: Apache-2.0
#include "BatchCommands.h"

#include <cstdio>
#include <limits>
#include <set>

#include "BatchItems.h"
#include "BatchOperations.h"
#include "BatchOutcome.h"
#include "CannotRun.h"
#include "DestroyPlan.h"
#include "Report.h"

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

}  // namespace

OperationReport callAndSettle(Session& session, const batch::Operation& operation,
                              RequestAttribution& attribution, std::vector<BatchItem>& items,
                              const DestroyPlan& plan) {
    OperationReport report;
    report.operation = operation.name;
    report.unrecordedWork = operation.unrecorded;
    report.result = callPlugin(session, operation, attribution, items);
    std::vector<std::string> problems;
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
    // The report says what the catalog holds, so it comes after the save.
    saveAfterCall(session, report);
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
    if (operation->ids == batch::Ids::MadeNew && !recordIntents(*session, items, error)) {
        return cannotRun(options,
                         "no snapshot was made, because the catalog cannot record them: " + error);
    }
    const OperationReport report = callAndSettle(*session, *operation, attribution, items, plan);
    printReport(report, options.json, options.verbose);
    return report.exitStatus();
}

}  // namespace kysnap
