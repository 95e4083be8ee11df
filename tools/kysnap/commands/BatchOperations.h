// SPDX-License-Identifier: Apache-2.0
// The rows of kysnap's batch operations: each says, as named fields, what its requests are
// about, how kysnap judges and records what the plug-in did and what it says about it. The
// code that runs a batch reads the row; no code outside the table looks at an operation's name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Dependents.h"
#include "PluginLibrary.h"
#include "Report.h"

namespace kysnap {

namespace batch {

// What the operands name, and where each request's array and metadata come from.
enum class Source {
    NamedDevice,      // a device (or NFS datastore) as named; its array is --array, the NFS
                      // server's array, or left to the plug-in's search by target
    PreparedDevice,   // a device the catalog records as prepared: one must exist
    CatalogSnapshot,  // a catalog snapshot (all of them when none is named)
};
// Whether each request gets a new snapshot id, recorded as "creating" before the call.
enum class Ids { None, MadeNew };
// What the operation does with a snapshot record whose creation was not confirmed.
enum class Unfinished {
    Refused,  // it names the commands that settle it
    Settled,  // taken: created when on the array, else removed (or kept while it may appear)
};
// How a request's success is told.
enum class Judged {
    ByStatus,         // the request reached the row's success status
    ByLunIdentified,  // the plug-in set the request's LUN id
    ByNoFailureLine,  // the plug-in logged no failure line for it (it sets no status)
};
// What a request's line shows besides its detail.
enum class Shown {
    Status,          // the status the plug-in set
    CatalogStatus,   // the status the catalog holds after the call (what reconcile settled)
    Identification,  // "identified" or not (the plug-in sets no status)
};
// How kysnap tells that the array did not hold a snapshot, to settle an unfinished record.
enum class Absence {
    UnlistedBeforeCall,  // the array's listing read before the call did not name it
    StatusUnavailable,   // the plug-in set "unavailable"
};
// What a request's outcome changes in the catalog.
enum class Records {
    Nothing,
    PreparedDevice,     // a device prepared: its record is written
    UnpreparedDevice,   // the device's record is dropped, whatever the outcome
    CreatedSnapshot,    // the "creating" record becomes created or failed
    SnapshotState,      // the snapshot's status, metadata and mount are updated
    DeletedSnapshot,    // as SnapshotState, and the record goes once deleted
    UnmountedSnapshot,  // as SnapshotState, and once unmapped no mount or clone is kept
};
// What kysnap checks on the host after the call.
enum class HostCheck {
    None,
    DevicesRemoved,  // the host removed the unmapped devices: one left is no success
};
// What a successful request's line adds.
enum class Detail {
    None,
    LunAndTarget,  // "LUN ... target ... array ..."
    Array,         // "on array ..."
    MountedCopy,   // "-> the mounted device"
    Presence,      // whether the snapshot is on the array
};
// Whether a clone the array holds for a snapshot whose mount no run recorded is looked for.
enum class Clones { Left, AdoptedWhenUnrecorded };
// Whether each request's outcome is appended to the audit log (AuditTrail.h): those that
// change what the array holds or shows to a host are.
enum class Audited { No, EachRequest };
// Whether the call may be wrapped in hooks and a freeze of filesystems (Quiescing.h), whose
// outcome each new snapshot's record keeps as its consistency.
enum class Quiesce { Never, AroundCall };

// A row; BatchOperations.cpp builds each one a named field at a time.
struct Operation {
    const char* name = "";
    Source source = Source::NamedDevice;
    KYSO::BatchFn PluginLibrary::*call = nullptr;
    Judged judged = Judged::ByStatus;
    int32_t successStatus = 0;  // with Judged::ByStatus
    Shown shown = Shown::Status;
    Ids ids = Ids::None;
    Unfinished unfinished = Unfinished::Refused;
    Absence absence = Absence::StatusUnavailable;
    Records records = Records::Nothing;
    HostCheck hostCheck = HostCheck::None;
    Detail detail = Detail::None;
    Clones clones = Clones::Left;
    // What the array destroys besides the request's own object: read and shown (for a revert
    // also confirmed) before the call; --dry-run says it and stops.
    std::optional<Destruction> destroys;
    UnrecordedWork unrecorded = UnrecordedWork::Done;  // what is said of work not recorded
    Audited audited = Audited::No;
    Quiesce quiesce = Quiesce::Never;

    bool onSnapshots() const { return source == Source::CatalogSnapshot; }
};

// The row of the batch command `name`; null when `name` is no batch command.
const Operation* findOperation(const std::string& name);

}  // namespace batch

}  // namespace kysnap
