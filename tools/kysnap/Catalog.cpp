// SPDX-License-Identifier: Apache-2.0
#include "Catalog.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "StrictJson.h"
#include "jsonxx.h"

namespace kysnap {

namespace {

// 2: records have a state, the catalog keeps the last id handed out. 1 is still read.
constexpr int kFormat = 2;
constexpr int kOldFormat = 1;

const RecordState kStates[] = {RecordState::Creating, RecordState::Failed, RecordState::Created,
                               RecordState::Unknown};

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
    bool members(const jsonxx::Object& object, const std::string& where,
                 std::initializer_list<const char*> required,
                 std::initializer_list<const char*> optional = {}) {
        for (const char* key : required) {
            if (object.kv_map().count(key) == 0) {
                return fail(where, std::string("lacks the member \"") + key + "\"");
            }
        }
        for (const auto& member : object.kv_map()) {
            const auto known = [&](std::initializer_list<const char*> keys) {
                for (const char* key : keys) {
                    if (member.first == key) {
                        return true;
                    }
                }
                return false;
            };
            if (!known(required) && !known(optional)) {
                return fail(where, "has the unknown member \"" + member.first + "\"");
            }
        }
        return true;
    }

    bool text(const jsonxx::Object& object, const std::string& where, const char* key,
              std::string& out) {
        if (!object.has<jsonxx::String>(key)) {
            return fail(member(where, key), "is not a string");
        }
        out = object.get<jsonxx::String>(key);
        return true;
    }

    bool status(const jsonxx::Object& object, const std::string& where, const char* key,
                int32_t& out) {
        if (!object.has<jsonxx::Number>(key)) {
            return fail(member(where, key), "is not a number");
        }
        const jsonxx::Number value = object.get<jsonxx::Number>(key);
        if (!(value >= std::numeric_limits<int32_t>::min() &&
              value <= std::numeric_limits<int32_t>::max() && value == std::floor(value))) {
            return fail(member(where, key), "is not a whole number in the 32-bit range");
        }
        out = static_cast<int32_t>(value);
        return true;
    }

    bool state(const jsonxx::Object& object, const std::string& where, RecordState& out) {
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

    bool object(const jsonxx::Object& parent, const std::string& where, const char* key,
                const jsonxx::Object*& out) {
        if (!parent.has<jsonxx::Object>(key)) {
            return fail(member(where, key), "is not an object");
        }
        out = &parent.get<jsonxx::Object>(key);
        return true;
    }

private:
    static std::string member(const std::string& where, const char* key) {
        return where.empty() ? key : where + "." + key;
    }

    std::string& error_;
};

bool readSnapshot(Reader& reader, const jsonxx::Object& entry, const std::string& where, int format,
                  SnapshotRecord& record) {
    const std::initializer_list<const char*> oldMembers = {
        "name",          "device", "array",         "metadata",
        "transMetadata", "status", "mountedDevice", "created"};
    const std::initializer_list<const char*> members = {"name",          "device",        "array",
                                                        "metadata",      "transMetadata", "status",
                                                        "mountedDevice", "created",       "state"};
    if (!reader.members(entry, where, format == kOldFormat ? oldMembers : members, {"clone"})) {
        return false;
    }
    if (entry.kv_map().count("clone") != 0 && !reader.text(entry, where, "clone", record.clone)) {
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

std::string Catalog::toJson() const {
    jsonxx::Object root;
    root.import("format", static_cast<jsonxx::Number>(kFormat));
    jsonxx::Object targetMap;
    for (const auto& [target, array] : targets) {
        targetMap.import(target, array);
    }
    root.import("targets", targetMap);
    jsonxx::Object deviceMap;
    for (const auto& [device, prepared] : devices) {
        jsonxx::Object entry;
        entry.import("array", prepared.array);
        entry.import("metadata", prepared.metadata);
        entry.import("transMetadata", prepared.transMetadata);
        entry.import("status", static_cast<jsonxx::Number>(prepared.status));
        deviceMap.import(device, entry);
    }
    root.import("devices", deviceMap);
    jsonxx::Array list;
    for (const SnapshotRecord& record : snapshots) {
        jsonxx::Object entry;
        entry.import("name", record.name);
        entry.import("device", record.device);
        entry.import("array", record.array);
        entry.import("metadata", record.metadata);
        entry.import("transMetadata", record.transMetadata);
        entry.import("status", static_cast<jsonxx::Number>(record.status));
        entry.import("mountedDevice", record.mountedDevice);
        entry.import("created", record.created);
        entry.import("state", stateName(record.state));
        if (!record.clone.empty()) {
            entry.import("clone", record.clone);
        }
        list.append(entry);
    }
    root.import("snapshots", list);
    root.import("lastName", lastName);
    return root.json() + "\n";
}

bool Catalog::fromJson(const std::string& text, Catalog& catalog, std::string& error) {
    if (!isStrictJsonObject(text, error)) {
        return false;
    }
    jsonxx::Object root;
    if (!root.parse(text)) {
        error = "it is not valid JSON";
        return false;
    }
    Reader reader(error);
    if (!root.has<jsonxx::Number>("format") || (root.get<jsonxx::Number>("format") != kFormat &&
                                                root.get<jsonxx::Number>("format") != kOldFormat)) {
        return reader.fail(
            "format", "is not " + std::to_string(kOldFormat) + " or " + std::to_string(kFormat));
    }
    const int format = static_cast<int>(root.get<jsonxx::Number>("format"));
    if (!(format == kOldFormat
              ? reader.members(root, "", {"format", "targets", "devices", "snapshots"})
              : reader.members(root, "",
                               {"format", "targets", "devices", "snapshots", "lastName"}))) {
        return false;
    }
    Catalog read;
    if (format != kOldFormat && !reader.text(root, "", "lastName", read.lastName)) {
        return false;
    }
    const jsonxx::Object* targets = nullptr;
    const jsonxx::Object* devices = nullptr;
    if (!reader.object(root, "", "targets", targets) ||
        !reader.object(root, "", "devices", devices)) {
        return false;
    }
    for (const auto& [target, value] : targets->kv_map()) {
        if (!value.is<jsonxx::String>()) {
            return reader.fail("targets." + target, "is not a string");
        }
        read.targets[target] = value.get<jsonxx::String>();
    }
    for (const auto& [device, value] : devices->kv_map()) {
        const std::string where = "devices." + device;
        if (!value.is<jsonxx::Object>()) {
            return reader.fail(where, "is not an object");
        }
        const jsonxx::Object& entry = value.get<jsonxx::Object>();
        PreparedDevice prepared;
        if (!reader.members(entry, where, {"array", "metadata", "transMetadata", "status"}) ||
            !reader.text(entry, where, "array", prepared.array) ||
            !reader.text(entry, where, "metadata", prepared.metadata) ||
            !reader.text(entry, where, "transMetadata", prepared.transMetadata) ||
            !reader.status(entry, where, "status", prepared.status)) {
            return false;
        }
        read.devices[device] = prepared;
    }
    if (!root.has<jsonxx::Array>("snapshots")) {
        return reader.fail("snapshots", "is not an array");
    }
    const jsonxx::Array& list = root.get<jsonxx::Array>("snapshots");
    std::set<std::string> names;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string where = "snapshots[" + std::to_string(i) + "]";
        if (!list.has<jsonxx::Object>(i)) {
            return reader.fail(where, "is not an object");
        }
        SnapshotRecord record;
        if (!readSnapshot(reader, list.get<jsonxx::Object>(i), where, format, record)) {
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
