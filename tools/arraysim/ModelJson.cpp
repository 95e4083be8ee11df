// SPDX-License-Identifier: Apache-2.0
#include "ModelJson.h"

namespace arraysim {

namespace {

jsonxx::Number number(uint64_t value) {
    return static_cast<jsonxx::Number>(value);
}

void addCommon(const Dataset& dataset, jsonxx::Object& object) {
    object.import("name", dataset.name);
    object.import("poolName", dataset.pool);
    object.import("projectName", dataset.project);
    object.import("datasetPath", dataset.path());
    object.import("local", dataset.local());
    if (!dataset.origin.empty()) {
        object.import("originSnapshot", dataset.origin);
    }
}

jsonxx::Array texts(const std::vector<std::string>& values) {
    jsonxx::Array array;
    for (const std::string& value : values) {
        array.append(value);
    }
    return array;
}

}  // namespace

jsonxx::Object volumeJson(const Dataset& volume) {
    jsonxx::Object object;
    addCommon(volume, object);
    object.import("luId", volume.luId);
    object.import("volSize", number(volume.size));
    object.import("blockSize", volume.blockSize);
    object.import("thinProvision", volume.thinProvision);
    object.import("protocol", volume.protocol);
    return object;
}

jsonxx::Object shareJson(const Dataset& share) {
    jsonxx::Object object;
    addCommon(share, object);
    object.import("mountpoint", share.mountPoint);
    object.import("availableSize", number(share.availableSize));
    object.import("totalSize", number(share.totalSize));
    return object;
}

jsonxx::Object datasetJson(const Dataset& dataset) {
    return dataset.isVolume() ? volumeJson(dataset) : shareJson(dataset);
}

jsonxx::Object mappingJson(const Mapping& mapping) {
    jsonxx::Object object;
    object.import("datasetPath", mapping.datasetPath);
    object.import("initiatorGroup", mapping.initiatorGroup);
    object.import("targetGroup", mapping.targetGroup);
    object.import("lun", static_cast<jsonxx::Number>(mapping.lun));
    object.import("readOnly", mapping.readOnly);
    object.import("hiddenForQueries", static_cast<jsonxx::Number>(mapping.hiddenForQueries));
    return object;
}

jsonxx::Object replicationJson(const Dataset& dataset, const ReplicationConfig& config) {
    jsonxx::Object object;
    object.import("name", config.name);
    object.import("sourceDataset", dataset.path());
    object.import("remoteHost", config.remoteHost);
    object.import("remotePool", config.remotePool);
    object.import("remoteProject", config.remoteProject);
    if (config.lastReplicatedSnapshot.empty()) {
        object.import("lastReplicatedSnapshot", jsonxx::Value());  // null: nothing sent yet
    } else {
        object.import("lastReplicatedSnapshot", config.lastReplicatedSnapshot);
    }
    return object;
}

jsonxx::Object stateJson(const Model& model) {
    jsonxx::Object state;

    jsonxx::Object system;
    system.import("model", model.system.model);
    system.import("softwareVersion", model.system.softwareVersion);
    system.import("apiVersion", model.system.apiVersion);
    system.import("apiMinorVersion", model.system.apiMinorVersion);
    system.import("serial", model.system.serial);
    state.import("system", system);

    jsonxx::Object behaviour;
    behaviour.import("snapshotPendingPolls",
                     static_cast<jsonxx::Number>(model.behaviour.snapshotPendingPolls));
    behaviour.import("mappingVisibilityDelay",
                     static_cast<jsonxx::Number>(model.behaviour.mappingVisibilityDelay));
    behaviour.import("listSnapshotsWholeName", model.behaviour.listSnapshotsWholeName);
    state.import("behaviour", behaviour);

    state.import("pools", texts(model.pools));
    jsonxx::Array projects;
    for (const Project& project : model.projects) {
        jsonxx::Object entry;
        entry.import("pool", project.pool);
        entry.import("name", project.name);
        projects.append(entry);
    }
    state.import("projects", projects);

    jsonxx::Array volumes;
    jsonxx::Array shares;
    for (const auto& entry : model.datasets) {
        const Dataset& dataset = entry.second;
        jsonxx::Object object = datasetJson(dataset);
        jsonxx::Array snapshots;
        for (const Snapshot& snapshot : dataset.snapshots) {
            jsonxx::Object s;
            s.import("name", snapshot.name);
            s.import("sequence", static_cast<jsonxx::Number>(snapshot.sequence));
            s.import("pendingPolls", static_cast<jsonxx::Number>(snapshot.pendingPolls));
            snapshots.append(s);
        }
        object.import("snapshots", snapshots);
        if (!dataset.lastRollback.empty()) {
            object.import("lastRollback", dataset.lastRollback);
        }
        if (!dataset.replications.empty()) {
            jsonxx::Array replications;
            for (const ReplicationConfig& config : dataset.replications) {
                replications.append(replicationJson(dataset, config));
            }
            object.import("replication", replications);
        }
        if (dataset.isVolume()) {
            volumes.append(object);
        } else {
            jsonxx::Array rules;
            for (const NfsAccessRule& rule : dataset.accessRules) {
                jsonxx::Object r;
                r.import("type", rule.hostType);
                r.import("host", rule.host);
                r.import("access", rule.access);
                r.import("rootAccess", rule.rootAccess);
                rules.append(r);
            }
            object.import("nfsAccessRules", rules);
            shares.append(object);
        }
    }
    state.import("volumes", volumes);
    state.import("shares", shares);

    jsonxx::Array targetGroups;
    for (const TargetGroup& group : model.targetGroups) {
        jsonxx::Object entry;
        entry.import("name", group.name);
        entry.import("protocol", group.protocol);
        entry.import("targets", texts(group.targets));
        targetGroups.append(entry);
    }
    state.import("targetGroups", targetGroups);

    jsonxx::Array initiatorGroups;
    for (const InitiatorGroup& group : model.initiatorGroups) {
        jsonxx::Object entry;
        entry.import("name", group.name);
        entry.import("protocol", group.protocol);
        entry.import("initiators", texts(group.initiators));
        initiatorGroups.append(entry);
    }
    state.import("initiatorGroups", initiatorGroups);
    state.import("initiators", texts(std::vector<std::string>(model.knownInitiators.begin(),
                                                              model.knownInitiators.end())));

    jsonxx::Array mappings;
    for (const Mapping& mapping : model.mappings) {
        mappings.append(mappingJson(mapping));
    }
    state.import("mappings", mappings);
    return state;
}

}  // namespace arraysim
