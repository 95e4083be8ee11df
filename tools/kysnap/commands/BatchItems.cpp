// SPDX-License-Identifier: Apache-2.0
#include "BatchItems.h"

#include <ctime>

#include "RecordFields.h"
#include "SnapshotNames.h"

namespace kysnap {

namespace {

using batch::Source;

std::string hostIdentifier(const Session& session) {
    const std::string esx =
        !session.config.esxName.empty() ? session.config.esxName : session.backend->hostName();
    return "{hostType:esx,esxname:" + esx + "}";
}

// Fills what every request of the run shares: the host's settings and identity.
void fillShared(Session& session, CliRequest& request, int32_t id) {
    const HostConfig& config = session.config;
    if (config.retryCount) {
        request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = *config.retryCount;
    }
    if (config.retryInterval) {
        request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = *config.retryInterval;
    }
    if (config.diagnosticLogging) {
        request.configInts["SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING"] =
            *config.diagnosticLogging ? 1 : 0;
    }
    if (config.targetGroup) {
        request.configStrings["SMCONFIG_NAME_TARGET_GROUP"] = *config.targetGroup;
    }
    request.hostIdentifier = hostIdentifier(session);
    request.snapId = id;
}

// Gives each item the lines and errors about it, and the plug-in's log every line.
void attribute(Session& session, RequestAttribution& attribution, std::vector<BatchItem>& items) {
    PluginLog* log = session.log.get();
    for (size_t index = 0; index < items.size(); ++index) {
        CliRequest& request = *items[index].request;
        request.onRead = [&attribution, index] { attribution.read(index); };
        request.onLog = [log, &attribution, &items, index](const hostkit::LogLine& line) {
            log->request(line);
            items[attribution.about(index)].lines.push_back(line);
        };
        request.onError = [&attribution, &items, index](const hostkit::ErrorReport& reported) {
            items[attribution.about(index)].errors.push_back(reported);
        };
    }
}

// The array a device request starts with: --array, else for an NFS datastore the array of its
// server; block devices are left to the plug-in's search by target.
bool deviceArray(Session& session, const DeviceName& device, std::string& array,
                 std::string& error) {
    const ArrayDirectory& arrays = *session.directory;
    if (!session.options.array.empty()) {
        if (arrays.find(session.options.array) == nullptr) {
            error = "--array " + session.options.array + " is not in " + session.config.path;
            return false;
        }
        array = session.options.array;
        return true;
    }
    if (device.nfs) {
        const ArrayAccess* server = arrays.forServer(device.server);
        if (server == nullptr) {
            server = arrays.only();
        }
        if (server == nullptr) {
            error = "no configured array answers to NFS server " + device.server +
                    ": name it with --array";
            return false;
        }
        array = server->name;
    }
    return true;
}

// What a request is made from besides its item.
struct RequestInputs {
    std::string array;
    std::string metadata;
    std::string transMetadata;
    std::string mounted;
    int32_t status = 0;
};

bool fromSnapshot(Session& session, const batch::Operation& operation, const std::string& name,
                  BatchItem& item, RequestInputs& inputs, std::string& error) {
    const SnapshotRecord* record = session.catalog.findSnapshot(name);
    if (record == nullptr) {
        error = "no snapshot " + name + " in the catalog (kysnap list shows them)";
        return false;
    }
    if (record->state != RecordState::Created &&
        operation.unfinished == batch::Unfinished::Refused) {
        error = name + " was not made completely (its record is \"" + stateName(record->state) +
                "\"): kysnap reconcile " + name + " settles it, kysnap delete " + name +
                " removes it";
        return false;
    }
    if (record->state != RecordState::Created && record->metadata.empty()) {
        error = "the catalog holds no metadata for " + name +
                ", so the plug-in cannot be asked about it; remove the record by hand";
        return false;
    }
    if (!parseDeviceName(record->device, item.device, error)) {
        return false;
    }
    item.snapshot = record->name;
    item.state = record->state;
    inputs = RequestInputs{record->array, record->metadata, record->transMetadata,
                           record->mountedDevice, record->status};
    return true;
}

bool fromDevice(Session& session, const batch::Operation& operation, const std::string& name,
                BatchItem& item, RequestInputs& inputs, std::string& error) {
    if (!parseDeviceName(name, item.device, error)) {
        return false;
    }
    if (operation.source == Source::NamedDevice) {
        return deviceArray(session, item.device, inputs.array, error);
    }
    const auto prepared = session.catalog.devices.find(name);
    if (prepared == session.catalog.devices.end() ||
        prepared->second.status != KYSO::SNAP_PREPARED) {
        error = name + " is not prepared (kysnap prepare " + name + ")";
        return false;
    }
    inputs = RequestInputs{prepared->second.array, prepared->second.metadata,
                           prepared->second.transMetadata, "", prepared->second.status};
    return true;
}

}  // namespace

bool makeBatchItems(Session& session, const batch::Operation& operation,
                    const std::vector<std::string>& given, RequestAttribution& attribution,
                    std::vector<BatchItem>& items, std::string& error) {
    Catalog& catalog = session.catalog;
    std::vector<std::string> names = given;
    if (names.empty() && operation.onSnapshots()) {
        for (const SnapshotRecord& record : catalog.snapshots) {
            names.push_back(record.name);
        }
        if (names.empty()) {
            error = std::string("the catalog holds no snapshot to ") + operation.name;
            return false;
        }
    }
    std::vector<std::string> newNames;
    const std::time_t now = std::time(nullptr);
    for (const std::string& name : names) {
        BatchItem item;
        RequestInputs inputs;
        const bool made = operation.onSnapshots()
                              ? fromSnapshot(session, operation, name, item, inputs, error)
                              : fromDevice(session, operation, name, item, inputs, error);
        if (!made) {
            return false;
        }
        if (operation.ids == batch::Ids::MadeNew) {
            const std::string& last = newNames.empty() ? catalog.lastName : newNames.back();
            item.snapshot = newSnapshotName(now, last, [&](const std::string& candidate) {
                return catalog.findSnapshot(candidate) != nullptr;
            });
            newNames.push_back(item.snapshot);
        }
        item.request = std::make_unique<CliRequest>(*session.directory, inputs.array);
        CliRequest& request = *item.request;
        fillShared(session, request, static_cast<int32_t>(items.size() + 1));
        request.device = item.device.description;
        request.snapUUID = item.snapshot;
        request.metaData = inputs.metadata;
        request.transMetaData = inputs.transMetadata;
        request.snapDevice = inputs.mounted;
        request.status = inputs.status;
        items.push_back(std::move(item));
    }
    attribute(session, attribution, items);
    return true;
}

bool recordIntents(Session& session, const std::vector<BatchItem>& items, std::string& error) {
    Catalog& catalog = session.catalog;
    const std::string now = isoTime(std::time(nullptr));
    for (const BatchItem& item : items) {
        const PreparedDevice& prepared = catalog.devices.at(item.device.given);
        SnapshotRecord intent;
        intent.name = item.snapshot;
        intent.device = item.device.given;
        intent.array = prepared.array;
        intent.metadata = prepared.metadata;
        intent.transMetadata = prepared.transMetadata;
        intent.status = prepared.status;
        intent.created = now;
        intent.state = RecordState::Creating;
        catalog.snapshots.push_back(intent);
        catalog.lastName = item.snapshot;
    }
    return session.saveCatalog(error);
}

}  // namespace kysnap
