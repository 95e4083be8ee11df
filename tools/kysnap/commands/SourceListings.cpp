// SPDX-License-Identifier: Apache-2.0
#include "SourceListings.h"

#include "ArrayProbe.h"
#include "RecordFields.h"
#include "StrictJson.h"

namespace kysnap {

namespace {

std::string fieldOf(const NamedFields& fields, const std::string& name) {
    for (const auto& [field, value] : fields) {
        if (field == name) {
            return value;
        }
    }
    return std::string();
}

// A request body: the texts as the array's positional parameters. False when a text is not
// UTF-8 (JSON cannot carry it as it is, and a changed name would ask about another dataset).
bool parameters(const std::vector<std::string>& texts, std::string& body) {
    try {
        body = nlohmann::json(texts).dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

// Whether the array's answer says that what was asked about does not exist.
bool saysMissing(const ApiAnswer& answer) {
    return !answer.ok && answer.status == 404 &&
           answer.body.find("does not exist") != std::string::npos;
}

// The answer to `method`, read as a JSON array. Missing when the array says that what was
// asked about does not exist; Failed with `error` set.
Listing arrayAnswer(const ArrayAccess& array, const std::string& method,
                    const std::vector<std::string>& texts, nlohmann::json& parsed,
                    std::string& error) {
    std::string body;
    if (!parameters(texts, body)) {
        error =
            method + " on array " + array.name + " cannot be asked: a name in it is not UTF-8 text";
        return Listing::Failed;
    }
    const ApiAnswer answer = ArrayProbe(array, 0).call(method, body);
    if (saysMissing(answer)) {
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
        parsed = nlohmann::json::array();
        return Listing::Read;
    }
    std::string why;
    if (!strictjson::parse(answer.body, parsed, why) || !parsed.is_array()) {
        error = method + " on array " + array.name + " answered what is not a JSON array" +
                (why.empty() ? "" : ": " + why);
        return Listing::Failed;
    }
    return Listing::Read;
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
    nlohmann::json listed;
    names.clear();
    // A source that is gone has no snapshots, and so nothing that depends on them.
    const Listing read = arrayAnswer(array, "listSnapshots", {datasetPath, ""}, listed, error);
    if (read != Listing::Read) {
        return read == Listing::Missing;
    }
    for (const nlohmann::json& name : listed) {
        if (!name.is_string()) {
            error = "listSnapshots on array " + array.name + " answered a name that is no text";
            return false;
        }
        names.push_back(name.get<std::string>());
    }
    return true;
}

Listing listedDatasets(const ArrayAccess& array, const SnapshotSource& source,
                       nlohmann::json& datasets, std::string& error) {
    const std::string method = source.share ? "listShares" : "listVolumes";
    const Listing read =
        arrayAnswer(array, method, {source.pool, source.project, "true"}, datasets, error);
    if (read != Listing::Read) {
        return read;
    }
    for (const nlohmann::json& dataset : datasets) {
        if (!dataset.is_object()) {
            error = method + " on array " + array.name + " answered a dataset that is no object";
            return Listing::Failed;
        }
    }
    return Listing::Read;
}

bool replicationBases(const ArrayAccess& array, const std::string& datasetPath,
                      std::vector<ReplicationBase>& bases, std::string& error) {
    const char* const method = "getReplicationConfigList";
    bases.clear();
    nlohmann::json listed;
    const Listing read = arrayAnswer(array, method, {datasetPath}, listed, error);
    if (read != Listing::Read) {
        return read == Listing::Missing;
    }
    for (const nlohmann::json& config : listed) {
        const auto last = config.is_object() ? config.find("lastReplicatedSnapshot") : config.end();
        const auto name = config.is_object() ? config.find("name") : config.end();
        if (!config.is_object() || last == config.end() ||
            !(last->is_string() || last->is_null()) ||
            (name != config.end() && !name->is_string())) {
            error = std::string(method) + " on array " + array.name + " for " + datasetPath +
                    " answered a configuration without a readable \"lastReplicatedSnapshot\"";
            return false;
        }
        if (last->is_string() && !last->get_ref<const std::string&>().empty()) {
            // The name as listSnapshots gives it; a whole path "dataset@name" is taken too.
            std::string snapshot = last->get<std::string>();
            const size_t at = snapshot.find('@');
            if (at != std::string::npos) {
                if (snapshot.substr(0, at) != datasetPath) {
                    continue;
                }
                snapshot = snapshot.substr(at + 1);
            }
            bases.push_back(
                ReplicationBase{name == config.end() ? "" : name->get<std::string>(), snapshot});
        }
    }
    return true;
}

Creation creationOnArray(const ArrayAccess& array, const SnapshotSource& source,
                         const std::string& id) {
    std::string body;
    if (!parameters({source.datasetPath(), id}, body)) {
        return Creation::Unanswered;
    }
    const ApiAnswer answer = ArrayProbe(array, 0).call(
        source.share ? "getShareSnapshotCreationStatus" : "getVolumeSnapshotCreationStatus", body);
    if (!answer.ok) {
        return saysMissing(answer) ? Creation::NotKnown : Creation::Unanswered;
    }
    nlohmann::json status;
    std::string ignored;  // an answer that cannot be read is Unanswered, which callers report
    if (!strictjson::parseObject(answer.body, status, ignored) ||
        !status.contains("snapshotProgressStatus") ||
        !status["snapshotProgressStatus"].is_number()) {
        return Creation::Unanswered;
    }
    return status["snapshotProgressStatus"] == 1 ? Creation::InProgress : Creation::NotKnown;
}

}  // namespace kysnap
