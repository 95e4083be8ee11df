// SPDX-License-Identifier: Apache-2.0
// The array method table: every method has its row under its own REST name, and each trait
// holds exactly the methods pinned here, so a trait dropped from a row (or given to one more)
// fails instead of silently changing how a call is sent.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "ArrayMethods.h"

namespace {

using Names = std::set<std::string>;

// The REST names the plug-in sends, as the array spells them in the URL.
const Names kAllMethods = {
    "listSystemProperties",
    "listLunsById",
    "listVolumes",
    "listShares",
    "listSharesByMountPoints",
    "listSnapshots",
    "listFCInitiatorGroups",
    "listISCSIInitiatorGroups",
    "listInitiatorsInInitiatorGroup",
    "listFCTargetGroups",
    "listISCSITargetGroups",
    "listTargetsInTargetGroup",
    "getInitiatorGroup",
    "initiatorGroupExists",
    "createInitiatorGroup",
    "addInitiatorToInitiatorGroup",
    "createIscsiInitiator",
    "createVolumeSnapshot",
    "createShareSnapshot",
    "createSnapshots",
    "getVolumeSnapshotCreationStatus",
    "getShareSnapshotCreationStatus",
    "deleteVolumeSnapshot",
    "deleteShareSnapshot",
    "rollBackToVolumeSnapshot",
    "rollBackToShareSnapshot",
    "cloneVolumeSnapshot",
    "cloneShareSnapshot",
    "deleteVolume",
    "deleteShare",
    "createMappingForVolume",
    "deleteMappingFromVolume",
    "addNFSNetworkACLOnShare",
};

struct TraitRow {
    const char* trait;
    uint32_t bit;
    Names methods;  // exactly the methods that have it
};

const TraitRow kTraits[] = {
    {"creates objects (sent at most once)",
     trait::kCreatesObjects,
     {"createVolumeSnapshot", "createShareSnapshot", "createSnapshots", "cloneVolumeSnapshot",
      "cloneShareSnapshot", "createMappingForVolume", "addNFSNetworkACLOnShare",
      "createInitiatorGroup", "addInitiatorToInitiatorGroup", "createIscsiInitiator"}},
    {"only lists (answer may be given again within the call)",
     trait::kOnlyLists,
     {"listSystemProperties", "listLunsById", "listVolumes", "listShares",
      "listSharesByMountPoints", "listSnapshots", "listFCInitiatorGroups",
      "listISCSIInitiatorGroups", "listInitiatorsInInitiatorGroup", "listFCTargetGroups",
      "listISCSITargetGroups", "listTargetsInTargetGroup"}},
    {"lists in a JSON object", trait::kListsInAnObject, {"listSharesByMountPoints"}},
    {"lists datasets (kept across mappings)",
     trait::kListsDatasets,
     {"listLunsById", "listVolumes", "listShares", "listSharesByMountPoints", "listSnapshots"}},
    {"changes only mappings",
     trait::kChangesOnlyMappings,
     {"createMappingForVolume", "deleteMappingFromVolume"}},
    {"answers nothing when done",
     trait::kAnswersNothing,
     {"createVolumeSnapshot", "createShareSnapshot", "cloneVolumeSnapshot", "cloneShareSnapshot",
      "deleteVolume", "deleteShare"}},
    {"answers a command status",
     trait::kAnswersCommandStatus,
     {"createMappingForVolume", "deleteMappingFromVolume", "addNFSNetworkACLOnShare",
      "rollBackToVolumeSnapshot", "rollBackToShareSnapshot"}},
};

TEST(ArrayMethodTable, EveryMethodHasItsOwnRowUnderItsOwnRestName) {
    Names names;
    for (size_t i = 0; i < kArrayMethodCount; ++i) {
        const auto method = static_cast<ArrayMethod>(i);
        const ArrayMethodRow& row = methodRow(method);
        EXPECT_EQ(row.method, method) << "row " << i << " stands out of enum order";
        ASSERT_NE(row.restName, nullptr) << "method " << i;
        EXPECT_TRUE(names.insert(row.restName).second) << row.restName << " has two rows";
    }
    EXPECT_EQ(names, kAllMethods);
}

TEST(ArrayMethodTable, EachTraitHoldsExactlyItsPinnedMethods) {
    uint32_t known = 0;
    for (const TraitRow& expected : kTraits) {
        SCOPED_TRACE(expected.trait);
        known |= expected.bit;
        Names having;
        for (size_t i = 0; i < kArrayMethodCount; ++i) {
            const ArrayMethodRow& row = methodRow(static_cast<ArrayMethod>(i));
            if (row.has(expected.bit)) {
                having.insert(row.restName);
            }
        }
        EXPECT_EQ(having, expected.methods);
    }
    // A trait added to the table without a row here would go unpinned.
    for (size_t i = 0; i < kArrayMethodCount; ++i) {
        const ArrayMethodRow& row = methodRow(static_cast<ArrayMethod>(i));
        EXPECT_EQ(row.traits & ~known, 0u) << row.restName << " has a trait this test does not pin";
    }
}

}  // namespace
