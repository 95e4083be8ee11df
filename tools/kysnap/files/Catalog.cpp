// SPDX-License-Identifier: Apache-2.0
#include "Catalog.h"

#include <algorithm>
#include <limits>
#include <set>

#include "StrictJson.h"

namespace kysnap {

namespace {

using Json = nlohmann::json;

// 2: records have a state, the catalog keeps the last id handed out. 1 is still read.
constexpr int kFormat = 2;
constexpr int kOldFormat = 1;

const RecordState kStates[] = {RecordState::Creating, RecordState::Failed, RecordState::Created,
                               RecordState::Unknown};
const Consistency kConsistencies[] = {Consistency::CrashConsistent, Consistency::FilesystemFrozen,
                                      Consistency::HookQuiesced};

// Reads members of the catalog's JSON, each check naming the member ("snapshots[3].status")
// and what is wrong with it.
class Reader {
public:
    explicit Reader(std::string& error) : error_(error) {}

    // `where` "" is the catalog itself.
    bool fail(const std::string& where, const std::string& why) {
        error_ = (where.empty() ? std::string("the catalog") : where) + " " + why;
        return false;
    }

    // `object` has exactly the members `required`, and maybe `optional`.
    bool members(const Json& object, const std::string& where,
                 std::initializer_list<const char*> required,
                 std::initializer_list<const char*> optional = {}) {
        for (const char* key : required) {
            if (!object.contains(key)) {
                return fail(where, std::string("lacks the member \"") + key + "\"");
            }
        }
        for (const auto& member : object.items()) {
            const auto known = [&](std::initializer_list<const char*> keys) {
                for (const char* key : keys) {
                    if (member.key() == key) {
                        return true;
                    }
                }
                return false;
            };
            if (!known(required) && !known(optional)) {
                return fail(where, "has the unknown member \"" + member.key() + "\"");
            }
        }
        return true;
    }

    bool text(const Json& object, const std::string& where, const char* key, std::string& out) {
        const auto found = object.find(key);
        if (found == object.end() || !found->is_string()) {
            return fail(member(where, key), "is not a string");
        }
        out = found->get<std::string>();
        return true;
    }

    bool status(const Json& object, const std::string& where, const char* key, int32_t& out) {
        const auto found = object.find(key);
        if (found == object.end() || !found->is_number()) {
            return fail(member(where, key), "is not a number");
        }
        int64_t value = 0;
        if (!strictjson::wholeNumber(*found, std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max(), value)) {
            return fail(member(where, key), "is not a whole number in the 32-bit range");
        }
        out = static_cast<int32_t>(value);
        return true;
    }

    bool state(const Json& object, const std::string& where, RecordState& out) {
        std::string name;
        if (!text(object, where, "state", name)) {
            return false;
        }
        for (const RecordState candidate : kStates) {
            if (name == stateName(candidate)) {
                out = candidate;
                return true;
            }
        }
        return fail(where + ".state",
                    "is \"" + name + "\", not creating, failed, created or unknown");
    }

    // An absent "consistency" is that of a snapshot taken without freeze or hook.
    bool consistency(const Json& object, const std::string& where, Consistency& out) {
        out = Consistency::CrashConsistent;
        std::string name;
        if (!object.contains("consistency")) {
            return true;
        }
        if (!text(object, where, "consistency", name)) {
            return false;
        }
        for (const Consistency candidate : kConsistencies) {
            if (name == consistencyName(candidate)) {
                out = candidate;
                return true;
            }
        }
        return fail(where + ".consistency", "is \"" + name +
                                                "\", not crash-consistent, filesystem-frozen or "
                                                "hook-quiesced");
    }

    bool object(const Json& parent, const std::string& where, const char* key, const Json*& out) {
        const auto found = parent.find(key);
        if (found == parent.end() || !found->is_object()) {
            return fail(member(where, key), "is not an object");
        }
        out = &*found;
        return true;
    }

private:
    static std::string member(const std::string& where, const char* key) {
        return where.empty() ? key : where + "." + key;
    }

    std::string& error_;
};

bool readSnapshot(Reader& reader, const Json& entry, const std::string& where, int format,
                  SnapshotRecord& record) {
    const std::initializer_list<const char*> oldMembers = {
        "name",          "device", "array",         "metadata",
        "transMetadata", "status", "mountedDevice", "created"};
    const std::initializer_list<const char*> members = {"name",          "device",        "array",
                                                        "metadata",      "transMetadata", "status",
                                                        "mountedDevice", "created",       "state"};
    if (!reader.members(entry, where, format == kOldFormat ? oldMembers : members,
                        {"clone", "consistency"})) {
        return false;
    }
    if (entry.contains("clone") && !reader.text(entry, where, "clone", record.clone)) {
        return false;
    }
    if (!reader.text(entry, where, "name", record.name) ||
        !reader.text(entry, where, "device", record.device) ||
        !reader.text(entry, where, "array", record.array) ||
        !reader.text(entry, where, "metadata", record.metadata) ||
        !reader.text(entry, where, "transMetadata", record.transMetadata) ||
        !reader.status(entry, where, "status", record.status) ||
        !reader.text(entry, where, "mountedDevice", record.mountedDevice) ||
        !reader.text(entry, where, "created", record.created)) {
        return false;
    }
    // Records written before states were kept are of snapshots the plug-in had made.
    record.state = RecordState::Created;
    if (format != kOldFormat && !reader.state(entry, where, record.state)) {
        return false;
    }
    if (!reader.consistency(entry, where, record.consistency)) {
        return false;
    }
    if (record.name.empty()) {
        return reader.fail(where + ".name", "is empty");
    }
    return true;
}

}  // namespace

const char* stateName(RecordState state) {
    switch (state) {
        case RecordState::Creating:
            return "creating";
        case RecordState::Failed:
            return "failed";
        case RecordState::Unknown:
            return "unknown";
        case RecordState::Created:
            break;
    }
    return "created";
}

const char* consistencyName(Consistency consistency) {
    switch (consistency) {
        case Consistency::FilesystemFrozen:
            return "filesystem-frozen";
        case Consistency::HookQuiesced:
            return "hook-quiesced";
        case Consistency::CrashConsistent:
            break;
    }
    return "crash-consistent";
}

SnapshotRecord* Catalog::findSnapshot(const std::string& name) {
    for (SnapshotRecord& record : snapshots) {
        if (record.name == name) {
            return &record;
        }
    }
    return nullptr;
}

void Catalog::eraseSnapshot(const std::string& name) {
    snapshots.erase(std::remove_if(snapshots.begin(), snapshots.end(),
                                   [&](const SnapshotRecord& r) { return r.name == name; }),
                    snapshots.end());
}

bool Catalog::toJson(std::string& text, std::string& error) const {
    // Written in the order a person reads it; "/" stays as it is.
    nlohmann::ordered_json root;
    root["format"] = kFormat;
    root["targets"] = nlohmann::ordered_json::object();
    for (const auto& [target, array] : targets) {
        root["targets"][target] = array;
    }
    root["devices"] = nlohmann::ordered_json::object();
    for (const auto& [device, prepared] : devices) {
        root["devices"][device] = {{"array", prepared.array},
                                   {"metadata", prepared.metadata},
                                   {"transMetadata", prepared.transMetadata},
                                   {"status", prepared.status}};
    }
    root["snapshots"] = nlohmann::ordered_json::array();
    for (const SnapshotRecord& record : snapshots) {
        nlohmann::ordered_json entry = {{"name", record.name},
                                        {"device", record.device},
                                        {"array", record.array},
                                        {"metadata", record.metadata},
                                        {"transMetadata", record.transMetadata},
                                        {"status", record.status},
                                        {"mountedDevice", record.mountedDevice},
                                        {"created", record.created},
                                        {"state", stateName(record.state)}};
        if (!record.clone.empty()) {
            entry["clone"] = record.clone;
        }
        if (record.consistency != Consistency::CrashConsistent) {
            entry["consistency"] = consistencyName(record.consistency);
        }
        root["snapshots"].push_back(std::move(entry));
    }
    root["lastName"] = lastName;
    try {
        text = root.dump(1, '\t') + "\n";
    } catch (const nlohmann::json::type_error& problem) {
        // A text that is not UTF-8 cannot be kept in JSON; writing it anyway would make a
        // catalog that no strict reader accepts, and replacing its bytes would lose it.
        error = "it would hold a text that is not UTF-8 (" + std::string(problem.what()) + ")";
        return false;
    }
    return true;
}

bool Catalog::fromJson(const std::string& text, Catalog& catalog, std::string& error) {
    Json root;
    if (!strictjson::parseObject(text, root, error)) {
        return false;
    }
    Reader reader(error);
    const auto format = root.find("format");
    int64_t formatNumber = 0;
    if (format == root.end() ||
        !strictjson::wholeNumber(*format, kOldFormat, kFormat, formatNumber)) {
        return reader.fail(
            "format", "is not " + std::to_string(kOldFormat) + " or " + std::to_string(kFormat));
    }
    const int formatValue = static_cast<int>(formatNumber);
    if (!(formatValue == kOldFormat
              ? reader.members(root, "", {"format", "targets", "devices", "snapshots"})
              : reader.members(root, "",
                               {"format", "targets", "devices", "snapshots", "lastName"}))) {
        return false;
    }
    Catalog read;
    if (formatValue != kOldFormat && !reader.text(root, "", "lastName", read.lastName)) {
        return false;
    }
    const Json* targets = nullptr;
    const Json* devices = nullptr;
    if (!reader.object(root, "", "targets", targets) ||
        !reader.object(root, "", "devices", devices)) {
        return false;
    }
    for (const auto& target : targets->items()) {
        if (!target.value().is_string()) {
            return reader.fail("targets." + target.key(), "is not a string");
        }
        read.targets[target.key()] = target.value().get<std::string>();
    }
    for (const auto& device : devices->items()) {
        const std::string where = "devices." + device.key();
        const Json& entry = device.value();
        if (!entry.is_object()) {
            return reader.fail(where, "is not an object");
        }
        PreparedDevice prepared;
        if (!reader.members(entry, where, {"array", "metadata", "transMetadata", "status"}) ||
            !reader.text(entry, where, "array", prepared.array) ||
            !reader.text(entry, where, "metadata", prepared.metadata) ||
            !reader.text(entry, where, "transMetadata", prepared.transMetadata) ||
            !reader.status(entry, where, "status", prepared.status)) {
            return false;
        }
        read.devices[device.key()] = prepared;
    }
    const Json& list = root.at("snapshots");
    if (!list.is_array()) {
        return reader.fail("snapshots", "is not an array");
    }
    std::set<std::string> names;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string where = "snapshots[" + std::to_string(i) + "]";
        if (!list[i].is_object()) {
            return reader.fail(where, "is not an object");
        }
        SnapshotRecord record;
        if (!readSnapshot(reader, list[i], where, formatValue, record)) {
            return false;
        }
        if (!names.insert(record.name).second) {
            return reader.fail(where + ".name", "\"" + record.name + "\" is given twice");
        }
        read.snapshots.push_back(std::move(record));
    }
    catalog = std::move(read);
    return true;
}

}  // namespace kysnap
