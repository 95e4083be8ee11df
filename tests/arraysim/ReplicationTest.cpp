// SPDX-License-Identifier: Apache-2.0
// Replication configurations: seeded or set at run time, listed by getReplicationConfigList in
// their documented shape, never inherited by a clone, and refused when they name a snapshot the
// dataset does not have.
#include <gtest/gtest.h>

#include "Model.h"
#include "SeedLoader.h"
#include "SimHarness.h"

namespace arraysim_test {
namespace {

const std::string kOraData = "pool-a/Local/oracle/ora-data";

// The sample seed with ora-data (which holds the snapshots Auto-daily-20240301 and
// Manual-V-before-upgrade) replicated up to `last`.
std::string replicatedSeed(const std::string& last) {
    std::string seed = sampleSeedText();
    const std::string snapshots =
        "\"snapshots\": [\"Auto-daily-20240301\", \"Manual-V-before-upgrade\"]";
    const size_t at = seed.find(snapshots);
    EXPECT_NE(at, std::string::npos);
    seed.insert(at + snapshots.size(),
                ", \"replication\": [{\"name\": \"ora-to-dr\", \"remoteHost\": \"dr-array\", "
                "\"remotePool\": \"pool-dr\", \"remoteProject\": \"oracle-dr\", "
                "\"lastReplicatedSnapshot\": \"" +
                    last + "\"}]");
    return seed;
}

TEST(ArraySimReplicationTest, ConfigurationsAreListedWithTheLastSnapshotSent) {
    SimHarness sim(replicatedSeed("Auto-daily-20240301"));
    ASSERT_TRUE(sim.started()) << sim.startError();
    CallResult r = sim.call("getReplicationConfigList", "[\"" + kOraData + "\"]");
    ASSERT_EQ(200, r.status) << r.body;
    const jsonxx::Array configs = asArray(r.body);
    ASSERT_EQ(1u, configs.size()) << r.body;
    const jsonxx::Object& config = configs.get<jsonxx::Object>(0);
    EXPECT_EQ("ora-to-dr", config.get<std::string>("name"));
    EXPECT_EQ(kOraData, config.get<std::string>("sourceDataset"));
    EXPECT_EQ("dr-array", config.get<std::string>("remoteHost"));
    EXPECT_EQ("pool-dr", config.get<std::string>("remotePool"));
    EXPECT_EQ("oracle-dr", config.get<std::string>("remoteProject"));
    EXPECT_EQ("Auto-daily-20240301", config.get<std::string>("lastReplicatedSnapshot"));

    struct Case {
        const char* what;
        std::string body;
        int status;
        std::string answer;  // for an error, a part of it (a 200 answers an empty list)
    };
    const Case cases[] = {
        {"a volume without replication", "[\"pool-a/Local/oracle/ora-logs\"]", 200, "[]"},
        {"a project", "[\"pool-a/Local/oracle\"]", 200, "[]"},
        {"no such dataset", "[\"pool-a/Local/oracle/nothing\"]", 404, "does not exist"},
        {"no such project", "[\"pool-a/Local/nothing\"]", 404, "does not exist"},
        {"no parameter", "[]", 400, ""},
        {"a parameter that is no text", "[7]", 400, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CallResult answer = sim.call("getReplicationConfigList", c.body);
        EXPECT_EQ(c.status, answer.status) << answer.body;
        if (c.status == 200) {
            EXPECT_TRUE(asArray(answer.body).empty()) << answer.body;
        } else {
            EXPECT_TRUE(contains(answer.body, c.answer)) << answer.body;
        }
    }

    // A clone of a replicated volume is not replicated itself.
    ASSERT_EQ(200, sim.call("cloneVolumeSnapshot",
                            "[\"" + kOraData + "@Manual-V-before-upgrade\",\"copy\",false,false]")
                       .status);
    EXPECT_TRUE(asArray(sim.call("getReplicationConfigList", "[\"pool-a/Local/oracle/copy\"]").body)
                    .empty());
}

TEST(ArraySimReplicationTest, TheControlRouteReplacesAConfigurationAndChecksItsSnapshot) {
    SimHarness sim(replicatedSeed("Auto-daily-20240301"));
    ASSERT_TRUE(sim.started()) << sim.startError();
    const std::string set = "{\"datasetPath\": \"" + kOraData +
                            "\", \"replication\": [{\"name\": \"ora-to-dr\", "
                            "\"lastReplicatedSnapshot\": \"Manual-V-before-upgrade\"}]}";
    ASSERT_EQ(200, sim.control("POST", "replication", set).status);
    const jsonxx::Array configs =
        asArray(sim.call("getReplicationConfigList", "[\"" + kOraData + "\"]").body);
    ASSERT_EQ(1u, configs.size());
    EXPECT_EQ("Manual-V-before-upgrade",
              configs.get<jsonxx::Object>(0).get<std::string>("lastReplicatedSnapshot"));

    struct Case {
        const char* what;
        std::string body;
        int status;
    };
    const Case refused[] = {
        {"a snapshot the dataset does not have",
         "{\"datasetPath\": \"" + kOraData +
             "\", \"replication\": [{\"name\": \"x\", \"lastReplicatedSnapshot\": "
             "\"Manual-V-no\"}]}",
         404},
        {"no such dataset", "{\"datasetPath\": \"pool-a/Local/oracle/no\", \"replication\": []}",
         404},
        {"a configuration without a name",
         "{\"datasetPath\": \"" + kOraData + "\", \"replication\": [{}]}", 400},
        {"an unknown member",
         "{\"datasetPath\": \"" + kOraData +
             "\", \"replication\": [{\"name\": \"x\", \"y\": \"z\"}]}",
         400},
        {"no list", "{\"datasetPath\": \"" + kOraData + "\"}", 400},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.status, sim.control("POST", "replication", c.body).status);
    }
    // What was refused changed nothing; an empty list removes the configurations.
    EXPECT_EQ(1u,
              asArray(sim.call("getReplicationConfigList", "[\"" + kOraData + "\"]").body).size());
    ASSERT_EQ(200, sim.control("POST", "replication",
                               "{\"datasetPath\": \"" + kOraData + "\", \"replication\": []}")
                       .status);
    EXPECT_TRUE(
        asArray(sim.call("getReplicationConfigList", "[\"" + kOraData + "\"]").body).empty());
}

TEST(ArraySimReplicationTest, ASeedMayNotReplicateUpToASnapshotItDoesNotHave) {
    arraysim::Model model;
    nlohmann::json faults;
    std::string error;
    EXPECT_FALSE(arraysim::loadSeed(replicatedSeed("Manual-V-KY-9"), model, faults, error));
    EXPECT_TRUE(contains(error, "replication[0].lastReplicatedSnapshot")) << error;
    EXPECT_TRUE(arraysim::loadSeed(replicatedSeed(""), model, faults, error)) << error;
}

}  // namespace
}  // namespace arraysim_test
