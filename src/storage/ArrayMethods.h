// SPDX-License-Identifier: Apache-2.0
// Every array REST method the plug-in calls, and one row per method: its name in the URL and
// its traits, one named bit each (a row ORs them). How a call is sent, what it keeps or forgets
// of the array's earlier answers and how its answer is judged follow from its row alone;
// nothing outside the table compares method names. The table is checked at compile time to
// hold one row per method, in enum order, with no two traits that exclude each other.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ArrayMethod : uint8_t {
    ListSystemProperties,
    ListLunsById,
    ListVolumes,
    ListShares,
    ListSharesByMountPoints,
    ListSnapshots,
    ListFCInitiatorGroups,
    ListISCSIInitiatorGroups,
    ListInitiatorsInInitiatorGroup,
    ListFCTargetGroups,
    ListISCSITargetGroups,
    ListTargetsInTargetGroup,
    GetInitiatorGroup,
    InitiatorGroupExists,
    CreateInitiatorGroup,
    AddInitiatorToInitiatorGroup,
    CreateIscsiInitiator,
    CreateVolumeSnapshot,
    CreateShareSnapshot,
    CreateSnapshots,
    GetVolumeSnapshotCreationStatus,
    GetShareSnapshotCreationStatus,
    DeleteVolumeSnapshot,
    DeleteShareSnapshot,
    RollBackToVolumeSnapshot,
    RollBackToShareSnapshot,
    CloneVolumeSnapshot,
    CloneShareSnapshot,
    DeleteVolume,
    DeleteShare,
    CreateMappingForVolume,
    DeleteMappingFromVolume,
    AddNFSNetworkACLOnShare,
    Count,  // not a method: how many stand above; a new method goes before it, with its row
};

constexpr size_t kArrayMethodCount = static_cast<size_t>(ArrayMethod::Count);

// The traits of a method, one bit each. A method with none is sent as an ordinary call: it may
// be retried by the HTTP library, is never answered from the call's memory, makes the call
// forget every answer it remembers, and its answer is read by the method itself.
namespace trait {
// Makes something on the array (a snapshot, clone, mapping, access rule, group or initiator).
// Such a call must reach the array at most once: it goes on a fresh connection, which the HTTP
// library does not send a second time.
constexpr uint32_t kCreatesObjects = 1u << 0;
// Only lists what the array holds (volumes, shares, snapshots, groups, their members, the system
// properties) and changes nothing: within one call its answer may be given again for the same
// request, until the call asks the array for anything that may change it. Status queries are
// not listings: the call asks them again because it waits for a change.
constexpr uint32_t kOnlyLists = 1u << 1;
// A listing that answers with a JSON object (shares by mount point); other listings answer with
// a JSON array. Only an answer that parses as its shape is kept for the call.
constexpr uint32_t kListsInAnObject = 1u << 2;
// A listing of datasets (LUN ids, volumes, shares, snapshots): what a mapping cannot change, so
// the call keeps those answers across its mappings.
constexpr uint32_t kListsDatasets = 1u << 3;
// Changes only which initiators see a volume (a mapping made or removed): the call forgets the
// array's remembered answers except its dataset listings. A share's access list is not one:
// a share listing may show it.
constexpr uint32_t kChangesOnlyMappings = 1u << 4;
// Answers with nothing when it is done (the snapshot and clone creations, the clone deletions);
// any other answer leaves the call not known to be done (doneWithNothing).
constexpr uint32_t kAnswersNothing = 1u << 5;
// Answers with a bare command status number, 0 = done (commandStatusSucceeded).
constexpr uint32_t kAnswersCommandStatus = 1u << 6;
}  // namespace trait

// One method of the array.
struct ArrayMethodRow {
    ArrayMethod method;    // the row's own method: rows stand in enum order
    const char* restName;  // the method's name in the URL, as the array spells it
    uint32_t traits;       // trait:: bits

    bool has(uint32_t bit) const { return (traits & bit) != 0; }
};

// The row of `method`, which must be a method (not Count). The reference is to static data.
const ArrayMethodRow& methodRow(ArrayMethod method);
