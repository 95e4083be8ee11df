// SPDX-License-Identifier: Apache-2.0
// Unsettled: what reconcile and delete decide beyond the plug-in's answer, so that nothing the
// array holds, or may still come to hold, is outside the catalog.
// - A snapshot whose create's answer was lost may still be made by the array after it was
//   looked for: its record is kept (as unknown) until the settle time has passed since the
//   create was sent and the array does not say its creation is in progress.
// - A clone made by a map whose outcome was not recorded (a killed run, a catalog that could
//   not be saved) is found on the array and recorded with its snapshot, for unmap to remove.
#pragma once

#include <ctime>
#include <string>

#include "Session.h"

namespace kysnap {

struct SettleVerdict {
    bool mayStillAppear = false;
    std::time_t until = 0;  // when the settle time ends
    std::string why;        // said beside the record: why it is kept, or why it goes
};

// Whether the array may still make the snapshot of `record`, which it did not list when it
// was last asked (reconcile's "snapshot gone", or a delete answered "does not exist").
SettleVerdict settleVerdict(const Session& session, const SnapshotRecord& record);

// Looks on the array for the clone the plug-in made of `record`'s snapshot, when the catalog
// records no mount: records its path in `record.clone` and, when this host sees the clone's
// LUN, the device as its mounted device. Returns what was recorded ("" for nothing); a clone
// that cannot be looked for leaves the record as it is and adds a line to `problems`.
std::string adoptUnrecordedClone(Session& session, SnapshotRecord& record,
                                 std::vector<std::string>& problems);

}  // namespace kysnap
