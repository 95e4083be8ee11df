// Clients that send what no array client should: patterns built to crash or freeze a regular
// expression engine. Every one gets a
// prompt, accurate, valid answer, and the simulator goes on serving.
#include <gtest/gtest.h>

#include <chrono>

#include "SimHarness.h"

namespace arraysim_test {
namespace {

using Clock = std::chrono::steady_clock;

struct Hostile {
    std::string what;
    std::string request;
    int status;
    std::string fragment;  // in the answer's body
};

const std::string kLogs = "pool-a/Local/oracle/ora-logs";

std::vector<Hostile> hostileRequests() {
    const std::string nested = std::string(50000, '(') + "a" + std::string(50000, ')');
    return {
        {"pattern of 50,000 nested groups",
         rawApiPost("listSnapshots", "[\"" + kLogs + "\",\"" + nested + "\"]"), 400, "at most 1024"},
        {"(a+)+b against a 45-character name",
         rawApiPost("listSnapshots", "[\"" + kLogs + "\",\"(a+)+b\"]"), 200, "["},
        {"pattern that does not compile", rawApiPost("listSnapshots", "[\"" + kLogs + "\",\"(\"]"),
         400, "invalid name pattern"},
    };
}

TEST(ArraySimHostileInputTest, EachHostileRequestGetsAPromptAccurateAnswer) {
    SimHarness sim;
    ASSERT_TRUE(sim.started()) << sim.startError();
    ASSERT_EQ(200, sim.call("createVolumeSnapshot",
                            "[{\"poolName\":\"pool-a\",\"projectName\":\"oracle\",\"name\":"
                            "\"ora-logs\",\"local\":\"true\"},\"" +
                                std::string(45, 'a') + "\",false]")
                       .status);
    for (const Hostile& hostile : hostileRequests()) {
        SCOPED_TRACE(hostile.what);
        const auto start = Clock::now();
        RawAnswer answer = sim.raw(hostile.request);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(hostile.status, answer.status) << answer.headers << "\n" << answer.body;
        EXPECT_TRUE(contains(answer.body, hostile.fragment)) << answer.body;
        for (char c : answer.body) {
            ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "not plain ASCII: " << answer.body;
        }
        // Still serving.
        EXPECT_EQ(200, sim.call("listFCTargetGroups", "").status);
    }
}

}  // namespace
}  // namespace arraysim_test
