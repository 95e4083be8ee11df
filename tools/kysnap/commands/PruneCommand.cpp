// SPDX-License-Identifier: Apache-2.0
#include "PruneCommand.h"

#include <cstdio>
#include <ctime>
#include <map>

#include "BatchCommands.h"
#include "CannotRun.h"
#include "JsonOutput.h"
#include "PrunePlan.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// What became of one decided deletion.
struct Deletion {
    bool done = false;
    std::string failure;  // why it was not done ("" when done, or in a dry run)
};

const char* verdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Keep:
            return "keep";
        case Verdict::Delete:
            return "delete";
        case Verdict::Left:
            return "left";
    }
    return "?";
}

std::string joined(const std::vector<std::string>& texts) {
    std::string text;
    for (const std::string& part : texts) {
        text += (text.empty() ? "" : "; ") + part;
    }
    return text;
}

// Deletes the plan's deletions in one delete call; what became of each, by snapshot id.
std::map<std::string, Deletion> deletePlanned(Session& session, const PrunePlan& plan,
                                              OperationReport& report) {
    std::map<std::string, Deletion> outcomes;
    const std::vector<std::string> names = plan.deletions();
    if (names.empty()) {
        return outcomes;  // an empty list would mean every catalog snapshot
    }
    const batch::Operation* remove = batch::findOperation("delete");
    RequestAttribution attribution;
    std::vector<BatchItem> items;
    std::string error;
    if (remove == nullptr || !makeBatchItems(session, *remove, names, attribution, items, error)) {
        for (const std::string& name : names) {
            outcomes[name].failure = error;
        }
        return outcomes;
    }
    // Only snapshots the array listed were decided for deletion (PrunePlan.h).
    for (BatchItem& item : items) {
        item.listedBefore = true;
    }
    report = callAndSettle(session, *remove, attribution, items, DestroyPlan());
    for (const RequestOutcome& outcome : report.requests) {
        Deletion& deletion = outcomes[outcome.snapshot];
        deletion.done = outcome.succeeded;
        if (!outcome.succeeded) {
            deletion.failure = outcome.reason.empty() ? "the plug-in did not delete it"
                                                      : session.log->mask(outcome.reason);
        }
    }
    return outcomes;
}

// The counts the exit status is decided by.
struct Tally {
    int judged = 0;   // devices all of whose facts were read
    int blind = 0;    // devices that could not be judged
    int deleted = 0;  // deletions done
    int failed = 0;   // deletions that failed
    int planned = 0;  // deletions a dry run would do

    int exitStatus(const OperationReport& report) const {
        if (!report.catalogError.empty()) {
            return kExitNotRecorded;
        }
        if (blind == 0 && failed == 0) {
            return kExitSuccess;
        }
        return judged > 0 || deleted > 0 ? kExitPartial : kExitFailure;
    }
};

void printText(const PrunePlan& plan, const std::map<std::string, Deletion>& outcomes, bool dryRun,
               Tally& tally) {
    for (const PrunedDevice& device : plan.devices) {
        const std::string name = visibleText(device.device);
        if (device.decisions.empty()) {
            std::printf("policy %s: %s has no snapshot in the catalog\n", device.policy.c_str(),
                        name.c_str());
        }
        for (const RetentionDecision& decision : device.decisions) {
            const std::string why = visibleText(joined(decision.reasons));
            const char* id = decision.snapshot.c_str();
            if (decision.verdict == Verdict::Keep) {
                std::printf("kept        %s of %s: %s\n", id, name.c_str(), why.c_str());
            } else if (decision.verdict == Verdict::Left) {
                std::printf("left        %s of %s: %s\n", id, name.c_str(), why.c_str());
            } else if (dryRun) {
                std::printf("would prune %s of %s: %s\n", id, name.c_str(), why.c_str());
            } else if (const Deletion& done = outcomes.at(decision.snapshot); done.done) {
                std::printf("pruned      %s of %s: %s\n", id, name.c_str(), why.c_str());
            } else {
                std::fprintf(stderr, "kysnap: %s of %s was not pruned: %s\n", id, name.c_str(),
                             visibleText(done.failure).c_str());
            }
        }
    }
    std::printf("prune: %d %s, %d failed%s\n", dryRun ? tally.planned : tally.deleted,
                dryRun ? "would be deleted" : "deleted", tally.failed,
                dryRun ? "; dry run: nothing was changed" : "");
}

JsonDocument jsonPlan(const PrunePlan& plan, const std::map<std::string, Deletion>& outcomes,
                      bool dryRun) {
    JsonDocument devices = JsonDocument::array();
    for (const PrunedDevice& device : plan.devices) {
        JsonDocument entry;
        entry["policy"] = device.policy;
        entry["device"] = visibleText(device.device);
        entry["problem"] =
            device.problem.empty() ? JsonDocument() : JsonDocument(visibleText(device.problem));
        entry["snapshots"] = JsonDocument::array();
        for (const RetentionDecision& decision : device.decisions) {
            JsonDocument snapshot;
            snapshot["snapshot"] = decision.snapshot;
            snapshot["verdict"] = verdictName(decision.verdict);
            snapshot["reasons"] = JsonDocument::array();
            for (const std::string& reason : decision.reasons) {
                snapshot["reasons"].push_back(visibleText(reason));
            }
            if (decision.verdict == Verdict::Delete && !dryRun) {
                const Deletion& done = outcomes.at(decision.snapshot);
                snapshot["deleted"] = done.done;
                if (!done.done) {
                    snapshot["failure"] = visibleText(done.failure);
                }
            }
            entry["snapshots"].push_back(std::move(snapshot));
        }
        devices.push_back(std::move(entry));
    }
    return devices;
}

}  // namespace

int runPrune(const Options& options, const Session::Needs& needs) {
    std::string error;
    std::unique_ptr<Session> session = Session::open(options, needs, error);
    if (!session) {
        return cannotRun(options, error);
    }
    std::vector<const Policy*> policies;
    if (!selectPolicies(session->config, options.policy, policies, error)) {
        return cannotRun(options, error);
    }
    const PrunePlan plan = readPrunePlan(*session, policies, std::time(nullptr));
    OperationReport report;
    std::map<std::string, Deletion> outcomes;
    if (!options.dryRun) {
        outcomes = deletePlanned(*session, plan, report);
    }
    Tally tally;
    for (const PrunedDevice& device : plan.devices) {
        (device.problem.empty() ? tally.judged : tally.blind)++;
    }
    tally.planned = static_cast<int>(plan.deletions().size());
    for (const auto& [name, deletion] : outcomes) {
        (deletion.done ? tally.deleted : tally.failed)++;
    }
    const int status = tally.exitStatus(report);
    for (const PrunedDevice& device : plan.devices) {
        if (!device.problem.empty()) {
            std::fprintf(stderr, "kysnap: nothing of %s (policy %s) is pruned: %s\n",
                         visibleText(device.device).c_str(), device.policy.c_str(),
                         visibleText(device.problem).c_str());
        }
    }
    if (options.json) {
        JsonDocument root = jsonDocument("prune");
        root["dryRun"] = options.dryRun;
        root["exitStatus"] = status;
        root["deleted"] = tally.deleted;
        root["failed"] = tally.failed;
        root["wouldDelete"] = options.dryRun ? tally.planned : 0;
        root["devices"] = jsonPlan(plan, outcomes, options.dryRun);
        root["hostProblems"] = JsonDocument::array();
        for (const std::string& problem : report.hostProblems) {
            root["hostProblems"].push_back(visibleText(problem));
        }
        if (!report.catalogError.empty()) {
            root["catalogError"] = visibleText(report.catalogError);
        }
        printJsonDocument(root);
    } else {
        printText(plan, outcomes, options.dryRun, tally);
        for (const std::string& problem : report.hostProblems) {
            std::fprintf(stderr, "kysnap: host: %s\n", visibleText(problem).c_str());
        }
    }
    return status;
}

}  // namespace kysnap
