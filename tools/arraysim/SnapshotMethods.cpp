// SPDX-License-Identifier: Apache-2.0
// Snapshots: creation (single and batched), creation status, listing, deletion and rollback.
//
// A snapshot created through the API with name N is called "Manual-V-N" (volume) or
// "Manual-S-N" (share) on the array; the batch call names its snapshots in full. A new
// snapshot exists at once; when the behaviour asks for it, its creation status answers
// "in progress" for a number of polls first. The single creates answer nothing (an empty
// body), as the array documents them.
#include <re2/re2.h>

#include "Limits.h"
#include "MethodTable.h"
#include "ModelJson.h"

namespace arraysim {

namespace {

const char* prefixOf(DatasetKind kind) {
    return kind == DatasetKind::Volume ? "Manual-V-" : "Manual-S-";
}

ApiError missingDataset(DatasetKind kind, const std::string& path) {
    return kind == DatasetKind::Volume ? errors::noSuchVolume(path) : errors::noSuchShare(path);
}

// Finds the dataset an object parameter describes: by poolName, projectName, name and local,
// falling back on datasetPath.
Dataset* resolveSource(Model& model, Params& params, const nlohmann::json& source, DatasetKind kind,
                       ApiError& error) {
    std::string pool = params.memberText(source, "poolName");
    std::string project = params.memberText(source, "projectName");
    std::string name = params.memberText(source, "name");
    bool local = params.memberFlag(source, "local", true);
    std::string datasetPath = params.memberText(source, "datasetPath", false);
    if (!params.ok()) {
        error = params.error();
        return nullptr;
    }
    std::string path = pool + (local ? "/Local/" : "/Replica/") + project + "/" + name;
    Dataset* dataset = model.findDataset(path);
    if ((dataset == nullptr || dataset->kind != kind) && !datasetPath.empty()) {
        dataset = model.findDataset(datasetPath);
    }
    if (dataset == nullptr || dataset->kind != kind) {
        error = missingDataset(kind, path);
        return nullptr;
    }
    return dataset;
}

// Checks a new snapshot name for `dataset`; an empty result means it may be created.
bool checkNewSnapshot(const Dataset& dataset, const std::string& fullName, ApiError& error) {
    std::string path = dataset.path() + "@" + fullName;
    if (!validObjectName(fullName)) {
        error = errors::badRequest("Invalid snapshot name '" + fullName +
                                   "': use letters, digits, '_', '-', '.', ':' and blanks");
        return false;
    }
    if (path.size() > kMaxPathLength) {
        error = errors::badRequest("Snapshot path " + path + " is longer than " +
                                   std::to_string(kMaxPathLength) + " characters");
        return false;
    }
    for (const Snapshot& snapshot : dataset.snapshots) {
        if (snapshot.name == fullName) {
            error = errors::alreadyExists("Snapshot " + path);
            return false;
        }
    }
    return true;
}

Reply createSnapshot(Model& model, Params& params, DatasetKind kind) {
    params.expectCount(2, 3);
    nlohmann::json source = params.object(0, "source");
    std::string name = params.text(1, "snapshot name");
    if (params.has(2)) {
        params.flag(2, "flag");
    }
    if (!params.ok()) {
        return paramError(params);
    }
    ApiError error;
    Dataset* dataset = resolveSource(model, params, source, kind, error);
    if (dataset == nullptr) {
        return errorReply(error);
    }
    std::string fullName = prefixOf(kind) + name;
    if (!checkNewSnapshot(*dataset, fullName, error)) {
        return errorReply(error);
    }
    model.addSnapshot(*dataset, fullName);
    return emptyReply();
}

Reply createVolumeSnapshot(Model& model, Params& params) {
    return createSnapshot(model, params, DatasetKind::Volume);
}

Reply createShareSnapshot(Model& model, Params& params) {
    return createSnapshot(model, params, DatasetKind::Share);
}

jsonxx::Object commandResult(int status, const ApiError* error) {
    jsonxx::Object result;
    result.import("commandStatus", static_cast<jsonxx::Number>(status));
    if (error != nullptr) {
        jsonxx::Object exception;
        exception.import("code", error->code);
        exception.import("message", error->message);
        result.import("commandException", exception);
    }
    return result;
}

// Each path "dataset@full-name" is created on its own; one element per path tells how it went
// (commandStatus 0, or non-zero with a commandException).
Reply createSnapshots(Model& model, Params& params) {
    params.expectCount(1, 3);
    std::vector<std::string> paths = params.textList(0, "snapshot paths");
    for (size_t i = 1; i < params.size(); ++i) {
        params.flag(i, "flag");
    }
    if (!params.ok()) {
        return paramError(params);
    }
    jsonxx::Array results;
    for (const std::string& path : paths) {
        std::string datasetPath;
        std::string name;
        ApiError error;
        if (!splitSnapshotPath(path, datasetPath, name)) {
            error = errors::badRequest("Not a snapshot path: " + path);
            results.append(commandResult(4, &error));
            continue;
        }
        Dataset* dataset = model.findDataset(datasetPath);
        if (dataset == nullptr) {
            error = errors::noSuchDataset(datasetPath);
            results.append(commandResult(2, &error));
            continue;
        }
        if (!checkNewSnapshot(*dataset, name, error)) {
            results.append(commandResult(error.status == 409 ? 3 : 4, &error));
            continue;
        }
        model.addSnapshot(*dataset, name);
        jsonxx::Object result = commandResult(0, nullptr);
        result.import("snapshotPath", path);
        results.append(result);
    }
    return jsonReply(results);
}

// Takes the plain name the snapshot was created with (the full name is accepted too).
Reply creationStatus(Model& model, Params& params, DatasetKind kind) {
    params.expectCount(2, 2);
    std::string path = params.text(0, "dataset path");
    std::string name = params.text(1, "snapshot name");
    if (!params.ok()) {
        return paramError(params);
    }
    Dataset* dataset = model.findDataset(path);
    if (dataset == nullptr || dataset->kind != kind) {
        return errorReply(missingDataset(kind, path));
    }
    Snapshot* snapshot = dataset->findSnapshot(prefixOf(kind) + name);
    if (snapshot == nullptr) {
        snapshot = dataset->findSnapshot(name);
    }
    if (snapshot == nullptr) {
        return errorReply(errors::noSuchSnapshot(path + "@" + prefixOf(kind) + name));
    }
    int status = 0;
    if (snapshot->pendingPolls > 0) {
        --snapshot->pendingPolls;
        status = 1;
    }
    jsonxx::Object answer;
    answer.import("snapshotProgressStatus", static_cast<jsonxx::Number>(status));
    answer.import("snapshotName", snapshot->name);
    return jsonReply(answer);
}

Reply getVolumeSnapshotCreationStatus(Model& model, Params& params) {
    return creationStatus(model, params, DatasetKind::Volume);
}

Reply getShareSnapshotCreationStatus(Model& model, Params& params) {
    return creationStatus(model, params, DatasetKind::Share);
}

// The second parameter is a regular expression from the client: a snapshot is listed when it
// matches somewhere in the full name (or the whole name, when the behaviour says so); an empty
// expression lists all. RE2 matches in linear time within a fixed memory budget, and patterns
// are bounded in length, so no expression can hold the model lock for long.
Reply listSnapshots(Model& model, Params& params) {
    params.expectCount(1, 2);
    std::string path = params.text(0, "dataset path");
    std::string pattern = params.has(1) ? params.text(1, "name pattern") : std::string();
    if (params.ok() && pattern.size() > kMaxPatternLength) {
        params.fail("listSnapshots: the name pattern has " + std::to_string(pattern.size()) +
                    " characters; at most " + std::to_string(kMaxPatternLength) + " are accepted");
    }
    if (!params.ok()) {
        return paramError(params);
    }
    Dataset* dataset = model.findDataset(path);
    if (dataset == nullptr) {
        return errorReply(errors::noSuchDataset(path));
    }
    RE2::Options options;
    options.set_log_errors(false);
    options.set_max_mem(kPatternMemoryBytes);
    const RE2 expression(pattern, options);
    if (!expression.ok()) {
        return errorReply(
            errors::badRequest("listSnapshots: invalid name pattern: " + expression.error()));
    }
    jsonxx::Array names;
    for (const Snapshot& snapshot : dataset->snapshots) {
        bool listed = pattern.empty() || (model.behaviour.listSnapshotsWholeName
                                              ? RE2::FullMatch(snapshot.name, expression)
                                              : RE2::PartialMatch(snapshot.name, expression));
        if (listed) {
            names.append(snapshot.name);
        }
    }
    return jsonReply(names);
}

// Resolves "dataset@name" to a snapshot of the given kind; a missing dataset means a missing
// snapshot.
Snapshot* findSnapshot(Model& model, const std::string& snapshotPath, DatasetKind kind,
                       Dataset*& dataset, ApiError& error) {
    std::string datasetPath;
    std::string name;
    if (!splitSnapshotPath(snapshotPath, datasetPath, name)) {
        error = errors::badRequest("Not a snapshot path: " + snapshotPath);
        return nullptr;
    }
    dataset = model.findDataset(datasetPath);
    Snapshot* snapshot = nullptr;
    if (dataset != nullptr && dataset->kind == kind) {
        snapshot = dataset->findSnapshot(name);
    }
    if (snapshot == nullptr) {
        error = errors::noSuchSnapshot(snapshotPath);
    }
    return snapshot;
}

std::string joined(const std::vector<std::string>& values) {
    std::string out;
    for (const std::string& value : values) {
        out += (out.empty() ? "" : ", ") + value;
    }
    return out;
}

// The second parameter says whether the snapshot's dependents go first, as the array
// documents it: true destroys its clones (with their own snapshots, clones and mappings, so a
// mapped clone vanishes from its host) and then the snapshot; false, or no second parameter,
// refuses while it has clones. The answer lists every destroyed path:
// {"deletedList": [...], "failedToDeleteList": [], "snapshotDeletionStatus": 0}.
Reply deleteSnapshot(Model& model, Params& params, DatasetKind kind) {
    params.expectCount(1, 2);
    std::string snapshotPath = params.text(0, "snapshot path");
    const bool withDependents =
        params.has(1) ? params.flag(1, "delete dependents of the snapshot first") : false;
    if (!params.ok()) {
        return paramError(params);
    }
    Dataset* dataset = nullptr;
    ApiError error;
    if (findSnapshot(model, snapshotPath, kind, dataset, error) == nullptr) {
        return errorReply(error);
    }
    const std::vector<std::string> clones = model.clonesOf(snapshotPath);
    if (!clones.empty() && !withDependents) {
        return errorReply(
            errors::inUse("Snapshot " + snapshotPath + " has dependent clones: " + joined(clones)));
    }
    std::vector<std::string> destroyed;
    model.destroySnapshotWithDependents(snapshotPath, destroyed);
    jsonxx::Array deleted;
    for (const std::string& path : destroyed) {
        deleted.append(path);
    }
    jsonxx::Object answer;
    answer.import("deletedList", deleted);
    answer.import("failedToDeleteList", jsonxx::Array());
    answer.import("snapshotDeletionStatus", static_cast<jsonxx::Number>(0));
    return jsonReply(answer);
}

Reply deleteVolumeSnapshot(Model& model, Params& params) {
    return deleteSnapshot(model, params, DatasetKind::Volume);
}

Reply deleteShareSnapshot(Model& model, Params& params) {
    return deleteSnapshot(model, params, DatasetKind::Share);
}

// Rolling back with the flag destroys every newer snapshot with its dependents (its clones,
// their snapshots and mappings), newest first, as a recursive rollback does; without it the
// rollback is refused while any newer snapshot exists. Success is the command status 0.
Reply rollBack(Model& model, Params& params, DatasetKind kind) {
    params.expectCount(1, 2);
    std::string snapshotPath = params.text(0, "snapshot path");
    bool destroyNewer = params.has(1) ? params.flag(1, "destroy newer snapshots") : false;
    if (!params.ok()) {
        return paramError(params);
    }
    Dataset* dataset = nullptr;
    ApiError error;
    Snapshot* target = findSnapshot(model, snapshotPath, kind, dataset, error);
    if (target == nullptr) {
        return errorReply(error);
    }
    std::vector<std::string> newer;
    for (const Snapshot& snapshot : dataset->snapshots) {
        if (snapshot.sequence > target->sequence) {
            newer.push_back(snapshot.name);
        }
    }
    if (!newer.empty() && !destroyNewer) {
        return errorReply(
            errors::inUse("Snapshot " + snapshotPath +
                          " is not the most recent; newer snapshots: " + joined(newer)));
    }
    const std::string datasetPath = dataset->path();
    const std::string targetName = target->name;
    std::vector<std::string> destroyed;
    for (auto it = newer.rbegin(); it != newer.rend(); ++it) {
        model.destroySnapshotWithDependents(datasetPath + "@" + *it, destroyed);
    }
    dataset->lastRollback = targetName;
    ++dataset->rollbacks;
    return statusReply(0);
}

Reply rollBackToVolumeSnapshot(Model& model, Params& params) {
    return rollBack(model, params, DatasetKind::Volume);
}

Reply rollBackToShareSnapshot(Model& model, Params& params) {
    return rollBack(model, params, DatasetKind::Share);
}

}  // namespace

void addSnapshotMethods(MethodTable& table) {
    table.add("createVolumeSnapshot", createVolumeSnapshot, Effect::Changes);
    table.add("createShareSnapshot", createShareSnapshot, Effect::Changes);
    table.add("createSnapshots", createSnapshots, Effect::Changes);
    table.add("getVolumeSnapshotCreationStatus", getVolumeSnapshotCreationStatus, Effect::Reads);
    table.add("getShareSnapshotCreationStatus", getShareSnapshotCreationStatus, Effect::Reads);
    table.add("listSnapshots", listSnapshots, Effect::Reads);
    table.add("deleteVolumeSnapshot", deleteVolumeSnapshot, Effect::Changes);
    table.add("deleteShareSnapshot", deleteShareSnapshot, Effect::Changes);
    table.add("rollBackToVolumeSnapshot", rollBackToVolumeSnapshot, Effect::Changes);
    table.add("rollBackToShareSnapshot", rollBackToShareSnapshot, Effect::Changes);
}

}  // namespace arraysim
