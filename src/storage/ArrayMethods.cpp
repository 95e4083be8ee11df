// SPDX-License-Identifier: Apache-2.0
#include "ArrayMethods.h"

namespace {

using M = ArrayMethod;
using namespace trait;

constexpr uint32_t kDatasetListing = kOnlyLists | kListsDatasets;

constexpr ArrayMethodRow kRows[] = {
    {M::ListSystemProperties, "listSystemProperties", kOnlyLists},
    {M::ListLunsById, "listLunsById", kDatasetListing},
    {M::ListVolumes, "listVolumes", kDatasetListing},
    {M::ListShares, "listShares", kDatasetListing},
    {M::ListSharesByMountPoints, "listSharesByMountPoints", kDatasetListing | kListsInAnObject},
    {M::ListSnapshots, "listSnapshots", kDatasetListing},
    {M::ListFCInitiatorGroups, "listFCInitiatorGroups", kOnlyLists},
    {M::ListISCSIInitiatorGroups, "listISCSIInitiatorGroups", kOnlyLists},
    {M::ListInitiatorsInInitiatorGroup, "listInitiatorsInInitiatorGroup", kOnlyLists},
    {M::ListFCTargetGroups, "listFCTargetGroups", kOnlyLists},
    {M::ListISCSITargetGroups, "listISCSITargetGroups", kOnlyLists},
    {M::ListTargetsInTargetGroup, "listTargetsInTargetGroup", kOnlyLists},
    {M::GetInitiatorGroup, "getInitiatorGroup", 0},
    {M::InitiatorGroupExists, "initiatorGroupExists", 0},
    {M::CreateInitiatorGroup, "createInitiatorGroup", kCreatesObjects},
    {M::AddInitiatorToInitiatorGroup, "addInitiatorToInitiatorGroup", kCreatesObjects},
    {M::CreateIscsiInitiator, "createIscsiInitiator", kCreatesObjects},
    {M::CreateVolumeSnapshot, "createVolumeSnapshot", kCreatesObjects | kAnswersNothing},
    {M::CreateShareSnapshot, "createShareSnapshot", kCreatesObjects | kAnswersNothing},
    {M::CreateSnapshots, "createSnapshots", kCreatesObjects},
    {M::GetVolumeSnapshotCreationStatus, "getVolumeSnapshotCreationStatus", 0},
    {M::GetShareSnapshotCreationStatus, "getShareSnapshotCreationStatus", 0},
    {M::DeleteVolumeSnapshot, "deleteVolumeSnapshot", 0},
    {M::DeleteShareSnapshot, "deleteShareSnapshot", 0},
    {M::RollBackToVolumeSnapshot, "rollBackToVolumeSnapshot", kAnswersCommandStatus},
    {M::RollBackToShareSnapshot, "rollBackToShareSnapshot", kAnswersCommandStatus},
    {M::CloneVolumeSnapshot, "cloneVolumeSnapshot", kCreatesObjects | kAnswersNothing},
    {M::CloneShareSnapshot, "cloneShareSnapshot", kCreatesObjects | kAnswersNothing},
    {M::DeleteVolume, "deleteVolume", kAnswersNothing},
    {M::DeleteShare, "deleteShare", kAnswersNothing},
    {M::CreateMappingForVolume, "createMappingForVolume",
     kCreatesObjects | kChangesOnlyMappings | kAnswersCommandStatus},
    {M::DeleteMappingFromVolume, "deleteMappingFromVolume",
     kChangesOnlyMappings | kAnswersCommandStatus},
    {M::AddNFSNetworkACLOnShare, "addNFSNetworkACLOnShare",
     kCreatesObjects | kAnswersCommandStatus},
};

static_assert(sizeof kRows / sizeof kRows[0] == kArrayMethodCount,
              "every array method needs exactly one row");

constexpr bool inEnumOrder() {
    for (size_t i = 0; i < kArrayMethodCount; ++i) {
        if (static_cast<size_t>(kRows[i].method) != i || kRows[i].restName == nullptr ||
            kRows[i].restName[0] == '\0') {
            return false;
        }
    }
    return true;
}
static_assert(inEnumOrder(), "rows stand in enum order, each with its REST name");

constexpr bool both(uint32_t traits, uint32_t a, uint32_t b) {
    return (traits & a) != 0 && (traits & b) != 0;
}

// Traits that cannot hold together: a listing changes nothing and is kept, so it neither makes
// anything nor forgets anything; the shape and dataset traits describe listings only; a method
// answers nothing or a command status, not both.
constexpr bool consistent() {
    for (const ArrayMethodRow& row : kRows) {
        const uint32_t t = row.traits;
        const bool listingTraitOnNonListing =
            (t & (kListsInAnObject | kListsDatasets)) != 0 && (t & kOnlyLists) == 0;
        if (both(t, kOnlyLists, kCreatesObjects) || both(t, kOnlyLists, kChangesOnlyMappings) ||
            both(t, kOnlyLists, kAnswersNothing) || both(t, kOnlyLists, kAnswersCommandStatus) ||
            both(t, kAnswersNothing, kAnswersCommandStatus) || listingTraitOnNonListing) {
            return false;
        }
    }
    return true;
}
static_assert(consistent(), "a row holds traits that exclude each other");

}  // namespace

const ArrayMethodRow& methodRow(ArrayMethod method) {
    return kRows[static_cast<size_t>(method)];
}
