// SPDX-License-Identifier: Apache-2.0
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AnswerLimits.h"
#include "ArrayApiFixture.h"
#include "HttpTransport.h"
#include "PropertyNames.h"

namespace {

using RequestPattern = ArrayApiFixture;

// One call of the API on a property map, as a row of a table names it.
using Call = std::function<Copy_Status(CMTegileStorageAPI&, CMTegileStorageAPI::Properties&)>;

Copy_Status shareUnmount(CMTegileStorageAPI& api, CMTegileStorageAPI::Properties& map) {
    map[SNAP_CONFIG_PROTOCOL] = "NFS";
    return api.unmountCopy(map);
}

// A JSON array of `count` copies of `item`.
std::string listOf(size_t count, const std::string& item) {
    std::string text = "[";
    for (size_t i = 0; i < count; ++i) {
        text += i == 0 ? item : "," + item;
    }
    return text + "]";
}

TEST_F(RequestPattern, SystemPropertiesArePostedWithCredentialsAndStoredAsSent) {
    reply("listSystemProperties", 200, R"(["IntelliFlash T4700","3.10.0.1","2.1","3"])");
    ASSERT_EQ(api->getConfig(map), COPY_SUCCESS) << log();
    const auto calls = server.requestsTo(path("listSystemProperties"));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "POST");
    EXPECT_EQ(calls[0].body,
              R"([["ZEBI_APPLIANCE_MODEL","ZEBI_APPLIANCE_VERSION", "ZEBI_API_VERSION", )"
              R"("ZEBI_API_MINOR_VERSION"]])");
    EXPECT_TRUE(calls[0].hasBasicAuth);
    EXPECT_EQ(calls[0].user, "admin");
    EXPECT_EQ(calls[0].password, "s3cret:pw");
    EXPECT_EQ(map[STORAGE_SERVER_MODEL], "IntelliFlash T4700");
    EXPECT_EQ(map[STORAGE_SERVER_VERSION], "3.10.0.1");
    EXPECT_EQ(map[STORAGE_SERVER_API_VERSION], "2.1");
    EXPECT_EQ(map[STORAGE_SERVER_API_MINOR_VERSION], "3");
    EXPECT_TRUE(request.logged("storage server api version [2.1]", 1));
    EXPECT_FALSE(request.logged("s3cret")) << "the password must never reach the log";
}

TEST_F(RequestPattern, ShortOrMistypedSystemPropertiesFailKeepingWhatWasRead) {
    reply("listSystemProperties", 200, R"(["m","v","2.1"])");
    EXPECT_EQ(api->getConfig(map), COPY_FAILED);
    EXPECT_EQ(map.count(STORAGE_SERVER_MODEL), 0u);
    EXPECT_TRUE(request.logged("JSON response - received less data than requested", 1));

    reply("listSystemProperties", 200, R"(["m","v",2.1,"3"])");
    EXPECT_EQ(api->getConfig(map), COPY_FAILED);
    EXPECT_EQ(map[STORAGE_SERVER_MODEL], "m");
    EXPECT_EQ(map[STORAGE_SERVER_VERSION], "v");
    EXPECT_EQ(map.count(STORAGE_SERVER_API_VERSION), 0u);
    EXPECT_TRUE(request.logged("JSON response: ZEBI_API_VERSION not found", 2));
}

TEST_F(RequestPattern, AccessDeniedIsRecognisedOnlyWhereTheMethodListsIt) {
    const std::string denied =
        R"({"code":"EZEBI_ACCESS_DENIED","message":"Access Denied","details":null})";
    reply("listSystemProperties", 401, denied);
    EXPECT_EQ(api->getConfig(map), COPY_ACCESS_DENIED);
    EXPECT_TRUE(request.logged(
        "REST POST failed url [https://" + server.host() + "/zebi/api/v2/listSystemProperties]",
        2));
    EXPECT_TRUE(request.logged("http error response received error code [401]", 2));
    EXPECT_TRUE(request.logged("access to array denied. please check array user credentials", 2));

    reply("listLunsById", 401, denied);
    map[SOURCE_DEVICE_ID] = "600144F0";
    EXPECT_EQ(api->getdevice(map), COPY_FAILED) << "lookups pass the client's status on";
}

TEST_F(RequestPattern, ValuesAreQuotedAndEscapedAsJsonStrings) {
    EXPECT_EQ(api->QString(""), "\"\"");
    EXPECT_EQ(api->QString("pool1/Local/proj/vol1"), "\"pool1/Local/proj/vol1\"");
    EXPECT_EQ(api->QString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(api->QString(std::string("t\tn\nx\x01", 6)), R"("t\tn\nx\u0001")");
    EXPECT_EQ(api->QString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
}

TEST_F(RequestPattern, AValueHoldingAQuoteCannotInjectParameters) {
    reply("getInitiatorGroup", 200, "\"grp\"");
    map[DEVICE_MAPPING_INITIATOR_NAME] = R"(iqn.x","injected)";
    EXPECT_EQ(api->getInitiatorGroup(map), COPY_SUCCESS);
    jsonxx::Array sent;
    ASSERT_TRUE(sent.parse(bodyOf("getInitiatorGroup")));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent.get<jsonxx::String>(0), R"(iqn.x","injected)");
}

TEST_F(RequestPattern, AbsentInputsAreSentAsEmptyStrings) {
    reply("cloneVolumeSnapshot", 200, "");
    EXPECT_EQ(api->mountCopy(map), COPY_SUCCESS);
    EXPECT_EQ(bodyOf("cloneVolumeSnapshot"), R"(["","",false,false])");
}

TEST_F(RequestPattern, HostileAnswersFailCleanly) {
    struct Row {
        std::string answer;
        const char* failureLine;  // logged at level 2
    };
    const Row rows[] = {
        {"", "JSON parsing failed"},
        {"not json", "JSON parsing failed"},
        {"[", "JSON parsing failed"},
        {R"([{"datasetPath":)", "JSON parsing failed"},
        {std::string("[\0\"x\"]", 6), "JSON parsing failed"},
        {R"({"datasetPath":"a/b/c/d"})", "JSON parsing failed"},
        {R"([1e99999])", "JSON parsing failed"},
        {R"([{"datasetPath":12}])", "JSON response: datasetPath not found"},
        {std::string(100000, '['),
         "JSON parsing failed: JSON response nests deeper than 512 levels"},
        {listOf(kAnswerLimits.values, "0"),
         "JSON parsing failed: JSON response exceeds 2000000 values"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer.substr(0, 40));
        request.logLines.clear();
        reply("listLunsById", 200, row.answer);
        map[SOURCE_DEVICE_ID] = "600144F0";
        EXPECT_EQ(api->getdevice(map), COPY_FAILED);
        EXPECT_TRUE(request.logged(row.failureLine, 2)) << log().substr(0, 2000);
    }
    EXPECT_EQ(callsTo("listVolumes"), 0u);
}

// A list longer than its limit fails the call with one line before any element is used: no
// request per group, no element logged or written.
TEST_F(RequestPattern, ListsOverTheirLimitFailBeforeAnyElementIsUsed) {
    struct Row {
        const char* name;
        const char* listMethod;  // answers the long list
        size_t elements;
        Copy_Status status;
        std::function<Copy_Status(CMTegileStorageAPI&, CMTegileStorageAPI::Properties&)> call;
    };
    const auto findTarget = [](CMTegileStorageAPI& api, CMTegileStorageAPI::Properties& map) {
        map[DEVICE_TARGET_ID] = "iqn.2012-02.com.tegile:t1";
        return api.findTarget(map);
    };
    const auto getInitiators = [](CMTegileStorageAPI& api, CMTegileStorageAPI::Properties& map) {
        std::map<std::string, std::string> initiators;
        map[DEVICE_MAPPING_PROTOCOL] = "FC";
        return api.getInitiators(map, initiators);
    };
    const auto getdevice = [](CMTegileStorageAPI& api, CMTegileStorageAPI::Properties& map) {
        map[SOURCE_DEVICE_ID] = "600144F0";
        return api.getdevice(map);
    };
    const auto getCopy = [](CMTegileStorageAPI& api, CMTegileStorageAPI::Properties& map) {
        map[SOURCE_DEVICE_DATASET_PATH_NAME] = "p/Local/j/v";
        return api.getCopy(map);
    };
    const Row rows[] = {
        {"target groups", "listISCSITargetGroups", kMaxListedGroups + 1, COPY_FAILED, findTarget},
        {"targets of a group", "listTargetsInTargetGroup", kMaxListElements + 1, COPY_FAILED,
         findTarget},
        {"initiator groups", "listFCInitiatorGroups", kMaxListedGroups + 1, COPY_FAILED,
         getInitiators},
        {"initiators of a group", "listInitiatorsInInitiatorGroup", kMaxListElements + 1,
         COPY_FAILED, getInitiators},
        {"volumes", "listVolumes", kMaxListElements + 1, COPY_FAILED, getdevice},
        {"snapshots", "listSnapshots", kMaxListElements + 1, COPY_FAILED, getCopy},
        {"snapshots, as many as allowed", "listSnapshots", kMaxListElements, COPY_SUCCESS, getCopy},
    };
    always("listISCSITargetGroups", 200, R"(["tg"])");
    always("listFCInitiatorGroups", 200, R"(["ig"])");
    always("listTargetsInTargetGroup", 200, "[]");
    always("listInitiatorsInInitiatorGroup", 200, "[]");
    always("listLunsById", 200, R"([{"datasetPath":"p/Local/j/v"}])");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        request.logLines.clear();
        map.clear();
        reply(row.listMethod, 200, listOf(row.elements, R"("x")"));
        const size_t memberCalls =
            callsTo("listTargetsInTargetGroup") + callsTo("listInitiatorsInInitiatorGroup");
        EXPECT_EQ(row.call(*api, map), row.status) << log().substr(0, 2000);
        const std::string line = "JSON response lists " + std::to_string(row.elements) +
                                 " elements, more than " + std::to_string(row.elements - 1);
        EXPECT_EQ(request.logged(line, 2), row.status == COPY_FAILED) << log().substr(0, 2000);
        if (row.status == COPY_FAILED) {
            EXPECT_FALSE(request.logged("[x]"));
            EXPECT_EQ(map.count(DEVICE_TARGET_FOUND), 0u);
            if (std::string(row.listMethod).find("Groups") != std::string::npos) {
                EXPECT_EQ(
                    callsTo("listTargetsInTargetGroup") + callsTo("listInitiatorsInInitiatorGroup"),
                    memberCalls);
            }
        }
    }
}

TEST_F(RequestPattern, ResponsesAreLoggedToTheirFirst128CharactersWithoutDiagnostics) {
    const std::string names = "[\"" + std::string(300, 'n') + "\"]";
    reply("listSnapshots", 200, names);
    map[SOURCE_DEVICE_DATASET_PATH_NAME] = "p/Local/j/v";
    EXPECT_EQ(api->getCopy(map), COPY_SUCCESS);
    EXPECT_TRUE(request.logged("http response received [" + names.substr(0, 128) + "]")) << log();
    EXPECT_FALSE(request.logged(names.substr(0, 129)));
}

// Each method's "started" comes before anything else it logs, also when it logs before its
// first call or makes none, and once however many calls it makes.
TEST_F(RequestPattern, EveryMethodLogsStartedFirstAndOnce) {
    struct Row {
        const char* header;  // the function named in the header of "started"
        Call call;
        std::vector<std::pair<const char*, const char*>> answers;  // method, body (200)
    };
    std::map<std::string, std::string> none;
    const Row rows[] = {
        {"getConfig", &CMTegileStorageAPI::getConfig, {{"listSystemProperties", "[]"}}},
        {"getdevice",
         &CMTegileStorageAPI::getdevice,
         {{"listLunsById", R"([{"datasetPath":"p/Local/j/v"}])"}, {"listVolumes", "[]"}}},
        {"getdeviceNFS", &CMTegileStorageAPI::getdeviceNFS, {{"listSharesByMountPoints", "{}"}}},
        {"getCopy", &CMTegileStorageAPI::getCopy, {{"listSnapshots", ""}}},
        {"getCopies", &CMTegileStorageAPI::getCopies, {}},  // answered from the cache
        {"deleteCopy", &CMTegileStorageAPI::deleteCopy, {{"deleteVolumeSnapshot", "{}"}}},
        {"rollbackCopy", &CMTegileStorageAPI::rollbackCopy, {{"rollBackToVolumeSnapshot", ""}}},
        {"mountCopy", &CMTegileStorageAPI::mountCopy, {{"cloneVolumeSnapshot", ""}}},
        {"getMountedCopyInternal", &CMTegileStorageAPI::getMountedCopy, {{"listVolumes", "[]"}}},
        {"getMountedCopyByID", &CMTegileStorageAPI::getMountedCopyByID, {{"listLunsById", "[]"}}},
        {"unmountCopyInternal", &CMTegileStorageAPI::unmountCopy, {{"deleteVolume", ""}}},
        {"unmountCopyInternal",
         [](CMTegileStorageAPI& api, CMTegileStorageAPI::Properties& map) {
             map[SNAP_CONFIG_OS] = "HYPERV";
             return api.unmountCopy(map);
         },
         {{"deleteMappingFromVolume", ""}}},
        {"findTarget",
         &CMTegileStorageAPI::findTarget,
         {{"listFCTargetGroups", R"(["g1","g2"])"},
          {"listTargetsInTargetGroup", "[]"},
          {"listTargetsInTargetGroup", "[]"}}},
        {"mapCopyToHost", &CMTegileStorageAPI::mapCopyToHost, {{"createMappingForVolume", ""}}},
        {"mapCopyToHostNFS",
         &CMTegileStorageAPI::mapCopyToHostNFS,
         {{"addNFSNetworkACLOnShare", ""}}},
        {"unmapCopyFromHost",
         &CMTegileStorageAPI::unmapCopyFromHost,
         {{"deleteMappingFromVolume", ""}}},
        {"getInitiators",
         [&none](CMTegileStorageAPI& api, CMTegileStorageAPI::Properties& map) {
             return api.getInitiators(map, none);
         },
         {{"listFCInitiatorGroups", R"(["g1"])"}, {"listInitiatorsInInitiatorGroup", "[]"}}},
        {"getInitiatorGroup", &CMTegileStorageAPI::getInitiatorGroup, {{"getInitiatorGroup", ""}}},
        {"createInitiatorGroup",
         &CMTegileStorageAPI::createInitiatorGroup,
         {{"initiatorGroupExists", "false"}, {"createInitiatorGroup", "0"}}},
        {"addInitiatorToGroup",
         &CMTegileStorageAPI::addInitiatorToGroup,
         {{"addInitiatorToInitiatorGroup", "0"}}},
        {"createISCSIInitiator",
         &CMTegileStorageAPI::createISCSIInitiator,
         {{"createIscsiInitiator", "0"}}},
    };
    map[SOURCE_DEVICE_DATASET_PATH_NAME] = "p/Local/j/v";
    map[TARGET_DEVICE_NAME] = "KY-1";
    reply("listSnapshots", 200, R"(["Manual-V-KY-1"])");
    ASSERT_EQ(api->getCopies(map), COPY_SUCCESS);  // fills the cache for the getCopies row
    for (const Row& row : rows) {
        for (const auto& [method, body] : row.answers) {
            reply(method, 200, body);
        }
        CMTegileStorageAPI::Properties rowMap = map;
        request.logLines.clear();
        ignoreStatus(row.call(*api, rowMap),
                     "this table checks the first line, whatever the status");
        const std::string header = apiHeader(row.header);
        ASSERT_FALSE(request.logLines.empty()) << row.header;
        EXPECT_EQ(request.logLines[0].header + request.logLines[0].text, header + "started")
            << log();
        size_t startedLines = 0;
        for (const auto& line : request.logLines) {
            startedLines += line.header == header && line.text == "started";
        }
        EXPECT_EQ(startedLines, 1u) << log();
    }
    EXPECT_EQ(callsTo("listSnapshots"), 2u) << "getCopies answered from its cache";
}

// An error text that turns a refusal into success logs its own line, once, and no "completed":
// the array never said it did the work. An accepted call logs "completed" instead.
TEST_F(RequestPattern, RefusalTakenAsSuccessLogsItsLineOnceAndNoCompleted) {
    struct Row {
        Call call;
        const char* method;
        int httpStatus;
        const char* answer;
        const char* line;  // the recognised text's line, absent when the array accepted
    };
    const Row rows[] = {
        {&CMTegileStorageAPI::mapCopyToHost, "createMappingForVolume", 409,
         "STMF_ERROR_VE_CONFLICT", "mapping already exist ["},
        {&CMTegileStorageAPI::mapCopyToHost, "createMappingForVolume", 200, "", nullptr},
        {&CMTegileStorageAPI::mapCopyToHostNFS, "addNFSNetworkACLOnShare", 409,
         "RESOURCE_EXIST: rule already exists", "mapping already exist ["},
        {&CMTegileStorageAPI::mapCopyToHostNFS, "addNFSNetworkACLOnShare", 200, "", nullptr},
        {&CMTegileStorageAPI::unmountCopy, "deleteVolume", 404, "No such volume exists",
         "clone [] does not exist in the array"},
        {shareUnmount, "deleteShare", 404, "No such share exist",
         "share [] does not exist in the array"},
        {&CMTegileStorageAPI::unmountCopy, "deleteVolume", 200, "", nullptr},
        {&CMTegileStorageAPI::deleteCopy, "deleteVolumeSnapshot", 404, "Snapshot does not exist",
         "snapshot [] does not exist in the array"},
        {&CMTegileStorageAPI::createISCSIInitiator, "createIscsiInitiator", 409,
         "Initiator already exist", "ISCSI initiator already configured"},
    };
    for (const Row& row : rows) {
        reply(row.method, row.httpStatus, row.answer);
        CMTegileStorageAPI::Properties rowMap;
        request.logLines.clear();
        EXPECT_EQ(row.call(*api, rowMap), COPY_SUCCESS) << row.method << " " << row.answer;
        size_t lines = 0;
        size_t completedLines = 0;
        for (const auto& line : request.logLines) {
            lines += row.line != nullptr && line.level == 2 &&
                     line.text.find(row.line) != std::string::npos;
            completedLines += line.text == "completed";
        }
        EXPECT_EQ(lines, row.line != nullptr ? 1u : 0u) << log();
        EXPECT_EQ(completedLines, row.line != nullptr ? 0u : 1u) << log();
    }
}

// A call that answers nothing is done only by an empty 200, or a 204 (No Content) that says the
// same. A 202 only accepted it, and any text, JSON or not, is not what the array answers when
// done: the call fails with one line saying so.
TEST_F(RequestPattern, CallThatAnswersNothingIsDoneOnlyByAnEmpty200Or204) {
    struct Row {
        Call call;
        const char* method;
        int httpStatus;
        std::string answer;
        Copy_Status status;
    };
    const Row rows[] = {
        {&CMTegileStorageAPI::unmountCopy, "deleteVolume", 200, "", COPY_SUCCESS},
        {&CMTegileStorageAPI::unmountCopy, "deleteVolume", 200, " \r\n", COPY_SUCCESS},
        {&CMTegileStorageAPI::unmountCopy, "deleteVolume", 204, "", COPY_SUCCESS},
        {&CMTegileStorageAPI::unmountCopy, "deleteVolume", 202, "", COPY_FAILED},
        {&CMTegileStorageAPI::unmountCopy, "deleteVolume", 200, "{}", COPY_FAILED},
        {&CMTegileStorageAPI::unmountCopy, "deleteVolume", 200, "null", COPY_FAILED},
        {&CMTegileStorageAPI::unmountCopy, "deleteVolume", 200, "<html>Sign in</html>",
         COPY_FAILED},
        {shareUnmount, "deleteShare", 204, "", COPY_SUCCESS},
        {shareUnmount, "deleteShare", 202, "", COPY_FAILED},
        {&CMTegileStorageAPI::mountCopy, "cloneVolumeSnapshot", 204, "", COPY_SUCCESS},
        {&CMTegileStorageAPI::mountCopy, "cloneVolumeSnapshot", 202, "", COPY_FAILED},
        {&CMTegileStorageAPI::createCopy, "createVolumeSnapshot", 204, "", COPY_SUCCESS},
        {&CMTegileStorageAPI::createCopy, "createVolumeSnapshot", 200, R"({"done":true})",
         COPY_FAILED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.method) + " " + std::to_string(row.httpStatus) + " [" +
                     row.answer + "]");
        reply(row.method, row.httpStatus, row.answer);
        CMTegileStorageAPI::Properties rowMap;
        request.logLines.clear();
        EXPECT_EQ(row.call(*api, rowMap), row.status) << log();
        const std::string line = "not known to be done: http status [" +
                                 std::to_string(row.httpStatus) + "] and " +
                                 std::to_string(row.answer.size()) + " bytes of answer";
        size_t lines = 0;
        for (const auto& logged : request.logLines) {
            lines += logged.level == 2 && logged.text.find(line) != std::string::npos;
        }
        EXPECT_EQ(lines, row.status == COPY_SUCCESS ? 0u : 1u) << log();
    }
}

}  // namespace

namespace {

// Keeps the URL of every request instead of sending it.
class UrlRecorder : public kyplatform::HttpTransportFactory {
public:
    UrlRecorder() : previous_(kyplatform::setHttpTransportFactory(this)) {}
    ~UrlRecorder() override { kyplatform::setHttpTransportFactory(previous_); }
    std::unique_ptr<kyplatform::HttpTransport> create(const kyplatform::HttpTransportSettings&,
                                                      std::string&) override {
        return std::make_unique<Transport>(urls);
    }
    std::vector<std::string> urls;

private:
    class Transport : public kyplatform::HttpTransport {
    public:
        explicit Transport(std::vector<std::string>& urls) : urls_(urls) {}
        bool addHeader(const std::string&) override { return true; }
        bool setCredentials(const std::string&, const std::string&) override { return true; }
        bool perform(const kyplatform::HttpRequest& request,
                     kyplatform::HttpResponse& response) override {
            urls_.push_back(request.url);
            response.status = 200;
            response.body = R"(["IntelliFlash T4700","3.10.0.1","2.1","3"])";
            return true;
        }

    private:
        std::vector<std::string>& urls_;
    };
    kyplatform::HttpTransportFactory* previous_;
};

// However the host names the array, the URL carries it as a URL must: a bare IPv6 address
// in brackets, every other form as given.
TEST(ArrayUrl, EachFormOfArrayAddressMakesAValidUrl) {
    struct Case {
        const char* host;
        const char* url;
    };
    const Case cases[] = {
        {"fd00::10", "https://[fd00::10]/zebi/api/v2/listSystemProperties"},
        {"::1", "https://[::1]/zebi/api/v2/listSystemProperties"},
        {"[fd00::10]:8443", "https://[fd00::10]:8443/zebi/api/v2/listSystemProperties"},
        {"10.0.0.5:8443", "https://10.0.0.5:8443/zebi/api/v2/listSystemProperties"},
        {"array7.example", "https://array7.example/zebi/api/v2/listSystemProperties"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        UrlRecorder recorder;
        testhost::TestSnapInfo request;
        std::string host = c.host, user = "admin", password = "pw";
        CMTegileStorageAPI api(host, user, password, 1, 0, false);
        api.setLogger(&request);
        ASSERT_EQ(api.init(), COPY_SUCCESS);
        CMTegileStorageAPI::Properties map;
        EXPECT_EQ(api.getConfig(map), COPY_SUCCESS);
        EXPECT_EQ(recorder.urls, std::vector<std::string>{c.url});
    }
}

}  // namespace
