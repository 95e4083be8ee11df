// SPDX-License-Identifier: Apache-2.0
// The catalog's own reading of what it writes: the strict reader must never refuse a catalog
// kysnap wrote, whatever the texts in it hold.
#include <gtest/gtest.h>

#include "Catalog.h"

namespace kysnap {
namespace {

TEST(KysnapCatalog, EverythingItWritesReadsBackUnchanged) {
    Catalog catalog;
    catalog.targets["wwn.2100001B32A1B2C3"] = "arr";
    catalog.devices["nfs:10.0.0.5:/export/a,b}"] =
        PreparedDevice{"arr", "{\"META_DATA_VERSION\":\"2.0\",\"x\":\"}]\\\\\"}", "", 1};
    const RecordState states[] = {RecordState::Creating, RecordState::Failed, RecordState::Created,
                                  RecordState::Unknown};
    int n = 0;
    for (const RecordState state : states) {
        SnapshotRecord record;
        record.name = "KY-20250301T101500Z-" + std::to_string(++n);
        record.device = "/dev/sim/\"quoted\" \\ {braces} [brackets] \xc3\xa9";
        record.array = "arr";
        record.metadata = "2.0|id|ora-data|pool-a|oracle|Local|" + record.name + "|";
        record.transMetadata = "tab\there, newline\n, slash /";
        record.status = n == 1 ? -2147483647 - 1 : 2147483647;
        record.created = "2025-03-01T10:15:00Z";
        record.state = state;
        if (state == RecordState::Created) {
            record.clone = "pool-a/Local/oracle/MNT_" + record.name;
        }
        catalog.snapshots.push_back(record);
    }
    catalog.lastName = catalog.snapshots.back().name;

    const std::string written = catalog.toJson();
    Catalog read;
    std::string error;
    ASSERT_TRUE(Catalog::fromJson(written, read, error)) << error << "\n" << written;
    EXPECT_EQ(read.toJson(), written);
    ASSERT_EQ(read.snapshots.size(), 4u);
    EXPECT_EQ(read.snapshots[0].state, RecordState::Creating);
    EXPECT_EQ(read.snapshots[1].state, RecordState::Failed);
    EXPECT_EQ(read.snapshots[2].clone, "pool-a/Local/oracle/MNT_KY-20250301T101500Z-3");
    EXPECT_EQ(read.snapshots[3].state, RecordState::Unknown);
    EXPECT_TRUE(read.snapshots[3].clone.empty());
    EXPECT_EQ(read.snapshots[0].status, -2147483647 - 1);
}

}  // namespace
}  // namespace kysnap
