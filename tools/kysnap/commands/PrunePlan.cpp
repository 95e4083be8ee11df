// SPDX-License-Identifier: Apache-2.0
#include "PrunePlan.h"

#include <map>

#include "Dependents.h"
#include "RecordFields.h"
#include "SourceListings.h"

namespace kysnap {

namespace {

// What one dataset's array says of it, read once.
struct DatasetFacts {
    std::string problem;  // why it could not be read ("": read)
    std::vector<std::string> names;
    std::vector<ReplicationBase> bases;
    const nlohmann::json* datasets = nullptr;  // its project's, in ProjectFacts
};

struct ProjectFacts {
    std::string problem;
    nlohmann::json datasets = nlohmann::json::array();
};

// The arrays' answers of one run, each asked at most once.
class ArrayFacts {
public:
    explicit ArrayFacts(const Session& session) : session_(session) {}

    // The facts of the dataset of `source` on `array`.
    const DatasetFacts& dataset(const ArrayAccess& array, const SnapshotSource& source) {
        const std::string key = array.name + "\n" + source.datasetPath();
        const auto known = datasets_.find(key);
        if (known != datasets_.end()) {
            return known->second;
        }
        DatasetFacts& facts = datasets_[key];
        const ProjectFacts& project = projectOf(array, source);
        std::string error;
        if (!project.problem.empty()) {
            facts.problem = project.problem;
        } else if (!listedSnapshots(array, source.datasetPath(), facts.names, error) ||
                   !replicationBases(array, source.datasetPath(), facts.bases, error)) {
            facts.problem = error;
        }
        facts.datasets = &project.datasets;
        return facts;
    }

    const ArrayAccess* array(const std::string& name) const {
        return session_.directory->find(name);
    }

private:
    const ProjectFacts& projectOf(const ArrayAccess& array, const SnapshotSource& source) {
        const std::string key = array.name + "\n" + (source.share ? "share" : "volume") + "\n" +
                                source.pool + "\n" + source.project;
        const auto known = projects_.find(key);
        if (known != projects_.end()) {
            return known->second;
        }
        ProjectFacts& facts = projects_[key];
        std::string error;
        if (listedDatasets(array, source, facts.datasets, error) == Listing::Failed) {
            facts.problem = error;
        }
        return facts;
    }

    const Session& session_;
    std::map<std::string, DatasetFacts> datasets_;
    std::map<std::string, ProjectFacts> projects_;
};

std::string joined(const std::vector<std::string>& texts) {
    std::string text;
    for (const std::string& part : texts) {
        text += (text.empty() ? "" : "; ") + part;
    }
    return text;
}

void protect(RetentionFacts& facts, const std::string& id, const std::string& reason) {
    std::string& reasons = facts.protections[id];
    reasons += (reasons.empty() ? "" : "; ") + reason;
}

// Reads what the array says of one created record and adds what protects it to `facts`. False
// with `problem` set when the array could not tell.
bool judgeRecord(const Session& session, ArrayFacts& arrays, const SnapshotRecord& record,
                 RetentionFacts& facts, std::string& problem) {
    if (!record.clone.empty()) {
        protect(facts, record.name, "its clone " + record.clone + " is recorded");
    }
    const ArrayAccess* array = arrays.array(record.array);
    if (array == nullptr) {
        problem = "the catalog keeps " + record.name + " on array " + record.array + ", which " +
                  session.config.path + " does not configure";
        return false;
    }
    SnapshotSource source;
    if (!snapshotSource(record, source, problem)) {
        return false;
    }
    const DatasetFacts& dataset = arrays.dataset(*array, source);
    if (!dataset.problem.empty()) {
        problem = dataset.problem;
        return false;
    }
    Dependents found;
    if (!dependentsOfDelete(session.catalog, array->name, record, dataset.names, *dataset.datasets,
                            found, problem)) {
        return false;
    }
    if (!found.snapshotListed) {
        facts.absent.insert(record.name);
        return true;
    }
    if (!found.blocks.empty()) {
        protect(facts, record.name, "in use: " + joined(found.blocks));
    }
    const std::string name = found.snapshotPath.substr(found.snapshotPath.find('@') + 1);
    for (const ReplicationBase& base : dataset.bases) {
        if (base.snapshot == name) {
            protect(facts, record.name,
                    "the replication base of " +
                        (base.configuration.empty() ? std::string("a replication configuration")
                                                    : "replication " + base.configuration) +
                        " (the last snapshot it sent; the next send starts from it)");
        }
    }
    return true;
}

PrunedDevice pruneDevice(const Session& session, ArrayFacts& arrays, const Policy& policy,
                         const std::string& device, std::time_t now) {
    PrunedDevice pruned;
    pruned.policy = policy.name;
    pruned.device = device;
    std::vector<SnapshotRecord> records;
    RetentionFacts facts;
    facts.now = now;
    for (const SnapshotRecord& record : session.catalog.snapshots) {
        if (record.device != device || !prunable(record.name)) {
            continue;
        }
        records.push_back(record);
        if (record.state == RecordState::Created && pruned.problem.empty()) {
            judgeRecord(session, arrays, record, facts, pruned.problem);
        }
    }
    if (!pruned.problem.empty()) {
        // What could not be read may be in use: everything stays, and the decisions say why.
        for (const SnapshotRecord& record : records) {
            protect(facts, record.name, "nothing of " + device + " is pruned: " + pruned.problem);
        }
    }
    pruned.decisions = decideRetention(records, policy, facts);
    return pruned;
}

}  // namespace

std::vector<std::string> PrunePlan::deletions() const {
    std::vector<std::string> names;
    for (const PrunedDevice& device : devices) {
        for (const RetentionDecision& decision : device.decisions) {
            if (decision.verdict == Verdict::Delete) {
                names.push_back(decision.snapshot);
            }
        }
    }
    return names;
}

bool selectPolicies(const HostConfig& config, const std::string& name,
                    std::vector<const Policy*>& policies, std::string& error) {
    policies.clear();
    if (!name.empty()) {
        const Policy* policy = config.findPolicy(name);
        if (policy == nullptr) {
            error = "no [policy " + name + "] in " + config.path;
            return false;
        }
        policies.push_back(policy);
        return true;
    }
    for (const Policy& policy : config.policies) {
        policies.push_back(&policy);
    }
    if (policies.empty()) {
        error = config.path + " has no [policy NAME] section, so prune has no rule to keep by";
        return false;
    }
    return true;
}

PrunePlan readPrunePlan(const Session& session, const std::vector<const Policy*>& policies,
                        std::time_t now) {
    PrunePlan plan;
    ArrayFacts arrays(session);
    for (const Policy* policy : policies) {
        for (const std::string& device : policy->devices) {
            plan.devices.push_back(pruneDevice(session, arrays, *policy, device, now));
        }
    }
    return plan;
}

}  // namespace kysnap
