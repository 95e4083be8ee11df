// SPDX-License-Identifier: Apache-2.0
#include "DestroyPlan.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "JsonOutput.h"
#include "StatusNames.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// The request's first line: what the call does to the snapshot itself.
std::string whatItDoes(const DestroyPlan& plan, const PlannedRequest& request) {
    if (plan.destruction == Destruction::Delete && !request.found.blocks.empty()) {
        return "would be refused on array " + request.array +
               ": the array would delete with it what is in use";
    }
    if (plan.destruction == Destruction::Delete) {
        return "would be deleted on array " + request.array +
               (request.found.snapshotListed
                    ? std::string()
                    : " (the array no longer lists it: only its record goes)");
    }
    return "would roll " + request.device + " back to it on array " + request.array +
           ", destroying the data written since";
}

void printLines(FILE* stream, const char* indent, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        std::fprintf(stream, "%s%s\n", indent, visibleText(line).c_str());
    }
}

JsonDocument textArray(const std::vector<std::string>& texts) {
    JsonDocument array = JsonDocument::array();
    for (const std::string& text : texts) {
        array.push_back(visibleText(text));
    }
    return array;
}

// The paths the call destroys besides the source's newer data.
std::vector<std::string> destroyedPaths(const DestroyPlan& plan, const PlannedRequest& request) {
    std::vector<std::string> paths;
    if (plan.destruction == Destruction::Delete) {
        paths.push_back(request.found.snapshotPath);
    }
    for (const LostSnapshot& snapshot : request.found.newer) {
        paths.push_back(snapshot.path);
    }
    for (const LostClone& clone : request.found.clones) {
        paths.push_back(clone.path);
    }
    return paths;
}

// Why the run would not go on ("" when it would).
std::string refusal(const DestroyPlan& plan, const Options& options) {
    if (plan.blocked()) {
        return std::string("the ") + plan.verb() + " would be refused (blocked above)";
    }
    if (plan.destruction == Destruction::Revert && !options.destroyNewer) {
        return "the revert needs --destroy-newer";
    }
    return std::string();
}

bool confirmedOnTerminal() {
    std::fprintf(stderr, "Revert? [y/N] ");
    std::fflush(stderr);
    char answer[16] = {};
    if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
        return false;
    }
    const std::string given(answer, std::strcspn(answer, "\r\n"));
    return given == "y" || given == "Y" || given == "yes" || given == "YES" || given == "Yes";
}

}  // namespace

bool DestroyPlan::blocked() const {
    return std::any_of(requests.begin(), requests.end(),
                       [](const PlannedRequest& request) { return !request.found.blocks.empty(); });
}

const char* DestroyPlan::verb() const {
    return destruction == Destruction::Delete ? "delete" : "revert";
}

bool readDestroyPlan(const Session& session, Destruction destruction,
                     const std::vector<std::string>& snapshots, DestroyPlan& plan,
                     std::string& error) {
    plan = DestroyPlan();
    plan.destruction = destruction;
    for (const std::string& id : snapshots) {
        const SnapshotRecord* record = nullptr;
        for (const SnapshotRecord& kept : session.catalog.snapshots) {
            if (kept.name == id) {
                record = &kept;
            }
        }
        if (record == nullptr) {
            error = "no snapshot " + id + " in the catalog (kysnap list shows them)";
            return false;
        }
        const ArrayAccess* array = session.directory->find(record->array);
        if (array == nullptr) {
            error = "the catalog keeps " + id + " on array " + record->array + ", which " +
                    session.config.path + " does not configure";
            return false;
        }
        PlannedRequest request{id, record->device, array->name, Dependents()};
        std::string why;
        if (!findDependents(session.catalog, *array, *record, destruction, request.found, why)) {
            error = "cannot tell what the " + std::string(plan.verb()) + " of " + id +
                    " would destroy, so nothing was changed: " + why;
            return false;
        }
        for (const PlannedRequest& earlier : plan.requests) {
            if (destruction == Destruction::Revert && earlier.array == request.array &&
                earlier.found.source.datasetPath() == request.found.source.datasetPath()) {
                error = earlier.snapshot + " and " + id +
                        " are snapshots of the same source: " + "revert to one of them at a time";
                return false;
            }
        }
        plan.requests.push_back(std::move(request));
    }
    return true;
}

int printDryRun(const DestroyPlan& plan, const Options& options) {
    const std::string op = plan.verb();
    const std::string refused = refusal(plan, options);
    if (options.json) {
        // The root of the real run's report, and what the run would do: a request "succeeds"
        // when it would be sent; a refusal fails them all.
        const int32_t result = refused.empty() ? 0 : 1;
        JsonDocument root = jsonDocument(op);
        root["dryRun"] = true;
        root["result"] = resultName(result);
        root["resultCode"] = result;
        root["exitStatus"] = result;
        root["requests"] = JsonDocument::array();
        for (const PlannedRequest& request : plan.requests) {
            JsonDocument entry;
            entry["snapshot"] = request.snapshot;
            entry["device"] = visibleText(request.device);
            entry["state"] = "dry run";
            entry["succeeded"] = refused.empty();
            entry["array"] = visibleText(request.array);
            entry["wouldDo"] = visibleText(whatItDoes(plan, request));
            entry["destroys"] = textArray(destroyedPaths(plan, request));
            entry["blocked"] = textArray(request.found.blocks);
            root["requests"].push_back(std::move(entry));
        }
        root["errors"] = JsonDocument::array();
        root["hostProblems"] = JsonDocument::array();
        if (!refused.empty()) {
            root["refused"] = visibleText(refused);
        }
        printJsonDocument(root);
    } else {
        for (const PlannedRequest& request : plan.requests) {
            std::printf("%-9s %s (%s): %s\n", op.c_str(), request.snapshot.c_str(),
                        visibleText(request.device).c_str(),
                        visibleText(whatItDoes(plan, request)).c_str());
            printLines(stdout, "          ", describeDependents(request.found, plan.destruction));
        }
        const std::string verdict = refused.empty() ? std::string() : "; " + refused;
        std::printf("%-9s dry run: nothing was changed%s\n", op.c_str(), verdict.c_str());
    }
    return refused.empty() ? 0 : 1;
}

bool mayDestroy(const DestroyPlan& plan, const Options& options) {
    const bool revert = plan.destruction == Destruction::Revert;
    for (const PlannedRequest& request : plan.requests) {
        const std::vector<std::string> lines = describeDependents(request.found, plan.destruction);
        if (revert) {
            std::fprintf(stderr,
                         "kysnap: revert of %s to %s on array %s destroys the data written since\n",
                         visibleText(request.device).c_str(), request.snapshot.c_str(),
                         request.array.c_str());
        } else if (!request.found.blocks.empty()) {
            std::fprintf(stderr, "kysnap: delete of %s on array %s would destroy what is in use:\n",
                         request.snapshot.c_str(), request.array.c_str());
        }
        if (revert || !request.found.blocks.empty()) {
            printLines(stderr, "  ", lines);
        }
    }
    if (plan.blocked()) {
        std::fprintf(stderr, "kysnap: nothing was %s: free what is blocked above first\n",
                     revert ? "reverted" : "deleted");
        return false;
    }
    if (!revert) {
        return true;
    }
    if (!options.destroyNewer) {
        std::fprintf(stderr,
                     "kysnap: nothing was reverted: kysnap revert --destroy-newer goes on, "
                     "destroying what is named above\n");
        return false;
    }
    if (!options.yes && isatty(0) == 1 && !confirmedOnTerminal()) {
        std::fprintf(stderr, "kysnap: nothing was reverted\n");
        return false;
    }
    return true;
}

std::vector<std::string> forgetDestroyed(Session& session, const DestroyPlan& plan,
                                         std::vector<std::string>& problems) {
    std::vector<std::string> removed(plan.requests.size());
    for (size_t i = 0; i < plan.requests.size(); ++i) {
        const PlannedRequest& request = plan.requests[i];
        const bool recorded =
            std::any_of(request.found.newer.begin(), request.found.newer.end(),
                        [](const LostSnapshot& snapshot) { return !snapshot.id.empty(); });
        const ArrayAccess* array = session.directory->find(request.array);
        if (!recorded || array == nullptr) {
            continue;
        }
        std::vector<std::string> names;
        std::string why;
        const std::string dataset = request.found.source.datasetPath();
        if (!listedSnapshots(*array, dataset, names, why)) {
            problems.push_back(
                "the snapshots of " + dataset + " cannot be read after the revert (" + why +
                "): kysnap reconcile settles the records of those newer than " + request.snapshot);
            continue;
        }
        for (const LostSnapshot& snapshot : request.found.newer) {
            const std::string name = snapshot.path.substr(snapshot.path.find('@') + 1);
            if (snapshot.id.empty() || std::find(names.begin(), names.end(), name) != names.end()) {
                continue;
            }
            session.catalog.eraseSnapshot(snapshot.id);
            removed[i] += (removed[i].empty() ? "" : ", ") + snapshot.id;
        }
    }
    return removed;
}

}  // namespace kysnap
