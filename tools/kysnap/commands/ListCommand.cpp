// SPDX-License-Identifier: Apache-2.0
#include "ListCommand.h"

#include <cstdio>

#include "CannotRun.h"
#include "JsonOutput.h"
#include "RecordFields.h"
#include "Session.h"
#include "SnapshotNames.h"
#include "StatusNames.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// Named fields as an object: their names are fixed words, not data.
JsonDocument fieldsObject(const std::string& text, MetadataKind kind) {
    JsonDocument object = JsonDocument::object();
    for (const auto& [name, value] : metadataFields(text, kind)) {
        object[name] = visibleText(value);
    }
    return object;
}

// The members a prepared device and a snapshot record share, readable: the status by name
// and its number as "statusCode", the metadata as objects of named fields.
void addShared(JsonDocument& entry, const std::string& array, int32_t status,
               const std::string& metadata, const std::string& transMetadata) {
    entry["array"] = visibleText(array);
    entry["status"] = statusName(status);
    entry["statusCode"] = status;
    entry["metadata"] = fieldsObject(metadata, MetadataKind::Metadata);
    entry["transMetadata"] = fieldsObject(transMetadata, MetadataKind::TransMetadata);
}

// When the array will have had time to finish creating the snapshot of an unknown record.
std::string settleEnd(const Session& session, const SnapshotRecord& record) {
    std::time_t sent = 0;
    return parseIsoTime(record.created, sent) ? isoTime(sent + session.config.settleSeconds())
                                              : "(its creation time cannot be read)";
}

void printJson(const Session& session, const std::string& command) {
    const Catalog& catalog = session.catalog;
    JsonDocument root = jsonDocument(command);
    root["catalog"] = visibleText(session.store->path());
    root["writerBusy"] = session.store->writerBusy();
    root["targets"] = JsonDocument::array();
    for (const auto& [target, array] : catalog.targets) {
        root["targets"].push_back({{"target", visibleText(target)}, {"array", visibleText(array)}});
    }
    root["devices"] = JsonDocument::array();
    for (const auto& [device, prepared] : catalog.devices) {
        JsonDocument entry = {{"device", visibleText(device)}};
        addShared(entry, prepared.array, prepared.status, prepared.metadata,
                  prepared.transMetadata);
        root["devices"].push_back(std::move(entry));
    }
    root["snapshots"] = JsonDocument::array();
    for (const SnapshotRecord& record : catalog.snapshots) {
        JsonDocument entry = {{"name", visibleText(record.name)},
                              {"device", visibleText(record.device)}};
        addShared(entry, record.array, record.status, record.metadata, record.transMetadata);
        entry["mountedDevice"] = visibleText(mountedCopyText(record.mountedDevice));
        entry["created"] = visibleText(record.created);
        entry["state"] = stateName(record.state);
        entry["consistency"] = consistencyName(record.consistency);
        if (record.state == RecordState::Unknown) {
            entry["mayAppearUntil"] = settleEnd(session, record);
        }
        if (!record.clone.empty()) {
            entry["clone"] = visibleText(record.clone);
        }
        root["snapshots"].push_back(std::move(entry));
    }
    root["lastName"] = visibleText(catalog.lastName);
    printJsonDocument(root);
}

}  // namespace

int runList(const Options& options, const Session::Needs& needs) {
    std::string error;
    auto session = Session::open(options, needs, error);
    if (!session) {
        return cannotRun(options, error);
    }
    const Catalog& catalog = session->catalog;
    if (options.json) {
        printJson(*session, options.command);
        return 0;
    }
    std::printf("catalog %s%s\n", session->store->path().c_str(),
                session->store->writerBusy()
                    ? " (another kysnap run is writing it: shown as last saved)"
                    : "");
    std::printf("prepared devices: %zu\n", catalog.devices.size());
    for (const auto& [device, prepared] : catalog.devices) {
        std::printf("  %s on %s: %s\n", visibleText(device).c_str(),
                    visibleText(prepared.array).c_str(), statusName(prepared.status).c_str());
    }
    std::printf("snapshots: %zu\n", catalog.snapshots.size());
    for (const SnapshotRecord& record : catalog.snapshots) {
        std::printf("  %s  %s on %s: %s, %s", visibleText(record.name).c_str(),
                    visibleText(record.device).c_str(), visibleText(record.array).c_str(),
                    statusName(record.status).c_str(), consistencyName(record.consistency));
        if (record.state == RecordState::Unknown) {
            std::printf(
                " [unknown: not on the array when last asked, but its creation may still "
                "finish there until %s: kysnap reconcile %s records it when it appears, "
                "and removes the record after that time]",
                settleEnd(*session, record).c_str(), visibleText(record.name).c_str());
        } else if (record.state != RecordState::Created) {
            std::printf(" [%s: kysnap reconcile settles it]", stateName(record.state));
        }
        if (!record.mountedDevice.empty()) {
            std::printf(", mounted as %s",
                        visibleText(mountedCopyText(record.mountedDevice)).c_str());
        }
        if (!record.clone.empty()) {
            std::printf(", clone %s on the array (no map recorded it: kysnap unmap %s removes it)",
                        visibleText(record.clone).c_str(), visibleText(record.name).c_str());
        }
        // The metadata holds the array's names.
        std::printf("\n      metadata: %s\n",
                    visibleText(fieldsText(metadataFields(record.metadata, MetadataKind::Metadata)))
                        .c_str());
    }
    return 0;
}

}  // namespace kysnap
