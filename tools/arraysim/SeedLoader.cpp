// SPDX-License-Identifier: Apache-2.0
#include "SeedLoader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "StrictJson.h"

namespace arraysim {

namespace {

using Json = nlohmann::json;

// A seed may give a number or a flag as a text, as the array's own calls do ("8192", "TRUE").
bool seedInteger(const Json& value, long long& out) {
    if (value.is_number()) {
        int64_t number = 0;
        if (!strictjson::wholeNumber(value, INT64_MIN, INT64_MAX, number)) {
            return false;
        }
        out = number;
        return true;
    }
    if (!value.is_string()) {
        return false;
    }
    const std::string text = value.get<std::string>();
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long number = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0') {
        return false;
    }
    out = number;
    return true;
}

bool seedFlag(const Json& value, bool& out) {
    if (value.is_boolean()) {
        out = value.get<bool>();
        return true;
    }
    if (value.is_string()) {
        const std::string text = toLower(value.get<std::string>());
        if (text == "true" || text == "false") {
            out = text == "true";
            return true;
        }
    }
    return false;
}

// Reads members of one seed object, remembering the first problem with its place.
class SeedReader {
public:
    explicit SeedReader(std::string& error) : error_(error) {}

    bool ok() const { return error_.empty(); }
    void fail(const std::string& where, const std::string& message) {
        if (error_.empty()) {
            error_ = where + ": " + message;
        }
    }

    std::string text(const Json& object, const std::string& where, const std::string& key,
                     const std::string& fallback, bool required) {
        const auto found = object.find(key);
        if (found != object.end() && found->is_string()) {
            return found->get<std::string>();
        }
        if (required || found != object.end()) {
            fail(where + "." + key, "a text is required");
        }
        return fallback;
    }

    uint64_t size(const Json& object, const std::string& where, const std::string& key,
                  uint64_t fallback) {
        const auto it = object.find(key);
        if (it == object.end()) {
            return fallback;
        }
        long long value = 0;
        if (!seedInteger(*it, value) || value < 0) {
            fail(where + "." + key, "a size in bytes is required");
            return fallback;
        }
        return static_cast<uint64_t>(value);
    }

    int count(const Json& object, const std::string& where, const std::string& key, int fallback) {
        const auto it = object.find(key);
        if (it == object.end()) {
            return fallback;
        }
        long long value = 0;
        if (!seedInteger(*it, value) || value < -1 || value > 1000000) {
            fail(where + "." + key, "a small integer is required");
            return fallback;
        }
        return static_cast<int>(value);
    }

    bool flag(const Json& object, const std::string& where, const std::string& key, bool fallback) {
        const auto it = object.find(key);
        if (it == object.end()) {
            return fallback;
        }
        bool value = fallback;
        if (!seedFlag(*it, value)) {
            fail(where + "." + key, "true or false is required");
        }
        return value;
    }

    // The objects of an optional list member.
    // The objects of an optional list member; they live as long as `object`.
    std::vector<std::reference_wrapper<const Json>> objects(const Json& object,
                                                            const std::string& where,
                                                            const std::string& key) {
        std::vector<std::reference_wrapper<const Json>> out;
        const auto it = object.find(key);
        if (it == object.end()) {
            return out;
        }
        if (!it->is_array()) {
            fail(where + "." + key, "a list is required");
            return out;
        }
        size_t i = 0;
        for (const Json& entry : *it) {
            if (!entry.is_object()) {
                fail(where + "." + key + "[" + std::to_string(i) + "]", "an object is required");
                return {};
            }
            out.push_back(std::cref(entry));
            ++i;
        }
        return out;
    }

    std::vector<std::string> texts(const Json& object, const std::string& where,
                                   const std::string& key) {
        std::vector<std::string> out;
        const auto it = object.find(key);
        if (it == object.end()) {
            return out;
        }
        if (!it->is_array()) {
            fail(where + "." + key, "a list of texts is required");
            return out;
        }
        for (const Json& entry : *it) {
            if (!entry.is_string()) {
                fail(where + "." + key, "a list of texts is required");
                return {};
            }
            out.push_back(entry.get<std::string>());
        }
        return out;
    }

private:
    std::string& error_;
};

std::string at(const std::string& where, const std::string& key, size_t index) {
    return where + (where.empty() ? "" : ".") + key + "[" + std::to_string(index) + "]";
}

bool normalizeVolumeProtocol(std::string& protocol) {
    std::string upper = toUpper(protocol);
    if (upper == "FC") {
        protocol = "FC";
    } else if (upper == "ISCSI") {
        protocol = "iSCSI";
    } else {
        return false;
    }
    return true;
}

void readSnapshots(SeedReader& reader, Model& model, Dataset& dataset, const Json& object,
                   const std::string& where) {
    const auto it = object.find("snapshots");
    if (it == object.end()) {
        return;
    }
    if (!it->is_array()) {
        reader.fail(where + ".snapshots", "a list is required");
        return;
    }
    size_t i = 0;
    for (const Json& entry : *it) {
        std::string place = at(where, "snapshots", i++);
        std::string name;
        int pending = 0;
        if (entry.is_string()) {
            name = entry.get<std::string>();
        } else if (entry.is_object()) {
            name = reader.text(entry, place, "name", "", true);
            pending = reader.count(entry, place, "pendingPolls", 0);
        } else {
            reader.fail(place, "a name or an object is required");
            return;
        }
        if (!validObjectName(name) || dataset.findSnapshot(name) != nullptr) {
            reader.fail(place, "snapshot name '" + name + "' is invalid or repeated");
            return;
        }
        model.addSnapshot(dataset, name).pendingPolls = pending;
    }
}

// "replication": the dataset's replication configurations; the last replicated snapshot, when
// given, is one of its snapshots.
void readReplication(SeedReader& reader, Dataset& dataset, const Json& object,
                     const std::string& where) {
    size_t i = 0;
    for (const Json& entry : reader.objects(object, where, "replication")) {
        const std::string place = at(where, "replication", i++);
        ReplicationConfig config;
        config.name = reader.text(entry, place, "name", "", true);
        config.remoteHost = reader.text(entry, place, "remoteHost", "", false);
        config.remotePool = reader.text(entry, place, "remotePool", "", false);
        config.remoteProject = reader.text(entry, place, "remoteProject", "", false);
        config.lastReplicatedSnapshot =
            reader.text(entry, place, "lastReplicatedSnapshot", "", false);
        if (!reader.ok()) {
            return;
        }
        if (!config.lastReplicatedSnapshot.empty() &&
            dataset.findSnapshot(config.lastReplicatedSnapshot) == nullptr) {
            reader.fail(
                place + ".lastReplicatedSnapshot",
                "'" + config.lastReplicatedSnapshot + "' is no snapshot of " + dataset.path());
            return;
        }
        dataset.replications.push_back(config);
    }
}

void readDataset(SeedReader& reader, Model& model, const Json& object, const std::string& where,
                 const Project& project, DatasetKind kind) {
    Dataset dataset;
    dataset.kind = kind;
    dataset.pool = project.pool;
    dataset.project = project.name;
    dataset.name = reader.text(object, where, "name", "", true);
    dataset.mode = reader.flag(object, where, "local", true) ? "Local" : "Replica";
    dataset.origin = reader.text(object, where, "originSnapshot", "", false);
    if (kind == DatasetKind::Volume) {
        dataset.luId = toUpper(reader.text(object, where, "luId", "", false));
        dataset.size = reader.size(object, where, "size", 0);
        dataset.blockSize = reader.text(object, where, "blockSize", "8KB", false);
        dataset.thinProvision = reader.flag(object, where, "thinProvision", true);
        dataset.protocol = reader.text(object, where, "protocol", "FC", false);
        dataset.inquiryProduct =
            reader.text(object, where, "inquiryProduct", dataset.inquiryProduct, false);
        if (reader.ok() &&
            (dataset.inquiryProduct.empty() || dataset.inquiryProduct.size() > 16 ||
             !std::all_of(dataset.inquiryProduct.begin(), dataset.inquiryProduct.end(),
                          [](unsigned char c) { return c > ' ' && c < 0x7f; }))) {
            reader.fail(where + ".inquiryProduct",
                        "1 to 16 printable ASCII characters are required");
        }
        if (reader.ok() && !normalizeVolumeProtocol(dataset.protocol)) {
            reader.fail(where + ".protocol", "FC or iSCSI is required");
        }
        if (reader.ok() && dataset.size == 0) {
            reader.fail(where + ".size", "a volume needs a size in bytes");
        }
    } else {
        dataset.mountPoint = reader.text(object, where, "mountpoint",
                                         "/export/" + project.name + "/" + dataset.name, false);
        dataset.totalSize = reader.size(object, where, "totalSize", 0);
        dataset.availableSize = reader.size(object, where, "availableSize", dataset.totalSize);
        for (const Json& rule : reader.objects(object, where, "nfsAccessRules")) {
            NfsAccessRule r;
            r.hostType = toUpper(reader.text(rule, where + ".nfsAccessRules", "type", "IP", false));
            r.host = reader.text(rule, where + ".nfsAccessRules", "host", "", true);
            r.access = reader.text(rule, where + ".nfsAccessRules", "access", "rw", false);
            r.rootAccess = reader.flag(rule, where + ".nfsAccessRules", "rootAccess", false);
            dataset.accessRules.push_back(r);
        }
        if (reader.ok() && dataset.mountPoint.empty()) {
            reader.fail(where + ".mountpoint", "a share needs a mount point");
        }
        if (reader.ok() && model.findShareByMountPoint(dataset.mountPoint) != nullptr) {
            reader.fail(where + ".mountpoint", "mount point " + dataset.mountPoint + " repeated");
        }
    }
    if (!reader.ok()) {
        return;
    }
    if (!validObjectName(dataset.name)) {
        reader.fail(where + ".name", "invalid name '" + dataset.name + "'");
        return;
    }
    if (model.findDataset(dataset.path()) != nullptr) {
        reader.fail(where + ".name", "dataset " + dataset.path() + " repeated");
        return;
    }
    if (kind == DatasetKind::Volume) {
        if (dataset.luId.empty()) {
            dataset.luId = model.newLuId();
        } else if (!isUpperHex32(dataset.luId) || model.findByLuId(dataset.luId) != nullptr) {
            reader.fail(where + ".luId", "32 hex digits, unique, are required");
            return;
        }
    }
    Dataset& stored = model.datasets[dataset.path()] = dataset;
    readSnapshots(reader, model, stored, object, where);
    readReplication(reader, stored, object, where);
}

void readPools(SeedReader& reader, Model& model, const Json& seed) {
    size_t p = 0;
    for (const Json& pool : reader.objects(seed, "", "pools")) {
        std::string where = at("", "pools", p++);
        std::string poolName = reader.text(pool, where, "name", "", true);
        if (!reader.ok()) {
            return;
        }
        if (!validObjectName(poolName) || model.hasPool(poolName)) {
            reader.fail(where + ".name", "pool name '" + poolName + "' is invalid or repeated");
            return;
        }
        model.pools.push_back(poolName);
        size_t j = 0;
        for (const Json& projectObject : reader.objects(pool, where, "projects")) {
            std::string place = at(where, "projects", j++);
            Project project;
            project.pool = poolName;
            project.name = reader.text(projectObject, place, "name", "", true);
            if (!reader.ok()) {
                return;
            }
            if (!validObjectName(project.name) || model.hasProject(poolName, project.name)) {
                reader.fail(place + ".name",
                            "project name '" + project.name + "' is invalid or repeated");
                return;
            }
            model.projects.push_back(project);
            size_t v = 0;
            for (const Json& volume : reader.objects(projectObject, place, "volumes")) {
                readDataset(reader, model, volume, at(place, "volumes", v++), project,
                            DatasetKind::Volume);
            }
            size_t s = 0;
            for (const Json& share : reader.objects(projectObject, place, "shares")) {
                readDataset(reader, model, share, at(place, "shares", s++), project,
                            DatasetKind::Share);
            }
            if (!reader.ok()) {
                return;
            }
        }
    }
}

void checkClones(SeedReader& reader, Model& model) {
    for (auto& entry : model.datasets) {
        const Dataset& clone = entry.second;
        if (clone.origin.empty()) {
            continue;
        }
        std::string datasetPath;
        std::string name;
        Dataset* source = splitSnapshotPath(clone.origin, datasetPath, name)
                              ? model.findDataset(datasetPath)
                              : nullptr;
        if (source == nullptr || source->kind != clone.kind ||
            source->findSnapshot(name) == nullptr) {
            reader.fail(entry.first + ".originSnapshot",
                        "no snapshot " + clone.origin + " of the same kind");
            return;
        }
    }
}

void readGroups(SeedReader& reader, Model& model, const Json& seed) {
    size_t i = 0;
    for (const Json& object : reader.objects(seed, "", "targetGroups")) {
        std::string where = at("", "targetGroups", i++);
        TargetGroup group;
        group.name = reader.text(object, where, "name", "", true);
        group.protocol = toUpper(reader.text(object, where, "protocol", "", true));
        group.targets = reader.texts(object, where, "targets");
        if (!reader.ok()) {
            return;
        }
        if (group.name.empty() || model.findTargetGroup(group.name) != nullptr) {
            reader.fail(where + ".name", "empty or repeated target group name");
        } else if (group.protocol != "FC" && group.protocol != "ISCSI") {
            reader.fail(where + ".protocol", "FC or ISCSI is required");
        }
        for (const std::string& target : group.targets) {
            if (target.empty() || target.size() > 200) {
                reader.fail(where + ".targets", "target names are 1 to 200 characters");
            }
        }
        model.targetGroups.push_back(group);
    }
    i = 0;
    for (const Json& object : reader.objects(seed, "", "initiatorGroups")) {
        std::string where = at("", "initiatorGroups", i++);
        InitiatorGroup group;
        group.name = reader.text(object, where, "name", "", true);
        group.protocol = toUpper(reader.text(object, where, "protocol", "", false));
        group.initiators = reader.texts(object, where, "initiators");
        if (!reader.ok()) {
            return;
        }
        if (group.name.empty() || model.findInitiatorGroup(group.name) != nullptr) {
            reader.fail(where + ".name", "empty or repeated initiator group name");
        } else if (!group.protocol.empty() && group.protocol != "FC" && group.protocol != "ISCSI") {
            reader.fail(where + ".protocol", "FC or ISCSI is required");
        }
        model.knownInitiators.insert(group.initiators.begin(), group.initiators.end());
        model.initiatorGroups.push_back(group);
    }
    for (const std::string& initiator : reader.texts(seed, "", "initiators")) {
        model.knownInitiators.insert(initiator);
    }
}

void readMappings(SeedReader& reader, Model& model, const Json& seed) {
    size_t i = 0;
    for (const Json& object : reader.objects(seed, "", "mappings")) {
        std::string where = at("", "mappings", i++);
        Mapping mapping;
        mapping.datasetPath = reader.text(object, where, "datasetPath", "", true);
        mapping.initiatorGroup = reader.text(object, where, "initiatorGroup", "", true);
        mapping.targetGroup = reader.text(object, where, "targetGroup", "", true);
        int lun = reader.count(object, where, "lun", -1);
        mapping.hiddenForQueries = reader.count(object, where, "hiddenForQueries", 0);
        if (!reader.ok()) {
            return;
        }
        Dataset* volume = model.findDataset(mapping.datasetPath);
        if (volume == nullptr || !volume->isVolume()) {
            reader.fail(where + ".datasetPath", "no volume " + mapping.datasetPath);
        } else if (model.findInitiatorGroup(mapping.initiatorGroup) == nullptr) {
            reader.fail(where + ".initiatorGroup", "no group " + mapping.initiatorGroup);
        } else if (model.findTargetGroup(mapping.targetGroup) == nullptr) {
            reader.fail(where + ".targetGroup", "no group " + mapping.targetGroup);
        }
        for (const Mapping& other : model.mappings) {
            if (other.initiatorGroup == mapping.initiatorGroup &&
                ((other.datasetPath == mapping.datasetPath &&
                  other.targetGroup == mapping.targetGroup) ||
                 (other.datasetPath != mapping.datasetPath && other.lun == lun))) {
                reader.fail(where, "conflicts with an earlier mapping");
            }
        }
        mapping.lun = lun >= 0 ? lun : model.freeLun(mapping.initiatorGroup);
        model.mappings.push_back(mapping);
    }
}

}  // namespace

bool loadSeed(const std::string& text, Model& model, nlohmann::json& faults, std::string& error) {
    model = Model();
    faults = nlohmann::json::array();
    error.clear();
    Json seed;
    std::string why;
    if (!strictjson::parseObject(text, seed, why)) {
        error = "the seed cannot be read: " + why;
        return false;
    }
    SeedReader reader(error);

    if (seed.contains("system") && seed["system"].is_object()) {
        const Json& system = seed["system"];
        SystemInfo& info = model.system;
        info.model = reader.text(system, "system", "model", info.model, false);
        info.softwareVersion =
            reader.text(system, "system", "softwareVersion", info.softwareVersion, false);
        info.apiVersion = reader.text(system, "system", "apiVersion", info.apiVersion, false);
        info.apiMinorVersion =
            reader.text(system, "system", "apiMinorVersion", info.apiMinorVersion, false);
        info.serial = reader.text(system, "system", "serial", info.serial, false);
        const auto properties = system.find("properties");
        if (properties != system.end()) {
            if (!properties->is_object()) {
                reader.fail("system.properties",
                            "an object of property names and texts is required");
            } else {
                const Json& names = *properties;
                for (const auto& entry : names.items()) {
                    info.properties[entry.key()] =
                        reader.text(names, "system.properties", entry.key(), "", true);
                }
            }
        }
    }
    if (seed.contains("behaviour") && seed["behaviour"].is_object()) {
        const Json& b = seed["behaviour"];
        Behaviour& behaviour = model.behaviour;
        behaviour.snapshotPendingPolls =
            reader.count(b, "behaviour", "snapshotPendingPolls", behaviour.snapshotPendingPolls);
        behaviour.mappingVisibilityDelay = reader.count(b, "behaviour", "mappingVisibilityDelay",
                                                        behaviour.mappingVisibilityDelay);
        behaviour.listSnapshotsWholeName =
            reader.flag(b, "behaviour", "listSnapshotsWholeName", behaviour.listSnapshotsWholeName);
    }
    size_t u = 0;
    for (const Json& user : reader.objects(seed, "", "users")) {
        std::string where = at("", "users", u++);
        std::string name = reader.text(user, where, "name", "", true);
        model.users[name] = reader.text(user, where, "password", "", true);
    }
    if (reader.ok() && model.users.empty()) {
        reader.fail("users", "at least one user is required");
    }
    if (reader.ok()) {
        readPools(reader, model, seed);
    }
    if (reader.ok()) {
        checkClones(reader, model);
    }
    if (reader.ok()) {
        readGroups(reader, model, seed);
    }
    if (reader.ok()) {
        readMappings(reader, model, seed);
    }
    if (reader.ok() && seed.contains("faults")) {
        // Faults are installed as the control endpoint installs them.
        if (!seed["faults"].is_array()) {
            reader.fail("faults", "a list is required");
        } else {
            faults = seed["faults"];
        }
    }
    return reader.ok();
}

bool readTextFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

}  // namespace arraysim
