// SPDX-License-Identifier: Apache-2.0
#include "ListCommand.h"

#include <cstdio>

#include "RecordFields.h"
#include "Session.h"
#include "SnapshotNames.h"
#include "StatusNames.h"
#include "VisibleText.h"
#include "jsonxx.h"

namespace kysnap {

namespace {

jsonxx::Object fieldsObject(const std::string& text, MetadataKind kind) {
    jsonxx::Object object;
    for (const auto& [name, value] : metadataFields(text, kind)) {
        object.import(name, value);
    }
    return object;
}

// The members a prepared device and a snapshot record share, readable: the status by name
// (and number), the metadata as objects of named fields.
void importShared(jsonxx::Object& entry, const std::string& array, int32_t status,
                  const std::string& metadata, const std::string& transMetadata) {
    entry.import("array", array);
    entry.import("status", statusName(status));
    entry.import("statusCode", static_cast<jsonxx::Number>(status));
    entry.import("metadata", fieldsObject(metadata, MetadataKind::Metadata));
    entry.import("transMetadata", fieldsObject(transMetadata, MetadataKind::TransMetadata));
}

// When the array will have had time to finish creating the snapshot of an unknown record.
std::string settleEnd(const Session& session, const SnapshotRecord& record) {
    std::time_t sent = 0;
    return parseIsoTime(record.created, sent) ? isoTime(sent + session.config.settleSeconds())
                                              : "(its creation time cannot be read)";
}

void printJson(const Session& session) {
    const Catalog& catalog = session.catalog;
    jsonxx::Object root;
    root.import("catalog", session.store->path());
    root.import("writerBusy", session.store->writerBusy());
    jsonxx::Object targets;
    for (const auto& [target, array] : catalog.targets) {
        targets.import(target, array);
    }
    root.import("targets", targets);
    jsonxx::Object devices;
    for (const auto& [device, prepared] : catalog.devices) {
        jsonxx::Object entry;
        importShared(entry, prepared.array, prepared.status, prepared.metadata,
                     prepared.transMetadata);
        devices.import(device, entry);
    }
    root.import("devices", devices);
    jsonxx::Array snapshots;
    for (const SnapshotRecord& record : catalog.snapshots) {
        jsonxx::Object entry;
        entry.import("name", record.name);
        entry.import("device", record.device);
        importShared(entry, record.array, record.status, record.metadata, record.transMetadata);
        entry.import("mountedDevice", mountedCopyText(record.mountedDevice));
        entry.import("created", record.created);
        entry.import("state", stateName(record.state));
        if (record.state == RecordState::Unknown) {
            entry.import("mayAppearUntil", settleEnd(session, record));
        }
        if (!record.clone.empty()) {
            entry.import("clone", visibleText(record.clone));
        }
        snapshots.append(entry);
    }
    root.import("snapshots", snapshots);
    root.import("lastName", catalog.lastName);
    std::printf("%s\n", root.json().c_str());
}

}  // namespace

int runList(const Options& options, const Session::Needs& needs) {
    std::string error;
    auto session = Session::open(options, needs, error);
    if (!session) {
        std::fprintf(stderr, "kysnap: %s\n", error.c_str());
        return kExitFailure;
    }
    const Catalog& catalog = session->catalog;
    if (options.json) {
        printJson(*session);
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
        std::printf("  %s  %s on %s: %s", visibleText(record.name).c_str(),
                    visibleText(record.device).c_str(), visibleText(record.array).c_str(),
                    statusName(record.status).c_str());
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
