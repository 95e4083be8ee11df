// SPDX-License-Identifier: Apache-2.0
// The answers of the array as its API documentation gives them, one call after the other on
// one simulator: bare command statuses, empty answers, the deletion lists, the LUN-status
// objects, properties in the order asked, GET for the listings without parameters, and the
// error model with the array's own codes.
#include <gtest/gtest.h>

#include <functional>

#include "SimHarness.h"

namespace arraysim_test {
namespace {

using Check = std::function<void(const std::string& body)>;

struct Form {
    std::string what;
    std::string httpMethod;
    std::string method;
    std::string body;
    int status;
    Check check;
};

Check exactly(const std::string& expected) {
    return [expected](const std::string& body) { EXPECT_EQ(expected, body); };
}

// {"code", "message", "details": text, "extendedData": {"EX_CAUSE_MESSAGE": text}}
Check errorModel(const std::string& code, const std::string& fragment) {
    return [code, fragment](const std::string& body) {
        jsonxx::Object error = asObject(body);
        EXPECT_EQ(code, textOf(error, "code")) << body;
        EXPECT_TRUE(contains(textOf(error, "message"), fragment)) << body;
        EXPECT_FALSE(textOf(error, "details").empty()) << body;
        ASSERT_TRUE(error.has<jsonxx::Object>("extendedData")) << body;
        EXPECT_EQ(textOf(error, "message"),
                  textOf(error.get<jsonxx::Object>("extendedData"), "EX_CAUSE_MESSAGE"))
            << body;
    };
}

Check deletion(const std::vector<std::string>& deleted, const std::vector<std::string>& failed,
               int status) {
    return [=](const std::string& body) {
        jsonxx::Object answer = asObject(body);
        ASSERT_TRUE(answer.has<jsonxx::Array>("deletedList") &&
                    answer.has<jsonxx::Array>("failedToDeleteList"))
            << body;
        EXPECT_EQ(deleted, asNames(answer.get<jsonxx::Array>("deletedList").json())) << body;
        EXPECT_EQ(failed, asNames(answer.get<jsonxx::Array>("failedToDeleteList").json())) << body;
        EXPECT_EQ(status, numberOf(answer, "snapshotDeletionStatus", -1)) << body;
    };
}

Check names(const std::vector<std::string>& expected) {
    return [expected](const std::string& body) { EXPECT_EQ(expected, asNames(body)); };
}

const std::string kOraData = "pool-a/Local/oracle/ora-data";
const std::string kOraLogs = "pool-a/Local/oracle/ora-logs";
const std::string kHome = "pool-b/Local/files/home";
const std::string kVolumeClone = "pool-a/Local/oracle/MNT_f1";
const std::string kShareClone = "pool-b/Local/files/MNT_f1";

std::string volumeSource(const std::string& name) {
    return "[{\"poolName\":\"pool-a\",\"projectName\":\"oracle\",\"name\":\"" + name +
           "\",\"local\":\"true\"},";
}

std::vector<Form> forms() {
    const std::string homeSource =
        "[{\"datasetPath\":\"" + kHome +
        "\",\"local\":true,\"name\":\"home\",\"poolName\":\"pool-b\",\"projectName\":\"files\"},";
    std::vector<Form> table = {
        {"volume snapshot: nothing", "POST", "createVolumeSnapshot",
         volumeSource("ora-data") + "\"KY-f1\",false]", 200, exactly("")},
        {"share snapshot: nothing", "POST", "createShareSnapshot", homeSource + "\"KY-f1\",false]",
         200, exactly("")},
        {"volume clone, fifth parameter true (iSCSI): nothing", "POST", "cloneVolumeSnapshot",
         "[\"" + kOraData + "@Manual-V-KY-f1\",\"MNT_f1\",false,false,true]", 200, exactly("")},
        {"the clone's protocol follows the fifth parameter", "POST", "listVolumes",
         "[\"pool-a\",\"oracle\",\"true\"]", 200,
         [](const std::string& body) {
             bool found = false;
             const jsonxx::Array volumes = asArray(body);
             for (const jsonxx::Value& v : volumes.values()) {
                 const jsonxx::Object& volume = v.get<jsonxx::Object>();
                 if (volume.get<std::string>("name") == "MNT_f1") {
                     found = true;
                     EXPECT_EQ("iSCSI", volume.get<std::string>("protocol"));
                 }
             }
             EXPECT_TRUE(found) << body;
         }},
        {"share clone: nothing", "POST", "cloneShareSnapshot",
         "[\"" + kHome + "@Manual-S-KY-f1\",\"MNT_f1\",false]", 200, exactly("")},
        {"mapping, quoted LUN and read-only flag: command status", "POST", "createMappingForVolume",
         "[\"" + kVolumeClone + "\",\"db-host-fc\",\"default-fc-target-group\",\"-1\",\"true\"]",
         200, exactly("0")},
        {"unmapping: command status", "POST", "deleteMappingFromVolume",
         "[\"" + kVolumeClone + "\",\"db-host-fc\",\"default-fc-target-group\"]", 200,
         exactly("0")},
        {"NFS access rule: command status", "POST", "addNFSNetworkACLOnShare",
         "[\"" + kShareClone + "\",\"IP\",\"10.1.2.3\",\"rw\",false]", 200, exactly("0")},
        {"snapshot to roll back to", "POST", "createVolumeSnapshot",
         volumeSource("ora-logs") + "\"KY-r1\",false]", 200, exactly("")},
        {"rollback: command status", "POST", "rollBackToVolumeSnapshot",
         "[\"" + kOraLogs + "@Manual-V-KY-r1\",true]", 200, exactly("0")},
        {"snapshot deletion: the lists", "POST", "deleteVolumeSnapshot",
         "[\"" + kOraLogs + "@Manual-V-KY-r1\",true]", 200,
         deletion({kOraLogs + "@Manual-V-KY-r1"}, {}, 0)},
        {"snapshot with a clone, dependents kept: refused", "POST", "deleteVolumeSnapshot",
         "[\"" + kOraData + "@Manual-V-KY-f1\",false]", 409,
         errorModel("EZEBI_RESOURCE_INUSE", "has dependent clones: " + kVolumeClone)},
        {"volume deletion: nothing", "POST", "deleteVolume", "[\"" + kVolumeClone + "\",true,true]",
         200, exactly("")},
        {"missing volume, third parameter false: success", "POST", "deleteVolume",
         "[\"" + kVolumeClone + "\",true,false]", 200, exactly("")},
        {"missing volume, third parameter true: error", "POST", "deleteVolume",
         "[\"" + kVolumeClone + "\",true,true]", 404,
         errorModel("EZEBI_RESOURCE_NOT_FOUND", "No such volume exists")},
        {"share deletion: nothing", "POST", "deleteShare", "[\"" + kShareClone + "\",true,true]",
         200, exactly("")},
        {"missing share, third parameter false: success", "POST", "deleteShare",
         "[\"" + kShareClone + "\",true,false]", 200, exactly("")},
        {"share clone again", "POST", "cloneShareSnapshot",
         "[\"" + kHome + "@Manual-S-KY-f1\",\"MNT_f1\",false]", 200, exactly("")},
        {"share snapshot deletion with dependents: the clone first, then the snapshot", "POST",
         "deleteShareSnapshot", "[\"" + kHome + "@Manual-S-KY-f1\",true]", 200,
         deletion({kShareClone, kHome + "@Manual-S-KY-f1"}, {}, 0)},
        {"initiator group: command status", "POST", "createInitiatorGroup",
         "[\"KY-host1.example.com-FC\"]", 200, exactly("0")},
        {"existing initiator group", "POST", "createInitiatorGroup",
         "[\"KY-host1.example.com-FC\"]", 409,
         errorModel("EZEBI_RESOURCE_EXIST", "already exists")},
        {"initiator into a missing group: group created", "POST", "addInitiatorToInitiatorGroup",
         "[\"wwn.21000024FF4E3B20\",\"KY-host2-FC\"]", 200, exactly("0")},
        {"the created group holds it", "POST", "listInitiatorsInInitiatorGroup",
         "[\"KY-host2-FC\"]", 200, names({"wwn.21000024FF4E3B20"})},
        {"initiator already in a group", "POST", "addInitiatorToInitiatorGroup",
         "[\"wwn.21000024FF4E3B20\",\"KY-host1.example.com-FC\"]", 409,
         errorModel("EZEBI_RESOURCE_INUSE", "already a member")},
        {"iSCSI initiator: command status", "POST", "createIscsiInitiator",
         "[{\"initiatorName\":\"iqn.1994-05.com.redhat:host3\"}]", 200, exactly("0")},
        {"LUN status per id asked, unknown ones too", "POST", "listLunsById",
         "[[\"600144f0c8a7b3d1e45f4a2b00010001\",\"600144F0000000000000000000000BAD\"]]", 200,
         [](const std::string& body) {
             jsonxx::Array statuses = asArray(body);
             ASSERT_EQ(2u, statuses.size()) << body;
             const jsonxx::Object& known = statuses.get<jsonxx::Object>(0);
             EXPECT_EQ("600144F0C8A7B3D1E45F4A2B00010001", textOf(known, "guid"));
             EXPECT_EQ(kOraData, textOf(known, "datasetPath"));
             EXPECT_EQ("536870912000", textOf(known, "size"));
             EXPECT_EQ("8KB", textOf(known, "blockSize"));
             EXPECT_EQ(0, numberOf(known, "commandStatus", -1));
             const jsonxx::Object& unknown = statuses.get<jsonxx::Object>(1);
             EXPECT_EQ("600144F0000000000000000000000BAD", textOf(unknown, "guid"));
             EXPECT_NE(0, numberOf(unknown, "commandStatus", 0));
         }},
        {"system properties in the order asked", "POST", "listSystemProperties",
         "[[\"ZEBI_GUI_VERSION\",\"ZEBI_API_VERSION\",\"ZEBI_APPLIANCE_MODEL\"]]", 200,
         names({"3.7.2.1", "2.1", "IntelliFlash T4700"})},
        {"listing with an empty parameter list", "POST", "listFCTargetGroups", "[]", 200,
         names({"default-fc-target-group"})},
        {"GET of a method with parameters", "GET", "listVolumes", "", 405,
         errorModel("EZEBI_METHOD_NOT_ALLOWED", "POST")},
    };
    for (const char* method : {"listFCTargetGroups", "listISCSITargetGroups",
                               "listFCInitiatorGroups", "listISCSIInitiatorGroups"}) {
        table.push_back({std::string("GET ") + method, "GET", method, "", 200,
                         [](const std::string& body) { EXPECT_FALSE(asNames(body).empty()); }});
    }
    for (const char* name :
         {"KY_host", "KY host", "KY,host", "KY/host", "KY\\\\host", "KY@host", "KY#host"}) {
        table.push_back({std::string("group name ") + name, "POST", "createInitiatorGroup",
                         std::string("[\"") + name + "\"]", 400,
                         errorModel("EZEBI_INVALID_ARGUMENT", "invalid initiator group name")});
    }
    return table;
}

TEST(ArraySimDocumentedShapesTest, EachMethodAnswersInTheDocumentedShape) {
    SimHarness sim;
    ASSERT_TRUE(sim.started()) << sim.startError();
    for (const Form& form : forms()) {
        SCOPED_TRACE(form.what);
        CallResult r =
            form.httpMethod == "GET" ? sim.get(form.method) : sim.call(form.method, form.body);
        EXPECT_EQ(form.status, r.status) << r.body;
        form.check(r.body);
    }
}

}  // namespace
}  // namespace arraysim_test
