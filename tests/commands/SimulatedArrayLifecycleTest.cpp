// SPDX-License-Identifier: Apache-2.0
// A snapshot's life through the copy commands and the storage server, against the array
// simulator over HTTPS: what one command records is what the next one works from.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "ArraySimulator.h"
#include "CMParser.h"
#include "CMStorageServerTegile.h"
#include "CMTegileCopyCheckCommand.h"
#include "CMTegileCopyCreateCommand.h"
#include "CMTegileCopyDeleteCommand.h"
#include "CMTegileCopyMountCommand.h"
#include "CMTegileCopyPrepareCommand.h"
#include "CMTegileCopyRevertCommand.h"
#include "CMTegileCopyUnmountCommand.h"
#include "PlatformFakes.h"
#include "PropertyNames.h"
#include "TestSnapInfo.h"

namespace {

using Properties = std::map<std::string, std::string>;

const char* const kOracleData = "600144F0C8A7B3D1E45F4A2B00010001";
const char* const kHostInitiator = "wwn.21000024FF4E3B20";

std::string sampleSeed() {
    return std::string(KYSNAP_SOURCE_DIR) + "/tools/arraysim/seed/sample.json";
}

// Decodes a stored block record into properties, as the copy server does for later calls.
Properties fromBlockRecord(const std::string& record) {
    const char* const names[] = {
        META_DATA_VERSION,          SOURCE_DEVICE_ID,   SOURCE_DEVICE_NAME, SOURCE_DEVICE_POOL_NAME,
        SOURCE_DEVICE_PROJECT_NAME, SOURCE_DEVICE_MODE, TARGET_DEVICE_NAME};
    std::vector<std::string> values;
    CMParser().getValues(record, values);
    Properties properties;
    for (size_t i = 0; i < values.size() && i < 7; ++i) {
        properties[names[i]] = values[i];
    }
    properties[SOURCE_DEVICE_DATASET_PATH_NAME] =
        properties[SOURCE_DEVICE_POOL_NAME] + "/" + properties[SOURCE_DEVICE_MODE] + "/" +
        properties[SOURCE_DEVICE_PROJECT_NAME] + "/" + properties[SOURCE_DEVICE_NAME];
    return properties;
}

class SimulatedArray : public ::testing::Test {
protected:
    void start(const std::string& apiVersion = "") {
        arraysim::SimulatorOptions options;
        options.seedFile = sampleSeed();
        options.apiVersion = apiVersion;
        options.certDirectory = std::string(KYSNAP_BINARY_DIR) + "/arraysim-tls";
        simulator = std::make_unique<arraysim::ArraySimulator>(options);
        std::string error;
        ASSERT_TRUE(simulator->start(error)) << error;
        setenv("KYSNAP_TLS_CA_FILE", simulator->caFile().c_str(), 1);
        storage = newStorageServer();
    }
    void TearDown() override { unsetenv("KYSNAP_TLS_CA_FILE"); }

    std::unique_ptr<CMStorageServerTegile> newStorageServer() {
        std::string host = "127.0.0.1:" + std::to_string(simulator->port());
        std::string user = "admin";
        std::string password = "tegile";
        auto made = std::make_unique<CMStorageServerTegile>(host, user, password, 30, 60, false);
        made->setLogger(&request);
        EXPECT_EQ(made->init(), COPY_SUCCESS) << request.logText();
        return made;
    }

    // Runs a command of class T of `type` on a device holding `properties`; returns the
    // status and leaves the command in `last`.
    template <typename T>
    Copy_Status run(const char* type, const Properties& properties) {
        auto* device = new CMStorageDevice;
        device->getProperties() = properties;
        last = std::make_unique<T>(storage.get(), device, type);
        last->setLogger(&request);
        return last->execute();
    }
    Properties& lastProperties() { return last->getDevice()->getProperties(); }

    // The LUNs the simulated host with `initiator` sees.
    jsonxx::Array hostView(const std::string& initiator) {
        httplib::SSLClient client("127.0.0.1", simulator->port());
        client.set_ca_cert_path(simulator->caFile().c_str());
        client.set_basic_auth("admin", "tegile");
        auto answer = client.Post("/control/hostview", R"({"initiators":[")" + initiator + "\"]}",
                                  "application/json");
        jsonxx::Array luns;
        if (!answer || answer->status != 200) {
            ADD_FAILURE() << "host view not available";
            return luns;
        }
        jsonxx::Object view;
        EXPECT_TRUE(view.parse(answer->body) && view.has<jsonxx::Array>("luns")) << answer->body;
        return view.get<jsonxx::Array>("luns");
    }

    testhost::TestSnapInfo request;
    testhost::RecordingSleeper sleeper;
    std::unique_ptr<arraysim::ArraySimulator> simulator;
    std::unique_ptr<CMStorageServerTegile> storage;
    std::unique_ptr<CMTegileCopyCommand> last;
};

TEST_F(SimulatedArray, VolumeSnapshotLivesThroughPrepareCreateMountUnmountAndDelete) {
    start();
    ASSERT_EQ(run<CMTegileCopyPrepareCommand>("prepare", {{SOURCE_DEVICE_ID, kOracleData}}),
              COPY_SUCCESS)
        << request.logText();
    const std::string prepared = last->getMetaData();
    EXPECT_EQ(prepared, std::string("2.0|") + kOracleData + "|ora-data|pool-a|oracle|Local|");

    Properties snapshot = fromBlockRecord(prepared);
    snapshot[TARGET_DEVICE_NAME] = "KY-job1";
    ASSERT_EQ(run<CMTegileCopyCreateCommand>("batchCreate", snapshot), COPY_SUCCESS);
    ASSERT_EQ(storage->batchCreateCopy(), COPY_SUCCESS) << request.logText();
    ASSERT_EQ(last->execute(), COPY_SUCCESS);
    const std::string created = last->getMetaData();
    EXPECT_EQ(created, prepared + "KY-job1|");

    ASSERT_EQ(run<CMTegileCopyCheckCommand>("check", fromBlockRecord(created)), COPY_SUCCESS);
    EXPECT_EQ(lastProperties()[TARGET_DEVICE_STATUS], "available");

    // Choose the host's initiator: the array knows the port but it is in no group yet.
    CMStorageDevice selection;
    selection.getProperties()[DEVICE_MAPPING_HOST_NAME] = "backup1";
    selection.getProperties()[DEVICE_MAPPING_INITIATOR_LIST] = std::string(kHostInitiator) + "|";
    ASSERT_EQ(storage->selectFCInitiator(&selection), COPY_SUCCESS) << request.logText();
    const std::string group = selection.getProperties()[DEVICE_MAPPING_INITIATOR_GROUP_NAME];
    EXPECT_EQ(group, "KY-backup1-FC");

    Properties mount = fromBlockRecord(created);
    mount[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME] = group;
    mount[TARGET_DEVICE_MAPPING_PROTOCOL] = "FC";
    ASSERT_EQ(run<CMTegileCopyMountCommand>("mount", mount), COPY_SUCCESS) << request.logText();
    const std::string mounted = last->getMetaData();
    const std::string cloneLun = lastProperties()[TARGET_DEVICE_MOUNT_ID];
    EXPECT_EQ(mounted, created + cloneLun + "|MNT_KY-job1|KY-backup1-FC|default-fc-target-group|");
    jsonxx::Array luns = hostView(kHostInitiator);
    ASSERT_EQ(luns.size(), 1u);
    EXPECT_EQ(luns.get<jsonxx::Object>(0).get<jsonxx::String>("luId"), cloneLun);

    // Mounting again reuses the clone.
    ASSERT_EQ(run<CMTegileCopyMountCommand>("mount", mount), COPY_SUCCESS);
    EXPECT_EQ(lastProperties()[SKIP_TARGET_DEVICE_MOUNT], "true");
    EXPECT_EQ(last->getMetaData(), mounted);

    ASSERT_EQ(run<CMTegileCopyUnmountCommand>("unmount", fromBlockRecord(mounted)), COPY_SUCCESS)
        << request.logText();
    EXPECT_EQ(last->getMetaData(), created);
    EXPECT_EQ(hostView(kHostInitiator).size(), 0u);
    EXPECT_EQ(run<CMTegileCopyUnmountCommand>("unmount", fromBlockRecord(mounted)), COPY_SUCCESS)
        << "a clone already gone counts as unmounted";

    ASSERT_EQ(run<CMTegileCopyDeleteCommand>("delete", fromBlockRecord(created)), COPY_SUCCESS);
    EXPECT_EQ(run<CMTegileCopyDeleteCommand>("delete", fromBlockRecord(created)), COPY_SUCCESS)
        << "a snapshot already gone counts as deleted";
    storage = newStorageServer();  // a later call starts with an empty listing cache
    ASSERT_EQ(run<CMTegileCopyCheckCommand>("check", fromBlockRecord(created)), COPY_SUCCESS);
    EXPECT_EQ(lastProperties()[TARGET_DEVICE_STATUS], "unavailable");
}

TEST_F(SimulatedArray, OlderArrayRecordsVersionOneZeroAndCreatesOneSnapshotAtATime) {
    start("2.0");
    ASSERT_EQ(run<CMTegileCopyPrepareCommand>("prepare", {{SOURCE_DEVICE_ID, kOracleData}}),
              COPY_SUCCESS);
    Properties snapshot = fromBlockRecord(last->getMetaData());
    EXPECT_EQ(snapshot[META_DATA_VERSION], "1.0");
    snapshot[TARGET_DEVICE_NAME] = "KY-job2";
    ASSERT_EQ(run<CMTegileCopyCreateCommand>("create", snapshot), COPY_SUCCESS)
        << request.logText();
    ASSERT_EQ(last->execute(), COPY_SUCCESS) << request.logText();
    EXPECT_EQ(last->getMetaData(),
              std::string("1.0|") + kOracleData + "|ora-data|pool-a|oracle|Local|KY-job2|");

    ASSERT_EQ(run<CMTegileCopyRevertCommand>("revert", fromBlockRecord(last->getMetaData())),
              COPY_SUCCESS)
        << request.logText();
}

TEST_F(SimulatedArray, ShareIsFoundAboveTheHostsPathAndItsCloneOpenedToTheHost) {
    start();
    Properties source{{SNAP_CONFIG_PROTOCOL, "NFS"},
                      {SOURCE_DEVICE_MOUNT_POINT_NAME, "/export/files/home/alice/docs"}};
    ASSERT_EQ(run<CMTegileCopyPrepareCommand>("prepare", source), COPY_SUCCESS)
        << request.logText();
    jsonxx::Object record;
    ASSERT_TRUE(record.parse(last->getMetaData()));
    EXPECT_EQ(record.get<jsonxx::String>(SOURCE_DEVICE_MOUNTPOINT_NAME), "/export/files/home");

    Properties snapshot{{SNAP_CONFIG_PROTOCOL, "NFS"}};
    for (const auto& [name, value] : record.kv_map()) {
        snapshot[name] = value.get<jsonxx::String>();
    }
    snapshot[SOURCE_DEVICE_DATASET_PATH_NAME] =
        snapshot[SOURCE_DEVICE_POOL_NAME] + "/" + snapshot[SOURCE_DEVICE_MODE] + "/" +
        snapshot[SOURCE_DEVICE_PROJECT_NAME] + "/" + snapshot[SOURCE_DEVICE_NAME];
    snapshot[TARGET_DEVICE_NAME] = "KY-job3";
    ASSERT_EQ(run<CMTegileCopyCreateCommand>("batchCreate", snapshot), COPY_SUCCESS);
    ASSERT_EQ(storage->batchCreateCopy(), COPY_SUCCESS) << request.logText();

    snapshot[TARGET_DEVICE_MAPPING_HOST_NAME] = "10.20.30.40";
    ASSERT_EQ(run<CMTegileCopyMountCommand>("mount", snapshot), COPY_SUCCESS) << request.logText();
    jsonxx::Object mounted;
    ASSERT_TRUE(mounted.parse(last->getMetaData()));
    EXPECT_EQ(mounted.get<jsonxx::String>(TARGET_DEVICE_MOUNT_NAME), "MNT_KY-job3");
    EXPECT_FALSE(mounted.get<jsonxx::String>(TARGET_DEVICE_MOUNTPOINT_NAME).empty());

    ASSERT_EQ(run<CMTegileCopyUnmountCommand>("unmount", snapshot), COPY_SUCCESS)
        << request.logText();
    ASSERT_EQ(run<CMTegileCopyDeleteCommand>("delete", snapshot), COPY_SUCCESS)
        << request.logText();
}

}  // namespace
