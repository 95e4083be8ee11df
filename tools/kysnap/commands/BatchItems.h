// SPDX-License-Identifier: Apache-2.0
// The requests of one batch run, made from the operands and the catalog before the plug-in is
// called, and what the plug-in logged and set about each while it ran.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BatchOperations.h"
#include "CliRequest.h"
#include "DeviceNames.h"
#include "RequestAttribution.h"
#include "Session.h"
#include "Unsettled.h"

namespace kysnap {

// One request of the run, with what it is about.
struct BatchItem {
    DeviceName device;
    std::string snapshot;  // the host's snapshot id ("" for device operations but snap)
    RecordState state = RecordState::Created;  // of the snapshot's record before the call
    bool listedBefore = true;  // the array listed the snapshot before the call (delete, revert)
    std::unique_ptr<CliRequest> request;
    // The plug-in's lines and errors about this request, whichever request they came through
    // (RequestAttribution), in order.
    std::vector<hostkit::LogLine> lines;
    std::vector<hostkit::ErrorReport> errors;
    // A record whose creation was not confirmed that the array turned out not to hold: whether
    // its snapshot may still appear.
    std::optional<SettleVerdict> settle;
};

// Makes one item per name of `names`, the devices or catalog snapshots the run is about (for an
// operation on catalog snapshots with none, one per catalog snapshot), with its request filled from
// the catalog and the host's settings, and its lines and errors attributed through `attribution`,
// which must outlive the items. False with `error` set when an operand cannot be a request (not in
// the catalog, not prepared, not made completely, named twice, ...): nothing is sent then.
bool makeBatchItems(Session& session, const batch::Operation& operation,
                    const std::vector<std::string>& names, RequestAttribution& attribution,
                    std::vector<BatchItem>& items, std::string& error);

// Records each snapshot about to be made, as "creating", and saves the catalog before the
// plug-in is called: whatever becomes of the call, the array's snapshot has a record. False
// with `error` set when the catalog cannot be saved.
bool recordIntents(Session& session, const std::vector<BatchItem>& items, std::string& error);

}  // namespace kysnap
