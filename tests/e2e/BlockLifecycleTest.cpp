// SPDX-License-Identifier: Apache-2.0
// Block volumes end to end: whole lifecycles on arrays of API 2.1 and 2.0, an iSCSI host the
// array does not know, mount retries, two arrays in one call, Hyper-V unmounts, revert and
// reconcile, partial failures and refused credentials.
#include <algorithm>
#include <functional>

#include "Model.h"
#include "PluginSite.h"

namespace e2e {
namespace {

using site::kDbHostPort;
using site::kEsxSmall;
using site::kOraData;
using site::kOraLogs;

std::string preparedRecord(const char* version, const char* lun, const char* name,
                           const char* project) {
    return std::string(version) + "|" + lun + "|" + name + "|pool-a|" + project + "|Local|";
}

class BlockLifecycle : public PluginSite {
protected:
    // Prepares and snapshots the three volumes the FC host sees.
    Batch snapshotted(site::SiteArray& array, const std::string& snapId = kSnapName) {
        Batch batch = volumes(array, {kOraData, kOraLogs, kEsxSmall}, snapId);
        step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
        step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
        return batch;
    }
    // Maps the batch's snapshots and records each mounted device as the host would.
    void mounted(const Batch& batch) {
        step("kyso_mapSnaps", batch, KYSO::RESULT_SUCCESS);
        for (TestSnapInfo* request : batch) {
            ASSERT_FALSE(request->snapDevicesSet.empty()) << request->logText();
            request->snapDevice = request->snapDevicesSet.back();
        }
    }
    // ora-data alone, prepared, snapshotted and mounted.
    Batch mountedOraData(site::SiteArray& array) {
        Batch batch = volumes(array, {kOraData});
        step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
        step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
        mounted(batch);
        return batch;
    }
};

TEST_F(BlockLifecycle, ThreeVolumesLiveThroughOneBatchOnAnArrayOfApi21) {
    site::SiteArray& array = startArray("arr", mapEsxSmallToDbHost);
    hostWith({{kDbHostPort, false}});
    Batch batch = volumes(array, {kOraData, kOraLogs, kEsxSmall});

    step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(statuses(batch), std::vector<int32_t>(3, KYSO::SNAP_PREPARED));
    EXPECT_EQ(batch[0]->metaData, preparedRecord("2.0", kOraData, "ora-data", "oracle"));
    EXPECT_EQ(batch[1]->metaData, preparedRecord("2.0", kOraLogs, "ora-logs", "oracle"));
    EXPECT_EQ(batch[2]->metaData, preparedRecord("2.0", kEsxSmall, "esx-small", "vmware"));
    EXPECT_EQ(batch[0]->transMetaData, "536870912000|8KB|true|FC|");

    step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(statuses(batch), std::vector<int32_t>(3, KYSO::SNAP_CREATED));
    EXPECT_EQ(batch[1]->metaData,
              preparedRecord("2.0", kOraLogs, "ora-logs", "oracle") + kSnapName + "-2|");
    EXPECT_EQ(requestsOf(array, "createSnapshots"), 1u);
    EXPECT_EQ(requestsOf(array, "createVolumeSnapshot"), 0u);
    EXPECT_EQ(requestsOf(array, "getVolumeSnapshotCreationStatus"), 0u);
    EXPECT_TRUE(holdsSnapshot(array, std::string("Manual-V-") + kSnapName + "-3"));

    const uint64_t listingsBefore = requestsOf(array, "listVolumes");
    mounted(batch);
    EXPECT_EQ(statuses(batch), std::vector<int32_t>(3, KYSO::SNAP_MOUNTED));
    // Two volumes of one project and one of another: each project is listed before its first
    // clone and after every clone. The lookup before the second clone of a project is
    // answered by the listing that found the first, since its mapping changed no listing of
    // datasets; without the call's memory it goes to the array.
    EXPECT_EQ(requestsOf(array, "listVolumes") - listingsBefore, callMemoryOn() ? 5u : 6u);
    const auto clones = datasetsWith(array, "volumes", "name", std::string("MNT_") + kSnapName);
    ASSERT_EQ(clones.size(), 3u);
    const std::string sources[] = {preparedRecord("2.0", kOraData, "ora-data", "oracle"),
                                   preparedRecord("2.0", kOraLogs, "ora-logs", "oracle"),
                                   preparedRecord("2.0", kEsxSmall, "esx-small", "vmware")};
    for (size_t i = 0; i < batch.size(); ++i) {
        // The record gains the clone's LUN id and name, and the groups it is mapped through.
        const std::string& name = batch[i]->snapUUID;
        const std::string cloneLun = batch[i]->snapDevice.substr(std::string("/dev/sim/").size());
        EXPECT_EQ(batch[i]->metaData, sources[i] + name + "|" + cloneLun + "|MNT_" + name +
                                          "|db-host-fc|default-fc-target-group|");
    }
    EXPECT_EQ(mappingsOf(array, "MNT_").size(), 3u);

    step("kyso_unmapSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(statuses(batch), std::vector<int32_t>(3, KYSO::SNAP_UNMOUNTED));
    EXPECT_EQ(util.rescans.back().devices.size(), 3u);
    EXPECT_EQ(batch[0]->metaData,
              preparedRecord("2.0", kOraData, "ora-data", "oracle") + kSnapName + "-1|");
    for (TestSnapInfo* request : batch) {
        request->snapDevice.clear();
    }

    step("kyso_deleteSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(statuses(batch), std::vector<int32_t>(3, KYSO::SNAP_DELETED));
    EXPECT_TRUE(datasetsWith(array, "volumes", "name", "MNT_").empty());
    EXPECT_TRUE(mappingsOf(array, "MNT_").empty());
    EXPECT_FALSE(holdsSnapshot(array, "KY-"));
    for (TestSnapInfo* request : batch) {
        EXPECT_TRUE(request->errors.empty()) << request->logText();
    }
}

TEST_F(BlockLifecycle, IscsiHostTheArrayDoesNotKnowGetsAGroupAndSeesItsClone) {
    site::SiteArray& array = startArray("arr");
    const char* const initiator = "iqn.1994-05.com.example:backup01";
    hostWith({{initiator, true}});
    // The host cannot see the source volume; it hands the plug-in its cached INQUIRY data.
    Batch batch = volumes(array, {kOraData});
    batch[0]->device = "/dev/sdx";
    batch[0]->inquiryData[0] = simhost::standardInquiryData("TEGILE", "INTELLIFLASH");
    batch[0]->inquiryData[0x83] = simhost::identificationPageData(kOraData, site::kFcTarget);
    step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
    step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
    mounted(batch);

    const jsonxx::Object whole = state(array);
    const std::string groups = whole.get<jsonxx::Array>("initiatorGroups").json();
    EXPECT_NE(groups.find(initiator), std::string::npos) << groups;
    const auto mappings = mappingsOf(array, std::string("MNT_") + kSnapName);
    ASSERT_EQ(mappings.size(), 1u);
    EXPECT_EQ(mappings[0].get<jsonxx::String>("initiatorGroup").substr(0, 3), "KY-");

    step("kyso_unmapSnaps", batch, KYSO::RESULT_SUCCESS);
    batch[0]->snapDevice.clear();
    step("kyso_deleteSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_FALSE(holdsSnapshot(array, "KY-"));
    EXPECT_TRUE(mappingsOf(array, "MNT_").empty());
}

TEST_F(BlockLifecycle, Api20CreatesEachSnapshotAndPollsUntilTheArrayHasMadeIt) {
    site::SiteArray& array = startArray(
        "arr",
        [](jsonxx::Object& seed) {
            mapEsxSmallToDbHost(seed);
            seed.get<jsonxx::Object>("behaviour")
                .import("snapshotPendingPolls", static_cast<jsonxx::Number>(1));
        },
        "2.0");
    hostWith({{kDbHostPort, false}});
    Batch batch = volumes(array, {kOraData, kOraLogs, kEsxSmall});
    step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(batch[0]->metaData, preparedRecord("1.0", kOraData, "ora-data", "oracle"));

    step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(statuses(batch), std::vector<int32_t>(3, KYSO::SNAP_CREATED));
    EXPECT_EQ(batch[2]->metaData,
              preparedRecord("1.0", kEsxSmall, "esx-small", "vmware") + kSnapName + "-3|");
    EXPECT_EQ(requestsOf(array, "createSnapshots"), 0u);
    EXPECT_EQ(requestsOf(array, "createVolumeSnapshot"), 3u);
    // Each snapshot answers "in progress" once, and is asked again after a wait.
    EXPECT_EQ(requestsOf(array, "getVolumeSnapshotCreationStatus"), 6u);
    EXPECT_EQ(sleeper.waits.size(), 3u);

    mounted(batch);
    step("kyso_unmapSnaps", batch, KYSO::RESULT_SUCCESS);
    step("kyso_deleteSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_FALSE(holdsSnapshot(array, "KY-"));
}

TEST_F(BlockLifecycle, CloneSeenLateIsFoundOnRetryAndZeroRetriesTryOnce) {
    site::SiteArray& array = startArray("arr", [](jsonxx::Object& seed) {
        seed.get<jsonxx::Object>("behaviour")
            .import("mappingVisibilityDelay", static_cast<jsonxx::Number>(2));
    });
    hostWith({{kDbHostPort, false}});
    Batch late = volumes(array, {kOraData});
    late[0]->configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 3;
    late[0]->configInts["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = 5;
    step("kyso_prepareDevices", late, KYSO::RESULT_SUCCESS);
    step("kyso_snapDevices", late, KYSO::RESULT_SUCCESS);
    step("kyso_mapSnaps", late, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(late[0]->status, KYSO::SNAP_MOUNTED);
    EXPECT_EQ(util.rescans.size(), 3u);  // the first look and two retries
    EXPECT_EQ(sleeper.waits, std::vector<unsigned int>{5000});
    EXPECT_TRUE(late[0]->logged("device found from all the devices discovered"));
    // The call's summary line tells where its time went.
    const auto summary = std::find_if(late[0]->logLines.rbegin(), late[0]->logLines.rend(),
                                      [](const testhost::LogLine& line) {
                                          return line.text.rfind("call summary wall [", 0) == 0;
                                      });
    ASSERT_NE(summary, late[0]->logLines.rend());
    EXPECT_EQ(summary->level, 1);
    for (const char* part : {"cloneVolumeSnapshot 1", "createMappingForVolume 1", "failures [0]",
                             "full TLS handshakes [1]", "retries [2]", "sleeps [1, 5000 ms]"}) {
        EXPECT_NE(summary->text.find(part), std::string::npos) << summary->text;
    }

    Batch once = volumes(array, {kOraLogs}, "KY-20261209T024100Z-2");
    once[0]->configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 0;
    step("kyso_prepareDevices", once, KYSO::RESULT_SUCCESS);
    step("kyso_snapDevices", once, KYSO::RESULT_SUCCESS);
    const size_t rescans = util.rescans.size();
    ASSERT_EQ(call("kyso_mapSnaps", once), KYSO::RESULT_FAILED);
    EXPECT_EQ(util.rescans.size(), rescans + 1);
    EXPECT_EQ(sleeper.waits.size(), 1u);
    EXPECT_EQ(once[0]->status, KYSO::SNAP_MOUNT_FAILED);
    ASSERT_EQ(once[0]->errors.size(), 1u);
    EXPECT_EQ(once[0]->errors[0].code, KYSO::ERROR_MOUNT);
    EXPECT_EQ(once[0]->errors[0].message,
              "snap operation failed. please check logs for more details");
}

// A host that cannot rescan, or cannot list its devices after each rescan, never shows the
// clones: the mount of the whole batch must not be reported done.
TEST_F(BlockLifecycle, MountWhoseRescanAlwaysFailsIsNotReportedDone) {
    struct Case {
        const char* scenario;
        std::function<void()> fault;
        const char* line;
    };
    const Case cases[] = {
        {"rescan refused", [this] { util.refreshBusAnswer = false; }, "OS util refresh bus failed"},
        {"device list refused after each rescan",
         [this] {
             auto rescanned = util.onRescan;
             util.onRescan = [this, rescanned](const testhost::RescanRecord& record) {
                 rescanned(record);
                 util.script(testhost::UtilOp::GetDeviceList, -1);
             };
         },
         "scan devices failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        arrays.clear();
        util = testhost::TestOSUtil();
        site::SiteArray& array = startArray("arr");
        hostWith({{kDbHostPort, false}});
        Batch batch = volumes(array, {kOraData, kOraLogs});
        step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
        step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
        c.fault();
        ASSERT_EQ(call("kyso_mapSnaps", batch), KYSO::RESULT_FAILED) << batch[0]->logText();
        EXPECT_EQ(statuses(batch), std::vector<int32_t>(2, KYSO::SNAP_MOUNT_FAILED));
        EXPECT_TRUE(batch[0]->snapDevicesSet.empty());
        ASSERT_EQ(batch[1]->errors.size(), 1u);
        EXPECT_EQ(batch[1]->errors[0].code, KYSO::ERROR_MOUNT);
        EXPECT_TRUE(batch[0]->logged(c.line, 2)) << batch[0]->logText();
    }
}

TEST_F(BlockLifecycle, OneCreateCallOnTwoArraysBatchesEachArray) {
    site::SiteArray& first = startArray("first");
    site::SiteArray& second = startArray("second");
    Batch batch = volumes(first, {kOraData, kOraLogs});
    Batch other = volumes(second, {kOraData});
    for (TestSnapInfo* request : batch) {
        request->metaData = preparedRecord("2.0", kOraData, "ora-data", "oracle");
    }
    batch[1]->metaData = preparedRecord("2.0", kOraLogs, "ora-logs", "oracle");
    other[0]->metaData = preparedRecord("2.0", kOraData, "ora-data", "oracle");
    batch.push_back(other[0]);

    step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(statuses(batch), std::vector<int32_t>(3, KYSO::SNAP_CREATED));
    EXPECT_EQ(requestsOf(first, "createSnapshots"), 1u);
    EXPECT_EQ(requestsOf(second, "createSnapshots"), 1u);
    EXPECT_TRUE(holdsSnapshot(second, std::string("Manual-V-") + kSnapName));
}

// The plug-in asks the array to delete a snapshot's dependents with it, as the array
// documents the flag, and a host may rely on that clean-up. So a host that deletes a mounted
// snapshot loses the clone under its feet: it must unmap first (kysnap refuses for it).
TEST_F(BlockLifecycle, DeletingAMountedSnapshotDestroysItsCloneUnderTheHost) {
    site::SiteArray& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    Batch batch = mountedOraData(array);
    const std::string clone = batch[0]->snapDevice;
    const auto seen = [&] {
        rescan();
        const std::vector<std::string> names = host->deviceNames();
        return std::find(names.begin(), names.end(), clone) != names.end();
    };
    ASSERT_TRUE(seen());

    step("kyso_deleteSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(batch[0]->status, KYSO::SNAP_DELETED);
    EXPECT_TRUE(datasetsWith(array, "volumes", "name", "MNT_").empty());
    EXPECT_TRUE(mappingsOf(array, "MNT_").empty());
    EXPECT_FALSE(seen());
}

TEST_F(BlockLifecycle, HyperVUnmountRemovesTheMappingAndKeepsTheClone) {
    site::SiteArray& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    Batch batch = mountedOraData(array);
    batch[0]->options = KYSO::OPTION_HYPERV;
    step("kyso_unmapSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(batch[0]->status, KYSO::SNAP_UNMOUNTED);
    EXPECT_EQ(datasetsWith(array, "volumes", "name", std::string("MNT_") + kSnapName).size(), 1u);
    EXPECT_TRUE(mappingsOf(array, "MNT_").empty());
}

TEST_F(BlockLifecycle, RevertRollsBackAndReconcileMarksOnlyVanishedSnapshots) {
    site::SiteArray& array = startArray("arr", mapEsxSmallToDbHost);
    hostWith({{kDbHostPort, false}});
    Batch batch = snapshotted(array);
    Batch reverted = {batch[0]};
    step("kyso_revertSnaps", reverted, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(batch[0]->status, KYSO::SNAP_REVERTED);
    const auto volume = datasetsWith(array, "volumes", "name", "ora-data");
    ASSERT_FALSE(volume.empty());
    EXPECT_EQ(volume[0].get<jsonxx::String>("lastRollback"),
              std::string("Manual-V-") + kSnapName + "-1");

    // The second snapshot disappears behind the plug-in's back.
    array.simulator->withModel([](arraysim::Model& model) {
        auto& snapshots = model.findDataset("pool-a/Local/oracle/ora-logs")->snapshots;
        snapshots.clear();
    });
    batch[1]->status = KYSO::SNAP_CREATED;
    batch[2]->status = KYSO::SNAP_CREATED;
    step("kyso_reconcileSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(statuses(batch), (std::vector<int32_t>{KYSO::SNAP_REVERTED, KYSO::SNAP_UNAVAILABLE,
                                                     KYSO::SNAP_CREATED}));
    // The copy server writes through the call's first request.
    EXPECT_TRUE(batch[0]->logged("marked deleted on array"));
}

TEST_F(BlockLifecycle, PartFailedCallsReportTwoWithTheErrorOfTheFailedRequest) {
    site::SiteArray& array = startArray("arr", mapEsxSmallToDbHost);
    hostWith({{kDbHostPort, false}});

    // Creates stop at the failed request; nothing reaches its second phase.
    Batch creates = volumes(array, {kOraData, kOraLogs, kEsxSmall});
    step("kyso_prepareDevices", creates, KYSO::RESULT_SUCCESS);
    creates[1]->failNext(testhost::SnapOp::GetArrayInfo);
    ASSERT_EQ(call("kyso_snapDevices", creates), KYSO::RESULT_PARTIAL);
    EXPECT_EQ(statuses(creates), std::vector<int32_t>(3, KYSO::SNAP_CREATE_FAILED));
    ASSERT_EQ(creates[1]->errors.size(), 1u);
    EXPECT_EQ(creates[1]->errors[0].code, KYSO::ERROR_CREATE);
    EXPECT_EQ(creates[1]->errors[0].message,
              "snap operation failed. please check logs for more details");
    for (TestSnapInfo* request : creates) {
        EXPECT_TRUE(request->metaDataWrites.size() == 1u) << "only prepare's record";
    }
    EXPECT_EQ(requestsOf(array, "createSnapshots"), 0u);

    // Unmounts go on past a failed request; the rescan step is skipped.
    Batch unmounts = snapshotted(array, "KY-20261209T024100Z-2");
    mounted(unmounts);
    const size_t rescans = util.rescans.size();
    unmounts[1]->failNext(testhost::SnapOp::GetArrayInfo);
    const std::string untouched = unmounts[1]->metaData;
    const size_t writes = unmounts[1]->metaDataWrites.size();
    ASSERT_EQ(call("kyso_unmapSnaps", unmounts), KYSO::RESULT_PARTIAL);
    EXPECT_EQ(statuses(unmounts),
              (std::vector<int32_t>{KYSO::SNAP_UNMOUNTED, KYSO::SNAP_UNMOUNT_FAILED,
                                    KYSO::SNAP_UNMOUNTED}));
    ASSERT_EQ(unmounts[2]->errors.size(), 1u);
    EXPECT_EQ(unmounts[2]->errors[0].code, KYSO::ERROR_UNMOUNT);
    EXPECT_EQ(unmounts[1]->metaDataWrites.size(), writes);
    EXPECT_EQ(unmounts[1]->metaData, untouched);
    EXPECT_EQ(unmounts[0]->metaDataWrites.back().text,
              preparedRecord("2.0", kOraData, "ora-data", "oracle") + "KY-20261209T024100Z-2-1|");
    EXPECT_EQ(util.rescans.size(), rescans);
    EXPECT_EQ(mappingsOf(array, "MNT_").size(), 1u);
}

TEST_F(BlockLifecycle, PartFailedCreateOnApi20LeavesEarlierSnapshotsOnTheArray) {
    site::SiteArray& array = startArray("arr", mapEsxSmallToDbHost, "2.0");
    hostWith({{kDbHostPort, false}});
    Batch creates = volumes(array, {kOraData, kOraLogs, kEsxSmall});
    step("kyso_prepareDevices", creates, KYSO::RESULT_SUCCESS);
    creates[1]->failNext(testhost::SnapOp::GetArrayInfo);
    ASSERT_EQ(call("kyso_snapDevices", creates), KYSO::RESULT_PARTIAL);
    EXPECT_EQ(statuses(creates), std::vector<int32_t>(3, KYSO::SNAP_CREATE_FAILED));
    EXPECT_EQ(requestsOf(array, "createVolumeSnapshot"), 1u);
    EXPECT_EQ(datasetsWith(array, "volumes", "name", "ora-data")[0]
                      .get<jsonxx::Array>("snapshots")
                      .json()
                      .find(kSnapName) != std::string::npos,
              true);
}

TEST_F(BlockLifecycle, RefusedCredentialsGiveTheHostTheCredentialsMessage) {
    site::SiteArray& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    Batch batch = volumes(array, {kOraData});
    batch[0]->arrayInfo = arrayInfo(array, "wrong-password");
    ASSERT_EQ(call("kyso_prepareDevices", batch), KYSO::RESULT_FAILED);
    EXPECT_EQ(batch[0]->status, KYSO::SNAP_PREPARE_FAILED);
    ASSERT_EQ(batch[0]->errors.size(), 1u);
    EXPECT_EQ(batch[0]->errors[0].code, KYSO::ERROR_PREPARE);
    EXPECT_EQ(batch[0]->errors[0].message,
              "snap operation failed. Access Denied. Please check array user credentials");
    EXPECT_EQ(batch[0]->logText().find("wrong-password"), std::string::npos);
}

}  // namespace
}  // namespace e2e
