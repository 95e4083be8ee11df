// SPDX-License-Identifier: Apache-2.0
#include "Dependents.h"

#include <algorithm>
#include <map>

#include "RecordFields.h"
#include "StrictJson.h"

namespace kysnap {

namespace {

const char* const kClonePrefix = "MNT_";

// The plain id in a full snapshot name the plug-in gives ("Manual-V-ID", "Manual-S-ID"), or
// "" for a name of another form.
std::string plainId(const std::string& fullName) {
    for (const char* prefix : {"Manual-V-", "Manual-S-"}) {
        const std::string given(prefix);
        if (fullName.size() > given.size() && fullName.compare(0, given.size(), given) == 0) {
            return fullName.substr(given.size());
        }
    }
    return std::string();
}

std::string nameInPath(const std::string& snapshotPath) {
    const size_t at = snapshotPath.find('@');
    return at == std::string::npos ? snapshotPath : snapshotPath.substr(at + 1);
}

// The catalog's snapshots of the same source on the same array, by their path on the array.
std::map<std::string, const SnapshotRecord*> recordsOfSource(const Catalog& catalog,
                                                             const std::string& arrayName,
                                                             const SnapshotSource& source) {
    std::map<std::string, const SnapshotRecord*> records;
    for (const SnapshotRecord& other : catalog.snapshots) {
        SnapshotSource where;
        std::string ignored;
        if (other.array == arrayName && snapshotSource(other, where, ignored) &&
            where.share == source.share && where.datasetPath() == source.datasetPath()) {
            records[where.snapshotPath(other.name)] = &other;
        }
    }
    return records;
}

// The clones among the project's datasets made from one of `origins` (snapshot paths), by the
// origin the array reports or by the name the plug-in gives.
std::vector<LostClone> clonesOf(const nlohmann::json& datasets, const SnapshotSource& source,
                                const std::vector<std::string>& origins,
                                const std::map<std::string, const SnapshotRecord*>& records) {
    std::vector<LostClone> clones;
    for (const nlohmann::json& dataset : datasets) {
        const std::string name = strictjson::textOr(dataset, "name", "");
        const std::string reported = strictjson::textOr(dataset, "originSnapshot", "");
        for (const std::string& origin : origins) {
            const std::string id = plainId(nameInPath(origin));
            const bool pluginMade = !id.empty() && name == kClonePrefix + id;
            if (!pluginMade && reported != origin) {
                continue;
            }
            LostClone clone;
            clone.path = strictjson::textOr(dataset, "datasetPath", "");
            if (clone.path.empty()) {
                clone.path = source.pool + "/Local/" + source.project + "/" + name;
            }
            clone.luId = strictjson::textOr(dataset, "luId", "");
            clone.origin = origin;
            clone.pluginMade = pluginMade;
            const auto record = records.find(origin);
            if (pluginMade && record != records.end()) {
                clone.id = record->second->name;
                clone.mountedAs = mountedCopyText(record->second->mountedDevice);
            }
            clones.push_back(clone);
            break;
        }
    }
    return clones;
}

void judgeDelete(const SnapshotRecord& record, Dependents& found) {
    bool mountListed = false;
    for (const LostClone& clone : found.clones) {
        if (!clone.id.empty()) {
            mountListed = true;
            found.blocks.push_back(
                "clone " + clone.path +
                (clone.mountedAs.empty() ? "" : " is mounted as " + clone.mountedAs) +
                ": kysnap unmap " + clone.id + " removes it");
        } else {
            found.blocks.push_back("clone " + clone.path +
                                   " was not made by kysnap for this snapshot: delete it on the "
                                   "array first, once no host uses it");
        }
    }
    if (!mountListed && !found.mountedAs.empty()) {
        found.blocks.push_back(record.name + " is mounted as " + found.mountedAs +
                               ": kysnap unmap " + record.name + " first");
    }
}

void judgeRevert(Dependents& found) {
    std::vector<std::string> unmapped;  // ids whose mount a clone line already names
    for (const LostClone& clone : found.clones) {
        if (!clone.pluginMade) {
            continue;
        }
        if (!clone.id.empty()) {
            unmapped.push_back(clone.id);
            found.blocks.push_back(
                "clone " + clone.path + " of newer snapshot " + clone.id +
                (clone.mountedAs.empty() ? "" : " is mounted as " + clone.mountedAs) +
                ": kysnap unmap " + clone.id + " removes it");
        } else {
            found.blocks.push_back("clone " + clone.path + " of newer snapshot " +
                                   nameInPath(clone.origin) +
                                   " was made by the plug-in for a host, but not by this "
                                   "catalog: unmap it on the host that mounted it");
        }
    }
    for (const LostSnapshot& snapshot : found.newer) {
        if (!snapshot.mountedAs.empty() &&
            std::find(unmapped.begin(), unmapped.end(), snapshot.id) == unmapped.end()) {
            found.blocks.push_back("newer snapshot " + snapshot.id + " is mounted as " +
                                   snapshot.mountedAs + ": kysnap unmap " + snapshot.id + " first");
        }
    }
}

}  // namespace

bool findDependents(const Catalog& catalog, const ArrayAccess& array, const SnapshotRecord& record,
                    Destruction destruction, Dependents& found, std::string& error) {
    found = Dependents();
    if (!snapshotSource(record, found.source, error)) {
        return false;
    }
    const SnapshotSource& source = found.source;
    found.snapshotPath = source.snapshotPath(record.name);
    found.mountedAs = mountedCopyText(record.mountedDevice);

    std::vector<std::string> names;
    if (!listedSnapshots(array, source.datasetPath(), names, error)) {
        return false;
    }
    if (destruction == Destruction::Delete) {
        nlohmann::json datasets = nlohmann::json::array();
        if (listedDatasets(array, source, datasets, error) == Listing::Failed) {
            return false;
        }
        return dependentsOfDelete(catalog, array.name, record, names, datasets, found, error);
    }
    const auto records = recordsOfSource(catalog, array.name, source);
    const std::string full = nameInPath(found.snapshotPath);
    const auto self = std::find(names.begin(), names.end(), full);
    found.snapshotListed = self != names.end();

    std::vector<std::string> origins;
    const auto ownRecord = records.find(found.snapshotPath);
    for (auto it = names.begin(); it != names.end(); ++it) {
        const std::string path = source.datasetPath() + "@" + *it;
        const auto kept = records.find(path);
        const bool listedLater = found.snapshotListed && it > self;
        // Records are kept in creation order, in one vector.
        const bool recordedLater =
            kept != records.end() && ownRecord != records.end() && kept->second > ownRecord->second;
        if (*it == full || (!listedLater && !recordedLater)) {
            continue;
        }
        LostSnapshot lost;
        lost.path = path;
        if (kept != records.end()) {
            lost.id = kept->second->name;
            lost.mountedAs = mountedCopyText(kept->second->mountedDevice);
        }
        found.newer.push_back(lost);
        origins.push_back(path);
    }

    if (!origins.empty()) {
        nlohmann::json datasets = nlohmann::json::array();
        if (listedDatasets(array, source, datasets, error) == Listing::Failed) {
            return false;
        }
        found.clones = clonesOf(datasets, source, origins, records);
    }
    judgeRevert(found);
    return true;
}

bool dependentsOfDelete(const Catalog& catalog, const std::string& arrayName,
                        const SnapshotRecord& record, const std::vector<std::string>& names,
                        const nlohmann::json& datasets, Dependents& found, std::string& error) {
    found = Dependents();
    if (!snapshotSource(record, found.source, error)) {
        return false;
    }
    found.snapshotPath = found.source.snapshotPath(record.name);
    found.mountedAs = mountedCopyText(record.mountedDevice);
    const std::string full = nameInPath(found.snapshotPath);
    found.snapshotListed = std::find(names.begin(), names.end(), full) != names.end();
    // The catalog's records are looked up only for a clone the plug-in made: a caller judging
    // every snapshot of a large catalog then reads the catalog once per clone, not per snapshot.
    found.clones = clonesOf(datasets, found.source, {found.snapshotPath}, {});
    if (std::any_of(found.clones.begin(), found.clones.end(),
                    [](const LostClone& clone) { return clone.pluginMade; })) {
        found.clones = clonesOf(datasets, found.source, {found.snapshotPath},
                                recordsOfSource(catalog, arrayName, found.source));
    }
    judgeDelete(record, found);
    return true;
}

bool pluginClone(const ArrayAccess& array, const SnapshotSource& source, const std::string& id,
                 std::string& path, std::string& luId, std::string& error) {
    error.clear();
    nlohmann::json datasets;
    if (listedDatasets(array, source, datasets, error) != Listing::Read) {
        return false;
    }
    const std::vector<LostClone> clones = clonesOf(datasets, source, {source.snapshotPath(id)}, {});
    for (const LostClone& clone : clones) {
        if (clone.pluginMade) {
            path = clone.path;
            luId = clone.luId;
            return true;
        }
    }
    return false;
}

std::vector<std::string> describeDependents(const Dependents& found, Destruction destruction) {
    std::vector<std::string> lines;
    if (destruction == Destruction::Revert) {
        for (const LostSnapshot& snapshot : found.newer) {
            lines.push_back(
                "destroys newer snapshot " + snapshot.path +
                (snapshot.id.empty() ? " (not in this catalog)" : " (" + snapshot.id + ")"));
        }
        for (const LostClone& clone : found.clones) {
            lines.push_back("destroys clone " + clone.path + " of " + nameInPath(clone.origin));
        }
        if (!found.mountedAs.empty()) {
            lines.push_back("keeps the snapshot's own mount as " + found.mountedAs +
                            " (a clone of the snapshot itself is not touched)");
        }
    }
    for (const std::string& block : found.blocks) {
        lines.push_back("blocked: " + block);
    }
    return lines;
}

}  // namespace kysnap
