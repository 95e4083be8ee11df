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
        const Consistency consistencies[] = {
            Consistency::CrashConsistent, Consistency::FilesystemFrozen, Consistency::HookQuiesced};
        record.consistency = consistencies[n % 3];
        if (state == RecordState::Created) {
            record.clone = "pool-a/Local/oracle/MNT_" + record.name;
        }
        catalog.snapshots.push_back(record);
    }
    catalog.lastName = catalog.snapshots.back().name;

    std::string written;
    std::string error;
    ASSERT_TRUE(catalog.toJson(written, error)) << error;
    // "/" is written as it is: a catalog is grepped for its device paths.
    EXPECT_NE(written.find("/dev/sim/"), std::string::npos) << written;
    Catalog read;
    ASSERT_TRUE(Catalog::fromJson(written, read, error)) << error << "\n" << written;
    std::string rewritten;
    ASSERT_TRUE(read.toJson(rewritten, error)) << error;
    EXPECT_EQ(rewritten, written);
    ASSERT_EQ(read.snapshots.size(), 4u);
    EXPECT_EQ(read.snapshots[0].state, RecordState::Creating);
    EXPECT_EQ(read.snapshots[1].state, RecordState::Failed);
    EXPECT_EQ(read.snapshots[2].clone, "pool-a/Local/oracle/MNT_KY-20250301T101500Z-3");
    EXPECT_EQ(read.snapshots[3].state, RecordState::Unknown);
    EXPECT_TRUE(read.snapshots[3].clone.empty());
    EXPECT_EQ(read.snapshots[0].status, -2147483647 - 1);
    for (size_t i = 0; i < read.snapshots.size(); ++i) {
        EXPECT_EQ(read.snapshots[i].consistency, catalog.snapshots[i].consistency) << i;
    }
}

// A snapshot's consistency is optional in the record (catalogs written before it was kept
// read as crash-consistent, which is what a snapshot without freeze or hook is), and strictly
// read when present.
TEST(KysnapCatalog, ConsistencyReadsAsWrittenAbsentAsCrashConsistentAndUnknownIsRefused) {
    struct Row {
        const char* scenario;
        const char* member;  // the record's "consistency" member as written, "" for none
        bool reads;
        Consistency expected;
        const char* error;  // with reads false: what the refusal says
    };
    const Row rows[] = {
        {"absent", "", true, Consistency::CrashConsistent, ""},
        {"crash-consistent written out", "\"crash-consistent\"", true, Consistency::CrashConsistent,
         ""},
        {"filesystem-frozen", "\"filesystem-frozen\"", true, Consistency::FilesystemFrozen, ""},
        {"hook-quiesced", "\"hook-quiesced\"", true, Consistency::HookQuiesced, ""},
        {"a value of no kind", "\"app-consistent\"", false, Consistency::CrashConsistent,
         "snapshots[0].consistency is \"app-consistent\", not crash-consistent"},
        {"a name in another case", "\"Filesystem-Frozen\"", false, Consistency::CrashConsistent,
         "snapshots[0].consistency is \"Filesystem-Frozen\""},
        {"not a string", "2", false, Consistency::CrashConsistent,
         "snapshots[0].consistency is not a string"},
        {"null", "null", false, Consistency::CrashConsistent,
         "snapshots[0].consistency is not a string"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        const std::string member =
            *row.member == '\0' ? "" : std::string(", \"consistency\": ") + row.member;
        const std::string text =
            "{\"format\": 2, \"targets\": {}, \"devices\": {}, \"lastName\": \"KY-1\", "
            "\"snapshots\": [{\"name\": \"KY-1\", \"device\": \"/dev/sim/A\", \"array\": \"arr\", "
            "\"metadata\": \"\", \"transMetadata\": \"\", \"status\": 12, \"mountedDevice\": \"\", "
            "\"created\": \"2025-03-01T10:15:00Z\", \"state\": \"created\"" +
            member + "}]}";
        Catalog read;
        std::string error;
        ASSERT_EQ(Catalog::fromJson(text, read, error), row.reads) << error;
        if (!row.reads) {
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
            EXPECT_TRUE(read.snapshots.empty());
            continue;
        }
        ASSERT_EQ(read.snapshots.size(), 1u);
        EXPECT_EQ(read.snapshots[0].consistency, row.expected);
        // A crash-consistent record is written as earlier kysnap wrote it, without the member.
        std::string written;
        ASSERT_TRUE(read.toJson(written, error)) << error;
        EXPECT_EQ(written.find("consistency") == std::string::npos,
                  row.expected == Consistency::CrashConsistent)
            << written;
    }
}

// Catalogs written before kysnap wrote JSON with nlohmann: "/" escaped, members in the old
// order, tab-indented.
TEST(KysnapCatalog, CatalogsOfEarlierKysnapReadAsTheyAre) {
    const std::string earlier =
        "{\n\t\"devices\": {\n\t\t\"\\/dev\\/sim\\/A\": {\n\t\t\t\"array\": \"arr\",\n"
        "\t\t\t\"metadata\": \"2.0|id|\",\n\t\t\t\"status\": 1,\n\t\t\t\"transMetadata\": \"\"\n"
        "\t\t}\n\t},\n\t\"format\": 2,\n\t\"lastName\": \"KY-20250301T101500Z-1\",\n"
        "\t\"snapshots\": [\n\t\t{\n\t\t\t\"array\": \"arr\",\n\t\t\t\"created\": "
        "\"2025-03-01T10:15:00Z\",\n\t\t\t\"device\": \"\\/dev\\/sim\\/A\",\n\t\t\t"
        "\"metadata\": \"\",\n\t\t\t\"mountedDevice\": \"\\/dev\\/sim\\/B\",\n\t\t\t"
        "\"name\": \"KY-20250301T101500Z-1\",\n\t\t\t\"state\": \"created\",\n\t\t\t"
        "\"status\": 12.0,\n\t\t\t\"transMetadata\": \"\"\n\t\t}\n\t],\n\t\"targets\": "
        "{\n\t\t\"wwn.1\": \"arr\"\n\t}\n}\n";
    Catalog read;
    std::string error;
    ASSERT_TRUE(Catalog::fromJson(earlier, read, error)) << error;
    ASSERT_EQ(read.devices.count("/dev/sim/A"), 1u);
    ASSERT_EQ(read.snapshots.size(), 1u);
    EXPECT_EQ(read.snapshots[0].mountedDevice, "/dev/sim/B");
    EXPECT_EQ(read.snapshots[0].status, 12);
    EXPECT_EQ(read.targets["wwn.1"], "arr");
}

// JSON holds only UTF-8: a text that is not is refused when saving, not written as a catalog
// that would not read back, nor changed.
TEST(KysnapCatalog, TextThatIsNotUtf8IsRefusedWhenWritten) {
    Catalog catalog;
    catalog.devices["/dev/sim/\xff"] = PreparedDevice{"arr", "", "", 0};
    std::string written;
    std::string error;
    EXPECT_FALSE(catalog.toJson(written, error));
    EXPECT_NE(error.find("not UTF-8"), std::string::npos) << error;
}

}  // namespace
}  // namespace kysnap
