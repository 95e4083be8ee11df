// SPDX-License-Identifier: Apache-2.0
// Dependents: what the array destroys along with a snapshot, found before kysnap asks for it.
//
// The plug-in asks the array to take a snapshot's dependents with it, as the array documents:
// a snapshot delete destroys the snapshot's clones first, and a rollback destroys every newer
// snapshot of the source with their clones. A clone may be mapped to a host, so this is the one
// place that stands between a mistaken command and a LUN vanishing under a host. It reads the
// array's listings (the project's datasets, the source's snapshots) and the catalog, names
// what would be lost, and says what a host still uses, with the command that frees it.
//
// Clones are recognised by the name the plug-in gives them ("MNT_" + snapshot id, in the
// source's pool and project) and, where the array's listing reports it, by their origin
// snapshot ("originSnapshot"). The source's snapshots are taken as newer when the array lists
// them after the snapshot (it lists them in creation order), or when the catalog recorded them
// later.
#pragma once

#include <string>
#include <vector>

#include "ArrayDirectory.h"
#include "Catalog.h"
#include "SourceListings.h"

namespace kysnap {

enum class Destruction {
    Delete,  // the snapshot and its clones
    Revert,  // the data written since, the newer snapshots and their clones
};

struct LostSnapshot {
    std::string path;       // dataset@name on the array
    std::string id;         // the catalog's snapshot id ("" when the catalog has none)
    std::string mountedAs;  // the host device the catalog records for its mount ("": none)
};

struct LostClone {
    std::string path;       // the clone's dataset path
    std::string luId;       // a volume clone's LUN id, as the array lists it
    std::string origin;     // the snapshot it was made from
    std::string id;         // the catalog snapshot the plug-in made it for ("": none)
    std::string mountedAs;  // as the catalog records it ("": not recorded)
    bool pluginMade = false;
};

struct Dependents {
    SnapshotSource source;
    std::string snapshotPath;
    bool snapshotListed = false;      // the array lists the snapshot itself
    std::string mountedAs;            // the snapshot's own mount, as the catalog records it
    std::vector<LostSnapshot> newer;  // revert: oldest first
    std::vector<LostClone> clones;    // of the snapshot (delete) or of the newer ones (revert)
    // What a host uses that the call would destroy, each with the command that frees it. Any
    // of these refuses the call; no option overrides them.
    std::vector<std::string> blocks;
};

// Reads what `destruction` of `record`'s snapshot on `array` would destroy. A delete is
// blocked by the snapshot's own mount and by any clone of it (a clone kysnap did not make
// included: whether a host uses it cannot be seen from here). A revert is blocked by a newer
// snapshot's mount and by a clone the plug-in made of a newer snapshot (it exists to be mapped
// to a host); other clones of newer snapshots are lost with them. False with `error` set when
// the array cannot be asked or answers what cannot be read: nothing is then known to be safe.
bool findDependents(const Catalog& catalog, const ArrayAccess& array, const SnapshotRecord& record,
                    Destruction destruction, Dependents& found, std::string& error);

// The same for a delete, from listings already read: `names`, the snapshots the array lists for
// the record's source, and `datasets`, its project's datasets (SourceListings.h). For a caller
// that judges many snapshots of one source with one listing of each. False with `error` set when
// the record's metadata does not say where its source is.
bool dependentsOfDelete(const Catalog& catalog, const std::string& arrayName,
                        const SnapshotRecord& record, const std::vector<std::string>& names,
                        const nlohmann::json& datasets, Dependents& found, std::string& error);

// The clone the plug-in made of snapshot `id` of `source` ("MNT_" + id in the source's pool and
// project), with its LUN id (empty for a share). False with `error` empty when there is none,
// with `error` set when the array cannot be asked.
bool pluginClone(const ArrayAccess& array, const SnapshotSource& source, const std::string& id,
                 std::string& path, std::string& luId, std::string& error);

// One line per loss and block, as shown before a delete or revert (no trailing newline).
std::vector<std::string> describeDependents(const Dependents& found, Destruction destruction);

}  // namespace kysnap
