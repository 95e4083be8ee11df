// SPDX-License-Identifier: Apache-2.0
#include "Dependents.h"

#include <algorithm>
#include <map>

#include "ArrayProbe.h"
#include "RecordFields.h"
#include "jsonxx.h"

namespace kysnap {

namespace {

const char* const kClonePrefix = "MNT_";

std::string fieldOf(const NamedFields& fields, const std::string& name) {
    for (const auto& [field, value] : fields) {
        if (field == name) {
            return value;
        }
    }
    return std::string();
}

// A request body: the texts as the array's positional parameters.
std::string parameters(const std::vector<std::string>& texts) {
    jsonxx::Array body;
    for (const std::string& text : texts) {
        body.append(text);
    }
    return body.json();
}

enum class Listing { Read, Missing, Failed };

// The answer to `method`, parsed as a JSON array. Missing when the array says that what was
// asked about does not exist (404 with the array's "does not exist"); Failed with `error` set.
Listing arrayAnswer(const ArrayAccess& array, const std::string& method, const std::string& body,
                    jsonxx::Array& parsed, std::string& error) {
    const ApiAnswer answer = ArrayProbe(array, 0).call(method, body);
    if (!answer.ok && answer.status == 404 &&
        answer.body.find("does not exist") != std::string::npos) {
        return Listing::Missing;
    }
    if (!answer.ok) {
        error = method + " on array " + array.name + " failed: " +
                (answer.status != 0 ? "HTTP " + std::to_string(answer.status)
                                    : (answer.failure.empty() ? "no answer" : answer.failure));
        return Listing::Failed;
    }
    // An empty answer is an empty listing, as the array answers a listing with nothing in it.
    if (answer.body.find_first_not_of(" \t\r\n") == std::string::npos) {
        parsed = jsonxx::Array();
        return Listing::Read;
    }
    if (!parsed.parse(answer.body)) {
        error = method + " on array " + array.name + " answered what is not a JSON array";
        return Listing::Failed;
    }
    return Listing::Read;
}

std::string textMember(const jsonxx::Object& object, const char* name) {
    return object.has<jsonxx::String>(name) ? object.get<jsonxx::String>(name) : std::string();
}

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
std::vector<LostClone> clonesOf(const jsonxx::Array& datasets, const SnapshotSource& source,
                                const std::vector<std::string>& origins,
                                const std::map<std::string, const SnapshotRecord*>& records) {
    std::vector<LostClone> clones;
    for (size_t i = 0; i < datasets.size(); ++i) {
        if (!datasets.has<jsonxx::Object>(i)) {
            continue;
        }
        const jsonxx::Object& dataset = datasets.get<jsonxx::Object>(i);
        const std::string name = textMember(dataset, "name");
        const std::string reported = textMember(dataset, "originSnapshot");
        for (const std::string& origin : origins) {
            const std::string id = plainId(nameInPath(origin));
            const bool pluginMade = !id.empty() && name == kClonePrefix + id;
            if (!pluginMade && reported != origin) {
                continue;
            }
            LostClone clone;
            clone.path = textMember(dataset, "datasetPath");
            if (clone.path.empty()) {
                clone.path = source.pool + "/Local/" + source.project + "/" + name;
            }
            clone.luId = textMember(dataset, "luId");
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

std::string SnapshotSource::datasetPath() const {
    return pool + "/" + mode + "/" + project + "/" + name;
}

std::string SnapshotSource::snapshotPath(const std::string& id) const {
    return datasetPath() + (share ? "@Manual-S-" : "@Manual-V-") + id;
}

bool snapshotSource(const SnapshotRecord& record, SnapshotSource& source, std::string& error) {
    const NamedFields fields = metadataFields(record.metadata, MetadataKind::Metadata);
    const std::string share = fieldOf(fields, "share");
    source.share = !share.empty();
    source.name = source.share ? share : fieldOf(fields, "volume");
    source.pool = fieldOf(fields, "pool");
    source.mode = fieldOf(fields, "mode");
    source.project = fieldOf(fields, "project");
    for (const std::string* part : {&source.name, &source.pool, &source.mode, &source.project}) {
        if (part->empty() || part->find('/') != std::string::npos) {
            error = "the catalog's metadata of " + record.name +
                    " does not say where its source is on the array";
            return false;
        }
    }
    return true;
}

bool listedSnapshots(const ArrayAccess& array, const std::string& datasetPath,
                     std::vector<std::string>& names, std::string& error) {
    jsonxx::Array listed;
    names.clear();
    // A source that is gone has no snapshots, and so nothing that depends on them.
    const Listing read =
        arrayAnswer(array, "listSnapshots", parameters({datasetPath, ""}), listed, error);
    if (read != Listing::Read) {
        return read == Listing::Missing;
    }
    for (size_t i = 0; i < listed.size(); ++i) {
        if (!listed.has<jsonxx::String>(i)) {
            error = "listSnapshots on array " + array.name + " answered a name that is no text";
            return false;
        }
        names.push_back(listed.get<jsonxx::String>(i));
    }
    return true;
}

bool findDependents(const Catalog& catalog, const ArrayAccess& array, const SnapshotRecord& record,
                    Destruction destruction, Dependents& found, std::string& error) {
    found = Dependents();
    if (!snapshotSource(record, found.source, error)) {
        return false;
    }
    const SnapshotSource& source = found.source;
    found.snapshotPath = source.snapshotPath(record.name);
    found.mountedAs = mountedCopyText(record.mountedDevice);
    const auto records = recordsOfSource(catalog, array.name, source);

    std::vector<std::string> names;
    if (!listedSnapshots(array, source.datasetPath(), names, error)) {
        return false;
    }
    const std::string full = nameInPath(found.snapshotPath);
    const auto self = std::find(names.begin(), names.end(), full);
    found.snapshotListed = self != names.end();

    std::vector<std::string> origins;
    if (destruction == Destruction::Delete) {
        origins.push_back(found.snapshotPath);
    } else {
        const auto ownRecord = records.find(found.snapshotPath);
        for (auto it = names.begin(); it != names.end(); ++it) {
            const std::string path = source.datasetPath() + "@" + *it;
            const auto kept = records.find(path);
            const bool listedLater = found.snapshotListed && it > self;
            // Records are kept in creation order, in one vector.
            const bool recordedLater = kept != records.end() && ownRecord != records.end() &&
                                       kept->second > ownRecord->second;
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
    }

    if (!origins.empty()) {
        jsonxx::Array datasets;
        if (arrayAnswer(array, source.share ? "listShares" : "listVolumes",
                        parameters({source.pool, source.project, "true"}), datasets,
                        error) == Listing::Failed) {
            return false;
        }
        found.clones = clonesOf(datasets, source, origins, records);
    }
    if (destruction == Destruction::Delete) {
        judgeDelete(record, found);
    } else {
        judgeRevert(found);
    }
    return true;
}

Creation creationOnArray(const ArrayAccess& array, const SnapshotSource& source,
                         const std::string& id) {
    const ApiAnswer answer = ArrayProbe(array, 0).call(
        source.share ? "getShareSnapshotCreationStatus" : "getVolumeSnapshotCreationStatus",
        parameters({source.datasetPath(), id}));
    if (!answer.ok) {
        return answer.status == 404 && answer.body.find("does not exist") != std::string::npos
                   ? Creation::NotKnown
                   : Creation::Unanswered;
    }
    jsonxx::Object status;
    if (!status.parse(answer.body) || !status.has<jsonxx::Number>("snapshotProgressStatus")) {
        return Creation::Unanswered;
    }
    return status.get<jsonxx::Number>("snapshotProgressStatus") == 1 ? Creation::InProgress
                                                                     : Creation::NotKnown;
}

bool pluginClone(const ArrayAccess& array, const SnapshotSource& source, const std::string& id,
                 std::string& path, std::string& luId, std::string& error) {
    error.clear();
    jsonxx::Array datasets;
    const Listing read =
        arrayAnswer(array, source.share ? "listShares" : "listVolumes",
                    parameters({source.pool, source.project, "true"}), datasets, error);
    if (read != Listing::Read) {
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
