// SPDX-License-Identifier: Apache-2.0
#include "BatchOutcome.h"

#include <algorithm>
#include <string_view>

#include "PluginTexts.h"
#include "RecordFields.h"

namespace kysnap {

namespace {

using batch::Detail;
using batch::Records;

// The plug-in's texts kysnap recognises in the lines about a request, as the plug-in writes them.
using plugintext::kArrayAlreadyExists;
using plugintext::kReconcileFailed;

constexpr int32_t kFailureLevel = 2;

bool loggedAbout(const BatchItem& item, std::string_view fragment) {
    return std::any_of(item.lines.begin(), item.lines.end(), [&](const hostkit::LogLine& line) {
        return line.text.find(fragment) != std::string::npos;
    });
}

// True when the array refused to create `item`'s snapshot because one of that name exists.
// The id was new to this catalog, so that snapshot is another host's (or an older catalog's),
// not one this record may adopt or delete.
bool nameTakenOnArray(const BatchItem& item) {
    return std::any_of(item.lines.begin(), item.lines.end(), [&](const hostkit::LogLine& line) {
        return line.text.find(item.snapshot) != std::string::npos &&
               line.text.find(kArrayAlreadyExists) != std::string::npos;
    });
}

// True when the host could not remove `device` (either side may be padded with blanks).
bool deviceLeftOnHost(const HostBackend& backend, const std::string& device) {
    const auto unpadded = [](const std::string& name) {
        const size_t start = name.find_first_not_of(' ');
        return start == std::string::npos ? std::string() : name.substr(start);
    };
    const std::vector<std::string>& left = backend.devicesLeft();
    return !unpadded(device).empty() &&
           std::any_of(left.begin(), left.end(),
                       [&](const std::string& name) { return unpadded(name) == unpadded(device); });
}

bool succeeded(const batch::Operation& operation, const BatchItem& item) {
    const CliRequest& request = *item.request;
    switch (operation.judged) {
        case batch::Judged::ByStatus:
            return request.status == operation.successStatus;
        case batch::Judged::ByLunIdentified:
            return !request.lunIdsSet.empty();
        case batch::Judged::ByNoFailureLine:
            return !loggedAbout(item, kReconcileFailed);
    }
    return false;
}

// Writes what the plug-in told the host about `item` into the catalog.
void record(Session& session, const batch::Operation& operation, const BatchItem& item, bool ok) {
    Catalog& catalog = session.catalog;
    const CliRequest& request = *item.request;
    switch (operation.records) {
        case Records::Nothing:
            return;
        case Records::PreparedDevice:
            if (ok) {
                catalog.devices[item.device.given] = PreparedDevice{
                    request.arrayName(), request.metaData, request.transMetaData, request.status};
            }
            return;
        case Records::UnpreparedDevice:
            catalog.devices.erase(item.device.given);
            return;
        default:
            break;
    }
    SnapshotRecord* kept = catalog.findSnapshot(item.snapshot);
    if (kept == nullptr) {
        return;
    }
    if (operation.records == Records::CreatedSnapshot) {
        // The intent record keeps the prepared device's metadata until the plug-in has
        // written the snapshot's own.
        if (!ok && nameTakenOnArray(item)) {
            catalog.eraseSnapshot(item.snapshot);
            return;
        }
        kept->status = request.status;
        kept->state = ok ? RecordState::Created : RecordState::Failed;
        if (ok) {
            kept->array = request.arrayName();
            kept->metadata = request.metaData;
            kept->transMetadata = request.transMetaData;
        }
        return;
    }
    if (item.state != RecordState::Created) {
        // Only operations that settle unfinished records get here. Not knowing is no reason to
        // change the record, and neither is a snapshot the array may still make.
        if (ok && item.settle && item.settle->mayStillAppear) {
            kept->state = RecordState::Unknown;
        } else if (ok && (operation.records == Records::DeletedSnapshot || item.settle)) {
            catalog.eraseSnapshot(item.snapshot);
        } else if (ok) {
            kept->state = RecordState::Created;
            kept->status = KYSO::SNAP_CREATED;
        }
        return;
    }
    if (operation.records == Records::DeletedSnapshot && ok) {
        catalog.eraseSnapshot(item.snapshot);
        return;
    }
    if (!request.metaDataWrites.empty()) {
        kept->metadata = request.metaData;
    }
    if (!request.transMetaDataWrites.empty()) {
        kept->transMetadata = request.transMetaData;
    }
    kept->status = request.status;
    const bool unmounted = operation.records == Records::UnmountedSnapshot && ok;
    kept->mountedDevice = unmounted ? "" : request.snapDevice;
    if (unmounted) {
        kept->clone.clear();
    }
}

std::string detail(const batch::Operation& operation, const BatchItem& item, bool ok) {
    const CliRequest& request = *item.request;
    if (ok && operation.detail == Detail::LunAndTarget) {
        return "LUN " + request.lunIdsSet.back() +
               (request.targetIdsSet.empty() ? "" : " target " + request.targetIdsSet.back()) +
               " array " + request.arrayName();
    }
    if (ok && operation.detail == Detail::Array) {
        return "on array " + request.arrayName();
    }
    if (ok && operation.detail == Detail::MountedCopy) {
        const std::string copy = mountedCopyText(request.snapDevice);
        return copy.empty() ? std::string() : "-> " + copy;
    }
    if (!ok && operation.records == Records::CreatedSnapshot && nameTakenOnArray(item)) {
        return "(the array holds another snapshot of this id, not this host's: no record kept)";
    }
    if (ok && item.settle) {
        return item.settle->mayStillAppear
                   ? "(not on the array, but " + item.settle->why + ": kept as unknown; kysnap " +
                         operation.name + " " + item.snapshot + " settles it then)"
                   : "(its creation had not finished and it is not on the array: record removed, "
                     "as " +
                         item.settle->why + ")";
    }
    if (ok && operation.detail == Detail::Presence && item.state != RecordState::Created) {
        return "(its creation had not finished but it is on the array: now recorded)";
    }
    if (ok && operation.detail == Detail::Presence && request.status != KYSO::SNAP_UNAVAILABLE) {
        return "(still on the array)";
    }
    if (!ok && !request.problem().empty()) {
        return "(" + request.problem() + ")";
    }
    return std::string();
}

// The first failure lines the plug-in logged about `item`: usually the cause, before the lines
// of the layers above that pass the failure on.
std::vector<std::string> failureLines(const Session& session, const BatchItem& item) {
    constexpr size_t kShown = 2;
    std::vector<std::string> lines;
    for (const hostkit::LogLine& line : item.lines) {
        if (line.level == kFailureLevel && lines.size() < kShown) {
            lines.push_back(session.log->mask(line.text));
        }
    }
    return lines;
}

// Why `item` failed, as RequestOutcome::reason says.
std::string reason(const Session& session, const BatchItem& item,
                   const std::vector<std::string>& failures) {
    if (!failures.empty()) {
        return failures.front();
    }
    if (!item.errors.empty()) {
        return session.log->mask(item.errors.front().message);
    }
    return item.request->problem();
}

}  // namespace

RequestOutcome settleItem(Session& session, const batch::Operation& operation, BatchItem& item,
                          std::vector<std::string>& problems) {
    const CliRequest& request = *item.request;
    const bool left = operation.hostCheck == batch::HostCheck::DevicesRemoved &&
                      deviceLeftOnHost(*session.backend, request.snapDevice);
    const bool ok = succeeded(operation, item) && !left;
    const bool absent = operation.absence == batch::Absence::UnlistedBeforeCall
                            ? !item.listedBefore
                            : request.status == KYSO::SNAP_UNAVAILABLE;
    if (ok && item.state != RecordState::Created && absent) {
        item.settle = settleVerdict(session, *session.catalog.findSnapshot(item.snapshot));
    }
    record(session, operation, item, ok);
    RequestOutcome outcome;
    outcome.snapshot = item.snapshot;
    outcome.device = item.device.given;
    outcome.status = request.status;
    SnapshotRecord* kept = session.catalog.findSnapshot(item.snapshot);
    std::string adopted;
    if (operation.shown == batch::Shown::CatalogStatus && kept != nullptr) {
        // What the catalog holds now, not what the plug-in found the request with.
        outcome.status = kept->status;
    }
    if (operation.clones == batch::Clones::AdoptedWhenUnrecorded && kept != nullptr && ok &&
        kept->state == RecordState::Created) {
        adopted = adoptUnrecordedClone(session, *kept, problems);
    }
    outcome.hasStatus = operation.shown != batch::Shown::Identification && !left;
    if (left) {
        // Unmapped on the array, yet not gone from the host: never reported "unmounted".
        outcome.state = "unmapped on the array, but still on this host";
    } else if (!outcome.hasStatus) {
        outcome.state = ok ? "identified" : "not identified";
    }
    outcome.succeeded = ok;
    outcome.detail = detail(operation, item, ok);
    if (!adopted.empty()) {
        outcome.detail += (outcome.detail.empty() ? "" : " ") + std::string("(found ") + adopted +
                          ", which no map recorded: now recorded; kysnap unmap " + item.snapshot +
                          " removes it)";
    }
    if (!ok) {
        outcome.failures = failureLines(session, item);
        outcome.reason = reason(session, item, outcome.failures);
    }
    return outcome;
}

}  // namespace kysnap
