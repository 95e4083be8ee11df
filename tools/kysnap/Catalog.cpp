#include "Catalog.h"

#include <algorithm>

#include "jsonxx.h"

namespace kysnap {

namespace {

constexpr int kFormat = 1;

std::string text(const jsonxx::Object& object, const std::string& key) {
    return object.has<jsonxx::String>(key) ? object.get<jsonxx::String>(key) : std::string();
}

int32_t integer(const jsonxx::Object& object, const std::string& key) {
    return object.has<jsonxx::Number>(key) ? static_cast<int32_t>(object.get<jsonxx::Number>(key))
                                           : 0;
}

}  // namespace

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
        list.append(entry);
    }
    root.import("snapshots", list);
    return root.json() + "\n";
}

bool Catalog::fromJson(const std::string& text, Catalog& catalog, std::string& error) {
    jsonxx::Object root;
    if (!root.parse(text)) {
        error = "it is not a JSON object";
        return false;
    }
    if (!root.has<jsonxx::Number>("format") ||
        root.get<jsonxx::Number>("format") != static_cast<jsonxx::Number>(kFormat)) {
        error = "its format is not " + std::to_string(kFormat);
        return false;
    }
    Catalog read;
    if (root.has<jsonxx::Object>("targets")) {
        for (const auto& [target, value] : root.get<jsonxx::Object>("targets").kv_map()) {
            if (value.is<jsonxx::String>()) {
                read.targets[target] = value.get<jsonxx::String>();
            }
        }
    }
    if (root.has<jsonxx::Object>("devices")) {
        for (const auto& [device, value] : root.get<jsonxx::Object>("devices").kv_map()) {
            if (!value.is<jsonxx::Object>()) {
                error = "device " + device + " is not an object";
                return false;
            }
            const jsonxx::Object& entry = value.get<jsonxx::Object>();
            read.devices[device] =
                PreparedDevice{kysnap::text(entry, "array"), kysnap::text(entry, "metadata"),
                               kysnap::text(entry, "transMetadata"), integer(entry, "status")};
        }
    }
    if (root.has<jsonxx::Array>("snapshots")) {
        const jsonxx::Array& list = root.get<jsonxx::Array>("snapshots");
        for (size_t i = 0; i < list.size(); ++i) {
            if (!list.has<jsonxx::Object>(i)) {
                error = "snapshot " + std::to_string(i) + " is not an object";
                return false;
            }
            const jsonxx::Object& entry = list.get<jsonxx::Object>(i);
            SnapshotRecord record;
            record.name = kysnap::text(entry, "name");
            record.device = kysnap::text(entry, "device");
            record.array = kysnap::text(entry, "array");
            record.metadata = kysnap::text(entry, "metadata");
            record.transMetadata = kysnap::text(entry, "transMetadata");
            record.status = integer(entry, "status");
            record.mountedDevice = kysnap::text(entry, "mountedDevice");
            record.created = kysnap::text(entry, "created");
            if (record.name.empty()) {
                error = "snapshot " + std::to_string(i) + " has no name";
                return false;
            }
            read.snapshots.push_back(std::move(record));
        }
    }
    catalog = std::move(read);
    return true;
}

}  // namespace kysnap
