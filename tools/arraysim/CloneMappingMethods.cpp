// SPDX-License-Identifier: Apache-2.0
// Clones, dataset deletion, volume mappings and NFS access rules.
//
// Clones are new datasets under "<pool>/Local/<project>/<name>" that remember their origin
// snapshot; a volume clone gets its own LUN id, a share clone a mount point beside its
// source's. Clones and deletions answer nothing (an empty body); mappings and access rules
// answer the command status 0, as the array documents them. Deleting a dataset refuses while
// any of its snapshots has clones, and its own snapshots go only with the "recursive" flag; its
// mappings and access rules always go with it.
#include <arpa/inet.h>

#include "MethodTable.h"

namespace arraysim {

namespace {

std::string joined(const std::vector<std::string>& values) {
    std::string out;
    for (const std::string& value : values) {
        out += (out.empty() ? "" : ", ") + value;
    }
    return out;
}

// Finds the snapshot a clone is made from; on failure `error` is set.
Dataset* cloneSource(Model& model, const std::string& snapshotPath, DatasetKind kind,
                     ApiError& error) {
    std::string datasetPath;
    std::string name;
    if (!splitSnapshotPath(snapshotPath, datasetPath, name)) {
        error = errors::badRequest("Not a snapshot path: " + snapshotPath);
        return nullptr;
    }
    Dataset* source = model.findDataset(datasetPath);
    if (source == nullptr || source->kind != kind || source->findSnapshot(name) == nullptr) {
        error = errors::noSuchSnapshot(snapshotPath);
        return nullptr;
    }
    return source;
}

// Checks the clone's name and place; fills `clonePath`.
bool checkCloneTarget(Model& model, const Dataset& source, const std::string& cloneName,
                      std::string& clonePath, ApiError& error) {
    if (!validObjectName(cloneName)) {
        error = errors::badRequest("Invalid clone name '" + cloneName +
                                   "': use letters, digits, '_', '-', '.', ':' and blanks");
        return false;
    }
    clonePath = source.pool + "/Local/" + source.project + "/" + cloneName;
    if (clonePath.size() > kMaxPathLength) {
        error = errors::badRequest("Dataset path " + clonePath + " is too long");
        return false;
    }
    if (model.findDataset(clonePath) != nullptr) {
        error = errors::alreadyExists("Dataset " + clonePath);
        return false;
    }
    return true;
}

Dataset makeClone(const Dataset& source, const std::string& cloneName,
                  const std::string& snapshotPath) {
    Dataset clone = source;
    clone.mode = "Local";
    clone.name = cloneName;
    clone.origin = snapshotPath;
    clone.lastRollback.clear();
    clone.rollbacks = 0;
    clone.snapshots.clear();
    clone.replications.clear();
    clone.accessRules.clear();
    clone.inquiryProduct = Dataset().inquiryProduct;  // a new LUN has the current identity
    return clone;
}

// Parameters: snapshot path, clone name, two flags, and optionally the clone's protocol as a
// flag (true: iSCSI, false: FC); without it the clone keeps its source's protocol.
Reply cloneVolumeSnapshot(Model& model, Params& params) {
    params.expectCount(4, 5);
    std::string snapshotPath = params.text(0, "snapshot path");
    std::string cloneName = params.text(1, "clone name");
    params.flag(2, "flag");
    params.flag(3, "flag");
    std::string protocol;
    if (params.has(4)) {
        protocol = params.flag(4, "protocol (true: iSCSI, false: FC)") ? "iSCSI" : "FC";
    }
    if (!params.ok()) {
        return paramError(params);
    }
    ApiError error;
    Dataset* source = cloneSource(model, snapshotPath, DatasetKind::Volume, error);
    std::string clonePath;
    if (source == nullptr || !checkCloneTarget(model, *source, cloneName, clonePath, error)) {
        return errorReply(error);
    }
    Dataset clone = makeClone(*source, cloneName, snapshotPath);
    clone.luId = model.newLuId();
    if (!protocol.empty()) {
        clone.protocol = protocol;
    }
    model.datasets[clonePath] = clone;
    return emptyReply();
}

std::string parentDirectory(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) {
        return "";
    }
    return path.substr(0, slash);
}

Reply cloneShareSnapshot(Model& model, Params& params) {
    params.expectCount(2, 3);
    std::string snapshotPath = params.text(0, "snapshot path");
    std::string cloneName = params.text(1, "clone name");
    if (params.has(2)) {
        params.flag(2, "flag");
    }
    if (!params.ok()) {
        return paramError(params);
    }
    ApiError error;
    Dataset* source = cloneSource(model, snapshotPath, DatasetKind::Share, error);
    std::string clonePath;
    if (source == nullptr || !checkCloneTarget(model, *source, cloneName, clonePath, error)) {
        return errorReply(error);
    }
    std::string parent = parentDirectory(source->mountPoint);
    std::string mountPoint =
        (parent.empty() ? "/export/" + source->project : parent) + "/" + cloneName;
    if (model.findShareByMountPoint(mountPoint) != nullptr) {
        return errorReply(errors::alreadyExists("Mount point " + mountPoint));
    }
    Dataset clone = makeClone(*source, cloneName, snapshotPath);
    clone.mountPoint = mountPoint;
    model.datasets[clonePath] = clone;
    return emptyReply();
}

// Parameters: dataset path, recursive (also delete its snapshots), and whether a path that does
// not exist is an error (true, the default) or a success with nothing to do (false).
Reply deleteDataset(Model& model, Params& params, DatasetKind kind) {
    params.expectCount(1, 3);
    std::string path = params.text(0, "dataset path");
    bool recursive = params.has(1) ? params.flag(1, "recursive") : false;
    bool errorIfMissing = params.has(2) ? params.flag(2, "error if the path does not exist") : true;
    if (!params.ok()) {
        return paramError(params);
    }
    Dataset* dataset = model.findDataset(path);
    if (dataset == nullptr || dataset->kind != kind) {
        if (!errorIfMissing) {
            return emptyReply();
        }
        return errorReply(kind == DatasetKind::Volume ? errors::noSuchVolume(path)
                                                      : errors::noSuchShare(path));
    }
    const char* what = kind == DatasetKind::Volume ? "Volume " : "Share ";
    std::vector<std::string> snapshots;
    for (const Snapshot& snapshot : dataset->snapshots) {
        std::vector<std::string> clones = model.clonesOf(path + "@" + snapshot.name);
        if (!clones.empty()) {
            return errorReply(errors::inUse(what + path + " cannot be deleted: snapshot " +
                                            snapshot.name +
                                            " has dependent clones: " + joined(clones)));
        }
        snapshots.push_back(snapshot.name);
    }
    if (!snapshots.empty() && !recursive) {
        return errorReply(errors::inUse(what + path + " has snapshots: " + joined(snapshots)));
    }
    std::vector<Mapping> kept;
    for (const Mapping& mapping : model.mappings) {
        if (mapping.datasetPath != path) {
            kept.push_back(mapping);
        }
    }
    model.mappings = kept;
    model.datasets.erase(path);
    return emptyReply();
}

Reply deleteVolume(Model& model, Params& params) {
    return deleteDataset(model, params, DatasetKind::Volume);
}

Reply deleteShare(Model& model, Params& params) {
    return deleteDataset(model, params, DatasetKind::Share);
}

constexpr long long kMaxLun = 1023;

// Parameters: volume path, initiator group, target group, LUN number (-1: the array picks the
// lowest free one for the group, or the one the volume already has in it), read-only.
Reply createMappingForVolume(Model& model, Params& params) {
    params.expectCount(3, 5);
    std::string path = params.text(0, "volume path");
    std::string groupName = params.text(1, "initiator group");
    std::string targetGroupName = params.text(2, "target group");
    long long lun = params.has(3) ? params.integer(3, "LUN") : -1;
    bool readOnly = params.has(4) ? params.flag(4, "read-only") : false;
    if (params.ok() && (lun < -1 || lun > kMaxLun)) {
        params.fail("createMappingForVolume: LUN must be -1 or 0 to " + std::to_string(kMaxLun));
    }
    if (!params.ok()) {
        return paramError(params);
    }
    Dataset* volume = model.findDataset(path);
    if (volume == nullptr || !volume->isVolume()) {
        return errorReply(errors::noSuchVolume(path));
    }
    if (model.findInitiatorGroup(groupName) == nullptr) {
        return errorReply(errors::noSuchInitiatorGroup(groupName));
    }
    if (model.findTargetGroup(targetGroupName) == nullptr) {
        return errorReply(errors::noSuchTargetGroup(targetGroupName));
    }
    int sameVolumeLun = -1;
    for (const Mapping& mapping : model.mappings) {
        if (mapping.initiatorGroup != groupName) {
            continue;
        }
        if (mapping.datasetPath == path) {
            if (mapping.targetGroup == targetGroupName) {
                return errorReply(errors::mappingConflict(
                    "volume " + path + " is already mapped to initiator group " + groupName +
                    " through target group " + targetGroupName));
            }
            sameVolumeLun = mapping.lun;
        } else if (mapping.lun == lun) {
            return errorReply(errors::inUse("STMF_ERROR_LUN_IN_USE: LUN " + std::to_string(lun) +
                                            " is in use in initiator group " + groupName));
        }
    }
    Mapping mapping;
    mapping.datasetPath = path;
    mapping.initiatorGroup = groupName;
    mapping.targetGroup = targetGroupName;
    mapping.lun = lun >= 0 ? static_cast<int>(lun)
                           : (sameVolumeLun >= 0 ? sameVolumeLun : model.freeLun(groupName));
    mapping.readOnly = readOnly;
    mapping.hiddenForQueries = std::max(0, model.behaviour.mappingVisibilityDelay);
    model.mappings.push_back(mapping);
    return statusReply(0);
}

Reply deleteMappingFromVolume(Model& model, Params& params) {
    params.expectCount(3, 3);
    std::string path = params.text(0, "volume path");
    std::string groupName = params.text(1, "initiator group");
    std::string targetGroupName = params.text(2, "target group");
    if (!params.ok()) {
        return paramError(params);
    }
    Dataset* volume = model.findDataset(path);
    if (volume == nullptr || !volume->isVolume()) {
        return errorReply(errors::noSuchVolume(path));
    }
    for (auto it = model.mappings.begin(); it != model.mappings.end(); ++it) {
        if (it->datasetPath == path && it->initiatorGroup == groupName &&
            it->targetGroup == targetGroupName) {
            model.mappings.erase(it);
            return statusReply(0);
        }
    }
    return errorReply(errors::notFound("Mapping of " + path + " to initiator group " + groupName +
                                       " through target group " + targetGroupName +
                                       " does not exist"));
}

bool validNetwork(const std::string& text) {
    size_t slash = text.find('/');
    if (slash == std::string::npos) {
        return false;
    }
    in_addr address{};
    std::string bits = text.substr(slash + 1);
    if (inet_pton(AF_INET, text.substr(0, slash).c_str(), &address) != 1 || bits.empty() ||
        bits.size() > 2 || bits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    return std::stoi(bits) <= 32;
}

// Parameters: share path, host kind ("IP", "FQDN" or "NETWORK"), host, access ("rw" or
// "ro"), and optionally root access.
Reply addNFSNetworkACLOnShare(Model& model, Params& params) {
    params.expectCount(4, 5);
    std::string path = params.text(0, "share path");
    std::string kind = toUpper(params.text(1, "host kind"));
    std::string host = params.text(2, "host");
    std::string access = toLower(params.text(3, "access"));
    bool root = params.has(4) ? params.flag(4, "root access") : false;
    if (!params.ok()) {
        return paramError(params);
    }
    Dataset* share = model.findDataset(path);
    if (share == nullptr || share->isVolume()) {
        return errorReply(errors::noSuchShare(path));
    }
    in_addr address{};
    if (kind != "IP" && kind != "FQDN" && kind != "NETWORK") {
        return errorReply(errors::badRequest("Host kind must be IP, FQDN or NETWORK, not " + kind));
    }
    if (host.empty() || (kind == "IP" && inet_pton(AF_INET, host.c_str(), &address) != 1) ||
        (kind == "NETWORK" && !validNetwork(host))) {
        return errorReply(errors::badRequest("Invalid " + kind + " host '" + host + "'"));
    }
    if (access != "rw" && access != "ro") {
        return errorReply(errors::badRequest("Access must be rw or ro, not " + access));
    }
    for (const NfsAccessRule& rule : share->accessRules) {
        if (toLower(rule.host) == toLower(host)) {
            return errorReply(errors::alreadyExists("NFS access rule for " + host + " on " + path));
        }
    }
    NfsAccessRule rule;
    rule.hostType = kind;
    rule.host = host;
    rule.access = access;
    rule.rootAccess = root;
    share->accessRules.push_back(rule);
    return statusReply(0);
}

}  // namespace

void addCloneMappingMethods(MethodTable& table) {
    table.add("cloneVolumeSnapshot", cloneVolumeSnapshot, Effect::Changes);
    table.add("cloneShareSnapshot", cloneShareSnapshot, Effect::Changes);
    table.add("deleteVolume", deleteVolume, Effect::Changes);
    table.add("deleteShare", deleteShare, Effect::Changes);
    table.add("createMappingForVolume", createMappingForVolume, Effect::Changes);
    table.add("deleteMappingFromVolume", deleteMappingFromVolume, Effect::Changes);
    table.add("addNFSNetworkACLOnShare", addNFSNetworkACLOnShare, Effect::Changes);
}

}  // namespace arraysim
