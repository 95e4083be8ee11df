// SPDX-License-Identifier: Apache-2.0
// Fault injection and counters: what tests and benchmarks of the plug-in lean on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "Faults.h"
#include "SimHarness.h"

namespace arraysim_test {
namespace {

const std::string kSnapshotBody =
    "[{\"poolName\":\"pool-a\",\"projectName\":\"oracle\",\"name\":\"ora-logs\","
    "\"local\":\"true\"},\"KY-f\",false]";
const std::string kLogs = "[\"pool-a/Local/oracle/ora-logs\",\"\"]";

class ArraySimFaultCounterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.started()) << sim.startError(); }

    void addFault(const std::string& json) {
        CallResult r = sim.control("POST", "faults", json);
        ASSERT_EQ(200, r.status) << r.body;
    }
    size_t logsSnapshots() { return asNames(sim.call("listSnapshots", kLogs).body).size(); }
    double counter(const std::string& name) {
        return static_cast<double>(
            asObject(sim.control("GET", "counters").body).get<jsonxx::Number>(name));
    }

    SimHarness sim;
};

TEST_F(ArraySimFaultCounterTest, FailFaultAnswersItsStatusAndTextForCountCallsWithoutActing) {
    addFault(
        "{\"method\": \"createVolumeSnapshot\", \"action\": \"fail\", \"count\": 2, "
        "\"status\": 503, \"code\": \"EZEBI_BUSY\", \"message\": \"Access Denied\"}");
    for (int i = 0; i < 2; ++i) {
        CallResult r = sim.call("createVolumeSnapshot", kSnapshotBody);
        EXPECT_EQ(503, r.status);
        EXPECT_EQ("Access Denied", asObject(r.body).get<std::string>("message"));
        EXPECT_EQ(0u, logsSnapshots());
    }
    EXPECT_EQ(200, sim.call("createVolumeSnapshot", kSnapshotBody).status);
    EXPECT_EQ(1u, logsSnapshots());
    EXPECT_EQ(2, counter("faultsInjected"));
    EXPECT_TRUE(asObject(sim.control("GET", "faults").body).get<jsonxx::Array>("faults").empty());
}

TEST_F(ArraySimFaultCounterTest, LatencyFaultDelaysEveryCallUntilCleared) {
    addFault("{\"method\": \"*\", \"action\": \"latency\", \"ms\": 120, \"count\": -1}");
    for (int i = 0; i < 2; ++i) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(200, sim.call("listFCTargetGroups", "").status);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
    }
    ASSERT_EQ(200, sim.control("POST", "faults/clear").status);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(200, sim.call("listFCTargetGroups", "").status);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
}

TEST_F(ArraySimFaultCounterTest, ListingLatencyGrowsWithTheObjectsListed) {
    addFault(
        "{\"method\": \"listVolumes\", \"action\": \"latency\", \"perListedUs\": 150000, "
        "\"count\": -1}");
    struct Case {
        const char* poolAndProject;
        std::chrono::milliseconds atLeast;
        std::chrono::milliseconds below;
    };
    // The seed's project "oracle" holds two volumes; "files" holds shares only.
    const Case cases[] = {
        {R"("pool-a","oracle")", std::chrono::milliseconds(150), std::chrono::hours(1)},
        {R"("pool-b","files")", std::chrono::milliseconds(0), std::chrono::milliseconds(150)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.poolAndProject);
        const auto start = std::chrono::steady_clock::now();
        const CallResult r =
            sim.call("listVolumes", std::string("[") + c.poolAndProject + ",\"true\"]");
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_EQ(200, r.status) << r.body;
        const auto listed = static_cast<int>(asArray(r.body).size());
        EXPECT_GE(took, c.atLeast * std::max(listed, 1));
        EXPECT_LT(took, c.below);
    }
}

TEST_F(ArraySimFaultCounterTest, LatencyWithProcessCarriesTheCallOutBeforeWaiting) {
    addFault(
        "{\"method\": \"createVolumeSnapshot\", \"action\": \"latency\", \"ms\": 1500, "
        "\"process\": true}");
    std::atomic<bool> answered{false};
    std::thread late([&] {
        auto client = sim.newClient();
        httplib::Headers auth = {httplib::make_basic_authentication_header("admin", "tegile")};
        auto r = client->Post("/zebi/api/v2/createVolumeSnapshot", auth, kSnapshotBody,
                              "application/json");
        EXPECT_TRUE(r && r->status == 200);
        answered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(1u, logsSnapshots()) << "the snapshot exists while its answer is held back";
    EXPECT_FALSE(answered.load());
    late.join();
}

TEST_F(ArraySimFaultCounterTest, DroppedConnectionGivesNoAnswerAndMayStillAct) {
    addFault("{\"method\": \"listFCTargetGroups\", \"action\": \"drop\"}");
    EXPECT_EQ(0, sim.call("listFCTargetGroups", "").status);
    EXPECT_EQ(200, sim.call("listFCTargetGroups", "").status);

    addFault("{\"method\": \"createVolumeSnapshot\", \"action\": \"drop\", \"process\": true}");
    EXPECT_EQ(0, sim.call("createVolumeSnapshot", kSnapshotBody).status);
    EXPECT_EQ(1u, logsSnapshots());
    EXPECT_EQ(409, sim.call("createVolumeSnapshot", kSnapshotBody).status);
}

TEST_F(ArraySimFaultCounterTest, MalformedAndTruncatedAnswersFollowTheRealCall) {
    addFault(
        "[{\"method\": \"createVolumeSnapshot\", \"action\": \"malformed\"}, "
        "{\"method\": \"listSystemProperties\", \"action\": \"truncate\"}]");
    CallResult malformed = sim.call("createVolumeSnapshot", kSnapshotBody);
    EXPECT_EQ(200, malformed.status);
    jsonxx::Value parsed;
    EXPECT_FALSE(parsed.parse(malformed.body)) << malformed.body;
    EXPECT_EQ(1u, logsSnapshots());

    const std::string props = "[[\"ZEBI_APPLIANCE_MODEL\",\"ZEBI_API_VERSION\"]]";
    CallResult cut = sim.call("listSystemProperties", props);
    CallResult whole = sim.call("listSystemProperties", props);
    EXPECT_EQ(200, cut.status);
    EXPECT_LT(cut.body.size(), whole.body.size());
    EXPECT_EQ(0u, whole.body.find(cut.body));
    EXPECT_FALSE(parsed.parse(cut.body)) << cut.body;
}

TEST_F(ArraySimFaultCounterTest, RespondFaultAnswersTheGivenBody) {
    addFault(
        "{\"method\": \"getVolumeSnapshotCreationStatus\", \"action\": \"respond\", "
        "\"body\": \"{\\\"snapshotProgressStatus\\\": 2}\"}");
    CallResult r = sim.call("getVolumeSnapshotCreationStatus",
                            "[\"pool-a/Local/oracle/ora-data\",\"before-upgrade\"]");
    EXPECT_EQ(200, r.status);
    EXPECT_EQ(2, asObject(r.body).get<jsonxx::Number>("snapshotProgressStatus"));
    r = sim.call("getVolumeSnapshotCreationStatus",
                 "[\"pool-a/Local/oracle/ora-data\",\"before-upgrade\"]");
    EXPECT_EQ(0, asObject(r.body).get<jsonxx::Number>("snapshotProgressStatus"));
}

TEST_F(ArraySimFaultCounterTest, InvalidFaultIsRefusedAndSeedFaultsAreInstalled) {
    EXPECT_EQ(400, sim.control("POST", "faults", "{\"action\": \"explode\"}").status);
    EXPECT_EQ(400, sim.control("POST", "faults", "{\"action\": \"fail\", \"count\": 0}").status);

    std::string seed = sampleSeedText();
    seed.replace(seed.find("\"faults\": []"), 12,
                 "\"faults\": [{\"method\": \"listFCInitiatorGroups\", \"action\": \"fail\", "
                 "\"status\": 500, \"message\": \"seeded\"}]");
    SimHarness seeded(seed);
    ASSERT_TRUE(seeded.started()) << seeded.startError();
    CallResult r = seeded.call("listFCInitiatorGroups", "");
    EXPECT_EQ(500, r.status);
    EXPECT_TRUE(contains(r.body, "seeded"));
    EXPECT_EQ(200, seeded.call("listFCInitiatorGroups", "").status);
}

TEST_F(ArraySimFaultCounterTest, CountersSeeRequestsConnectionsAndHandshakes) {
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(200, sim.call("listFCTargetGroups", "").status);
    }
    sim.call("noSuchMethod", "[]");
    // A request to a method that may change the array counts as changing, refused or not.
    EXPECT_EQ(404, sim.call("deleteVolumeSnapshot", "[\"pool-a/Local/oracle/ora-data@x\",true]")
                       .status);
    jsonxx::Object counters = asObject(sim.control("GET", "counters").body);
    EXPECT_EQ(7, counters.get<jsonxx::Number>("requests"));
    EXPECT_EQ(1, counters.get<jsonxx::Number>("changingRequests"));
    EXPECT_EQ(5, counters.get<jsonxx::Object>("methods").get<jsonxx::Number>("listFCTargetGroups"));
    EXPECT_EQ(1, counters.get<jsonxx::Object>("failures").get<jsonxx::Number>("<unknown>"));
    EXPECT_EQ(1, counters.get<jsonxx::Number>("connections"));  // kept alive throughout
    EXPECT_EQ(1, counters.get<jsonxx::Number>("tlsHandshakes"));
    EXPECT_GT(counters.get<jsonxx::Number>("serviceNanoseconds"), 0);

    auto other = sim.newClient();
    ASSERT_TRUE(other->Get("/control/counters"));
    jsonxx::Object before = asObject(sim.control("POST", "counters/reset").body);
    EXPECT_EQ(2, before.get<jsonxx::Number>("connections"));
    EXPECT_EQ(2, before.get<jsonxx::Number>("tlsHandshakes"));
    EXPECT_EQ(0, counter("requests"));
    EXPECT_EQ(0, counter("changingRequests"));
    EXPECT_EQ(0, counter("connections"));
    EXPECT_EQ(0, counter("serviceNanoseconds"));
}

TEST_F(ArraySimFaultCounterTest, ConcurrentClientsSeeOneConsistentModel) {
    std::atomic<int> created{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            auto client = sim.newClient();
            httplib::Headers auth = {httplib::make_basic_authentication_header("admin", "tegile")};
            for (int i = 0; i < 20; ++i) {
                std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
                auto r = client->Post("/zebi/api/v2/createVolumeSnapshot", auth,
                                      "[{\"poolName\":\"pool-a\",\"projectName\":\"oracle\","
                                      "\"name\":\"ora-logs\",\"local\":\"true\"},\"" +
                                          name + "\",false]",
                                      "application/json");
                if (r && r->status == 200) {
                    ++created;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(80, created.load());
    EXPECT_EQ(80u, logsSnapshots());
    EXPECT_EQ(4, counter("connections") - 1);  // plus the harness's own client
}

TEST_F(ArraySimFaultCounterTest, StopCutsIdleKeptAliveConnectionsAtOnce) {
    ASSERT_EQ(200, sim.call("listFCTargetGroups", "").status);  // the connection stays open
    auto start = std::chrono::steady_clock::now();
    sim.simulator().stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(0, sim.call("listFCTargetGroups", "").status);
}

}  // namespace
}  // namespace arraysim_test
