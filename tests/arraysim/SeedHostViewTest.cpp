// SPDX-License-Identifier: Apache-2.0
// The seed loader and the host's view of mapped LUNs, checked without a server.
#include <gtest/gtest.h>

#include "HostView.h"
#include "Model.h"
#include "SeedLoader.h"
#include "SimHarness.h"

namespace arraysim_test {
namespace {

using arraysim::Model;

std::string textAt(const std::vector<unsigned char>& bytes, size_t offset, size_t length) {
    return std::string(bytes.begin() + offset, bytes.begin() + offset + length);
}

TEST(ArraySimSeedTest, SampleSeedDescribesBothProtocolsLargeVolumesAndAShare) {
    Model model;
    nlohmann::json faults;
    std::string error;
    ASSERT_TRUE(arraysim::loadSeed(sampleSeedText(), model, faults, error)) << error;
    EXPECT_EQ(2u, model.pools.size());
    int large = 0;
    bool fc = false;
    bool iscsi = false;
    bool share = false;
    for (const auto& entry : model.datasets) {
        const arraysim::Dataset& d = entry.second;
        large += d.isVolume() && d.size > (uint64_t{4} << 30);
        fc = fc || (d.isVolume() && d.protocol == "FC");
        iscsi = iscsi || (d.isVolume() && d.protocol == "iSCSI");
        share = share || !d.isVolume();
    }
    EXPECT_GE(large, 3);
    EXPECT_TRUE(fc && iscsi && share);
    EXPECT_NE(nullptr, model.findTargetGroup("default-fc-target-group"));
    EXPECT_NE(nullptr, model.findTargetGroup("default-pool-a-iscsi-target-group"));
    EXPECT_EQ("2.1", model.system.apiVersion);
    EXPECT_EQ(3u, model.mappings.size());
}

TEST(ArraySimSeedTest, InvalidSeedsNameTheFaultyPlace) {
    const std::string users = "\"users\": [{\"name\": \"a\", \"password\": \"b\"}]";
    const std::string pool =
        "\"pools\": [{\"name\": \"p\", \"projects\": [{\"name\": \"j\", \"volumes\": [";
    const struct {
        std::string seed;
        std::string place;
    } cases[] = {
        {"[]", "not a JSON object"},
        {"{}", "users"},
        {"{" + users + "," + pool + "{\"name\": \"v\", \"size\": 1, \"luId\": \"12\"}]}]}]}",
         "volumes[0].luId"},
        {"{" + users + "," + pool +
             "{\"name\": \"v\", \"size\": 1}, {\"name\": \"v\", "
             "\"size\": 1}]}]}]}",
         "repeated"},
        {"{" + users + "," + pool +
             "{\"name\": \"v\", \"size\": 1, \"originSnapshot\": "
             "\"p/Local/j/x@s\"}]}]}]}",
         "originSnapshot"},
        {"{" + users + "," + pool + "{\"name\": \"v\", \"size\": 1, \"protocol\": \"SAS\"}]}]}]}",
         "protocol"},
        {"{" + users + "," + pool +
             "{\"name\": \"v\", \"size\": 1, \"inquiryProduct\": \"ZEBI FC\"}]}]}]}",
         "volumes[0].inquiryProduct"},
        {"{" + users + "," + pool +
             "{\"name\": \"v\", \"size\": 1, \"inquiryProduct\": \"INTELLIFLASH-TOO-LONG\"}]}]}]}",
         "volumes[0].inquiryProduct"},
        {"{" + users +
             ", \"mappings\": [{\"datasetPath\": \"p/Local/j/v\", "
             "\"initiatorGroup\": \"g\", \"targetGroup\": \"t\"}]}",
         "mappings[0].datasetPath"},
    };
    for (const auto& c : cases) {
        Model model;
        nlohmann::json faults;
        std::string error;
        EXPECT_FALSE(arraysim::loadSeed(c.seed, model, faults, error)) << c.seed;
        EXPECT_TRUE(contains(error, c.place)) << error << " / " << c.seed;
    }
}

TEST(ArraySimSeedTest, MissingLunIdsAreGeneratedUniqueAndUpperCase) {
    const std::string seed =
        "{\"users\": [{\"name\": \"a\", \"password\": \"b\"}], \"system\": {\"serial\": "
        "\"abcdef01\"}, \"pools\": [{\"name\": \"p\", \"projects\": [{\"name\": \"j\", "
        "\"volumes\": [{\"name\": \"v1\", \"size\": 1}, {\"name\": \"v2\", \"size\": 1}]}]}]}";
    Model model;
    nlohmann::json faults;
    std::string error;
    ASSERT_TRUE(arraysim::loadSeed(seed, model, faults, error)) << error;
    const std::string a = model.findDataset("p/Local/j/v1")->luId;
    const std::string b = model.findDataset("p/Local/j/v2")->luId;
    EXPECT_TRUE(arraysim::isUpperHex32(a)) << a;
    EXPECT_NE(a, b);
    EXPECT_EQ("600144F0ABCDEF01", a.substr(0, 16));
}

TEST(ArraySimHostViewTest, InquiryDataIsLaidOutAsTheHostReadsIt) {
    std::vector<unsigned char> standard =
        arraysim::standardInquiry(arraysim::SystemInfo(), "INTELLIFLASH");
    ASSERT_EQ(255u, standard.size());
    EXPECT_EQ("TEGILE  ", textAt(standard, 8, 8));
    EXPECT_EQ("INTELLIFLASH    ", textAt(standard, 16, 16));
    // A LUN made before IntelliFlash 3.x keeps its older product name.
    EXPECT_EQ("ZEBI-FC         ",
              textAt(arraysim::standardInquiry(arraysim::SystemInfo(), "ZEBI-FC"), 16, 16));

    const std::string target = "iqn.2012-02.com.tegile:pool-a-target";
    std::vector<unsigned char> page =
        arraysim::deviceIdentificationPage("600144F0C8A7B3D1E45F4A2B00010001", target, "ISCSI");
    ASSERT_EQ(255u, page.size());
    EXPECT_EQ(0x83, page[1]);
    EXPECT_EQ((std::vector<unsigned char>{0x60, 0x01, 0x44, 0xF0, 0xC8, 0xA7, 0xB3, 0xD1, 0xE4,
                                          0x5F, 0x4A, 0x2B, 0x00, 0x01, 0x00, 0x01}),
              std::vector<unsigned char>(page.begin() + 8, page.begin() + 24));
    const size_t n = page[27];
    EXPECT_GT(n, target.size());
    EXPECT_EQ(0u, n % 4);
    EXPECT_EQ(target, std::string(reinterpret_cast<const char*>(&page[28])));

    // A name too long for the page is cut so that it still ends inside the 255 bytes.
    std::vector<unsigned char> longName = arraysim::deviceIdentificationPage(
        "600144F0C8A7B3D1E45F4A2B00010001", std::string(400, 'x'), "FC");
    EXPECT_LE(28u + longName[27], 255u);
}

TEST(ArraySimHostViewTest, MappingAppearsOnlyAfterItsHiddenQueriesAndOnlyToItsGroup) {
    SimHarness sim;
    ASSERT_TRUE(sim.started()) << sim.startError();
    ASSERT_EQ(200, sim.control("POST", "visibility",
                               "{\"datasetPath\": \"pool-a/Local/vmware/esx-ds1\", "
                               "\"queries\": 2}")
                       .status);
    const std::string esx = "{\"initiators\": [\"IQN.1998-01.com.vmware:ESX01-4f5a2b\"]}";
    for (int hidden : {1, 1, 0}) {
        jsonxx::Object view = asObject(sim.control("POST", "hostview", esx).body);
        EXPECT_EQ(hidden, view.get<jsonxx::Number>("hiddenMappings"));
        EXPECT_EQ(1u - hidden, view.get<jsonxx::Array>("luns").size());
    }
    jsonxx::Object lun = asObject(sim.control("POST", "hostview", esx).body)
                             .get<jsonxx::Array>("luns")
                             .get<jsonxx::Object>(0);
    EXPECT_EQ("600144F0C8A7B3D1E45F4A2B00020001", lun.get<std::string>("luId"));
    EXPECT_EQ("iqn.2012-02.com.tegile:pool-a-target", lun.get<std::string>("targetId"));
    const std::string page = lun.get<std::string>("page83");
    EXPECT_EQ(510u, page.size());
    EXPECT_EQ("600144f0c8a7b3d1e45f4a2b00020001", page.substr(16, 32));

    // New mappings follow the configured delay.
    ASSERT_EQ(200, sim.control("POST", "config", "{\"mappingVisibilityDelay\": 1}").status);
    ASSERT_EQ(200, sim.call("createMappingForVolume",
                            "[\"pool-a/Local/vmware/esx-small\",\"esx-iscsi\","
                            "\"default-pool-a-iscsi-target-group\",-1]")
                       .status);
    EXPECT_EQ(
        1u, asObject(sim.control("POST", "hostview", esx).body).get<jsonxx::Array>("luns").size());
    EXPECT_EQ(
        2u, asObject(sim.control("POST", "hostview", esx).body).get<jsonxx::Array>("luns").size());
    EXPECT_EQ(6,
              asObject(sim.control("GET", "counters").body).get<jsonxx::Number>("hostViewQueries"));
}

}  // namespace
}  // namespace arraysim_test
