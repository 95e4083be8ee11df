// SPDX-License-Identifier: Apache-2.0
// Initiators and initiator groups, in the order the plug-in's initiator selection calls them.
#include <gtest/gtest.h>

#include "SimHarness.h"

namespace arraysim_test {
namespace {

class ArraySimInitiatorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.started()) << sim.startError(); }
    SimHarness sim;
};

TEST_F(ArraySimInitiatorTest, IscsiInitiatorIsRegisteredGroupedAndFoundAgain) {
    const std::string iqn = "iqn.1994-05.com.redhat:backup01";
    CallResult none = sim.call("getInitiatorGroup", "[\"" + iqn + "\"]");
    EXPECT_EQ(200, none.status);
    EXPECT_EQ("", none.body);

    EXPECT_EQ("0", sim.call("createIscsiInitiator", "[{\"initiatorName\":\"" + iqn + "\"}]").body);
    CallResult again = sim.call("createIscsiInitiator", "[{\"initiatorName\":\"" + iqn + "\"}]");
    EXPECT_NE(200, again.status);
    EXPECT_TRUE(contains(again.body, "already exist")) << again.body;

    EXPECT_EQ("false", sim.call("initiatorGroupExists", "[\"KY-backup01-ISCSI\"]").body);
    EXPECT_EQ("0", sim.call("createInitiatorGroup", "[\"KY-backup01-ISCSI\"]").body);
    EXPECT_EQ("true", sim.call("initiatorGroupExists", "[\"KY-backup01-ISCSI\"]").body);
    CallResult duplicate = sim.call("createInitiatorGroup", "[\"KY-backup01-ISCSI\"]");
    EXPECT_EQ(409, duplicate.status);

    EXPECT_EQ(
        "0",
        sim.call("addInitiatorToInitiatorGroup", "[\"" + iqn + "\",\"KY-backup01-ISCSI\"]").body);
    EXPECT_EQ("\"KY-backup01-ISCSI\"", sim.call("getInitiatorGroup", "[\"" + iqn + "\"]").body);
    EXPECT_EQ((std::vector<std::string>{iqn}),
              asNames(sim.call("listInitiatorsInInitiatorGroup", "[\"KY-backup01-ISCSI\"]").body));
    std::vector<std::string> iscsiGroups = asNames(sim.call("listISCSIInitiatorGroups", "").body);
    EXPECT_EQ((std::vector<std::string>{"esx-iscsi", "KY-backup01-ISCSI"}), iscsiGroups);
    EXPECT_EQ(std::vector<std::string>{"db-host-fc"},
              asNames(sim.call("listFCInitiatorGroups", "").body));
}

TEST_F(ArraySimInitiatorTest, FcInitiatorJoinsAGroupOnlyWhenLoggedInAndUngrouped) {
    ASSERT_EQ("0", sim.call("createInitiatorGroup", "[\"KY-backup02-FC\"]").body);
    // An empty group without a protocol is listed for both protocols.
    EXPECT_EQ(2u, asNames(sim.call("listFCInitiatorGroups", "").body).size());

    CallResult unknown =
        sim.call("addInitiatorToInitiatorGroup", "[\"wwn.2100AAAAAAAAAAAA\",\"KY-backup02-FC\"]");
    EXPECT_EQ(404, unknown.status);
    EXPECT_TRUE(contains(unknown.body, "Initiator") && contains(unknown.body, "does not exist"))
        << unknown.body;

    CallResult inOtherGroup =
        sim.call("addInitiatorToInitiatorGroup", "[\"wwn.21000024FF3D2A10\",\"KY-backup02-FC\"]");
    EXPECT_EQ(409, inOtherGroup.status);
    EXPECT_FALSE(contains(inOtherGroup.body, "does not exist")) << inOtherGroup.body;

    EXPECT_EQ("0", sim.call("addInitiatorToInitiatorGroup",
                            "[\"wwn.21000024FF4E3B20\",\"KY-backup02-FC\"]")
                       .body);
    EXPECT_EQ((std::vector<std::string>{"db-host-fc", "KY-backup02-FC"}),
              asNames(sim.call("listFCInitiatorGroups", "").body));
    EXPECT_EQ(std::vector<std::string>{"esx-iscsi"},
              asNames(sim.call("listISCSIInitiatorGroups", "").body));

    // A port that logs in later (control endpoint) can then join.
    ASSERT_EQ(200,
              sim.control("POST", "initiators", "{\"initiators\": [\"21:00:00:24:ff:aa:bb:01\"]}")
                  .status);
    EXPECT_EQ("0", sim.call("addInitiatorToInitiatorGroup",
                            "[\"wwn.21000024FFAABB01\",\"KY-backup02-FC\"]")
                       .body);
}

}  // namespace
}  // namespace arraysim_test
