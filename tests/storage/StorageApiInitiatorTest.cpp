// SPDX-License-Identifier: Apache-2.0
#include "ArrayApiFixture.h"
#include "PropertyNames.h"

namespace {

using InitiatorGroups = ArrayApiFixture;

TEST_F(InitiatorGroups, InitiatorListedInTwoGroupsMapsToTheLastOne) {
    map[DEVICE_MAPPING_PROTOCOL] = "FC";
    reply("listFCInitiatorGroups", 200, R"(["A","B"])");
    reply("listInitiatorsInInitiatorGroup", 200, R"(["wwn.1","wwn.2"])");
    reply("listInitiatorsInInitiatorGroup", 200, R"(["wwn.2"])");
    std::map<std::string, std::string> groupOf;
    EXPECT_EQ(api->getInitiators(map, groupOf), COPY_SUCCESS);
    EXPECT_EQ(groupOf, (std::map<std::string, std::string>{{"wwn.1", "A"}, {"wwn.2", "B"}}));
    EXPECT_EQ(bodyOf("listInitiatorsInInitiatorGroup", 0), R"(["A"])");

    map[DEVICE_MAPPING_PROTOCOL] = "ISCSI";
    reply("listISCSIInitiatorGroups", 500, "boom");
    EXPECT_EQ(api->getInitiators(map, groupOf), COPY_FAILED);
}

TEST_F(InitiatorGroups, GroupOfAnInitiatorIsReadAsBareTextWithoutItsQuotes) {
    map[DEVICE_MAPPING_INITIATOR_NAME] = "iqn.1998-01.com.vmware:h1";
    reply("getInitiatorGroup", 200, "\"KY-h1-ISCSI\"");
    EXPECT_EQ(api->getInitiatorGroup(map), COPY_SUCCESS);
    EXPECT_EQ(map[DEVICE_MAPPING_INITIATOR_GROUP_NAME], "KY-h1-ISCSI");
    reply("getInitiatorGroup", 200, "plain");
    EXPECT_EQ(api->getInitiatorGroup(map), COPY_SUCCESS);
    EXPECT_EQ(map[DEVICE_MAPPING_INITIATOR_GROUP_NAME], "plain");
}

TEST_F(InitiatorGroups, NoGroupNameIsNotFoundEvenWhenQuoted) {
    map[DEVICE_MAPPING_INITIATOR_NAME] = "iqn.x";
    map[DEVICE_MAPPING_INITIATOR_GROUP_NAME] = "untouched";
    for (const char* answer : {"", "\"\""}) {
        reply("getInitiatorGroup", 200, answer);
        EXPECT_EQ(api->getInitiatorGroup(map), COPY_NOT_FOUND) << answer;
        EXPECT_EQ(map[DEVICE_MAPPING_INITIATOR_GROUP_NAME], "untouched") << answer;
    }
}

TEST_F(InitiatorGroups, HostGroupIsCreatedOnlyWhenTheArrayHasNone) {
    map[DEVICE_MAPPING_HOST_NAME] = "host1";
    map[DEVICE_MAPPING_PROTOCOL] = "ISCSI";
    reply("initiatorGroupExists", 200, "true");
    EXPECT_EQ(api->createInitiatorGroup(map), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("initiatorGroupExists"), R"(["KY-host1-ISCSI"])");
    EXPECT_EQ(callsTo("createInitiatorGroup"), 0u);
    EXPECT_EQ(map[DEVICE_MAPPING_INITIATOR_GROUP_NAME], "KY-host1-ISCSI");

    reply("initiatorGroupExists", 200, "false");
    reply("createInitiatorGroup", 200, "0");
    EXPECT_EQ(api->createInitiatorGroup(map), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("createInitiatorGroup"), R"(["KY-host1-ISCSI"])");

    map.erase(DEVICE_MAPPING_INITIATOR_GROUP_NAME);
    reply("initiatorGroupExists", 200, "false");
    reply("createInitiatorGroup", 200, "1");
    EXPECT_EQ(api->createInitiatorGroup(map), COPY_FAILED);
    EXPECT_EQ(map.count(DEVICE_MAPPING_INITIATOR_GROUP_NAME), 0u);
    EXPECT_TRUE(request.logged("inititaor group create failed [KY-host1-ISCSI]", 2));
}

TEST_F(InitiatorGroups, AddingAnInitiatorTheArrayDoesNotKnowIsNotFound) {
    map[DEVICE_MAPPING_INITIATOR_NAME] = "wwn.A";
    map[DEVICE_MAPPING_INITIATOR_GROUP_NAME] = "KY-host1-FC";
    reply("addInitiatorToInitiatorGroup", 200, "0");
    EXPECT_EQ(api->addInitiatorToGroup(map), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("addInitiatorToInitiatorGroup"), R"(["wwn.A","KY-host1-FC"])");
    reply("addInitiatorToInitiatorGroup", 404, "Initiator wwn.A does not exist");
    EXPECT_EQ(api->addInitiatorToGroup(map), COPY_NOT_FOUND);
    reply("addInitiatorToInitiatorGroup", 500, "group is locked");
    EXPECT_EQ(api->addInitiatorToGroup(map), COPY_FAILED);
    reply("addInitiatorToInitiatorGroup", 200, "0\n");
    EXPECT_EQ(api->addInitiatorToGroup(map), COPY_FAILED) << "bare answers compare exactly";
}

TEST_F(InitiatorGroups, IscsiInitiatorAlreadyRegisteredCountsAsRegistered) {
    map[DEVICE_MAPPING_INITIATOR_NAME] = "iqn.1998-01.com.vmware:h1";
    reply("createIscsiInitiator", 200, "0");
    EXPECT_EQ(api->createISCSIInitiator(map), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("createIscsiInitiator"), R"([{"initiatorName":"iqn.1998-01.com.vmware:h1"}])");
    reply("createIscsiInitiator", 409, "Initiator already exist");
    EXPECT_EQ(api->createISCSIInitiator(map), COPY_SUCCESS);
    reply("createIscsiInitiator", 200, "7");
    EXPECT_EQ(api->createISCSIInitiator(map), COPY_FAILED);
    reply("createIscsiInitiator", 500, "boom");
    EXPECT_EQ(api->createISCSIInitiator(map), COPY_FAILED);
}

}  // namespace
