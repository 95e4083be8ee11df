// SPDX-License-Identifier: Apache-2.0
// The copy server against array simulators over HTTPS, with simulated host devices: array
// discovery, the storage-server cache, the create batch across arrays, mounting and finding
// clones, VMware and NFS mounts, the drivers through a snapshot's life, proxy identification.
#include <unistd.h>

#include <algorithm>
#include <new>

#include "CopyServerFixture.h"
#include "Faults.h"
#include "HttpTransport.h"
#include "KYSOTypes.h"

namespace {
// While set, allocations that may fail (new (std::nothrow)) on this thread fail: all of them, or
// those of one size (a record that no other such allocation of the call shares).
thread_local bool refuseNothrowNew = false;
thread_local std::size_t refusedNothrowSize = 0;
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (refuseNothrowNew || (refusedNothrowSize != 0 && size == refusedNothrowSize)) {
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace copyserver_test {
namespace {

using testhost::TestSnapInfo;

using site::hexOf;
using site::kEsxInitiator;
using site::kLooseHostPort;

std::string prepared(const char* lun, const char* name) {
    return std::string("2.0|") + lun + "|" + name + "|pool-a|oracle|Local|";
}

uint64_t requestsOf(arraysim::ArraySimulator& simulator, const std::string& method) {
    jsonxx::Object counters = simulator.counters();
    const jsonxx::Object& methods = counters.get<jsonxx::Object>("methods");
    return methods.has<jsonxx::Number>(method)
               ? static_cast<uint64_t>(methods.get<jsonxx::Number>(method))
               : 0;
}

void inject(arraysim::ArraySimulator& simulator, const std::string& method) {
    arraysim::Fault fault;
    fault.method = method;
    simulator.faults().add(fault);
}

// Refuses the next `refusals` HTTP transports, as a client library that cannot start does;
// later ones come from the factory installed before.
class RefusingTransports : public kyplatform::HttpTransportFactory {
public:
    explicit RefusingTransports(int refusals)
        : refusals_(refusals), previous_(kyplatform::setHttpTransportFactory(this)) {}
    ~RefusingTransports() override { kyplatform::setHttpTransportFactory(previous_); }
    std::unique_ptr<kyplatform::HttpTransport> create(
        const kyplatform::HttpTransportSettings& settings, std::string& error) override {
        if (refusals_ > 0) {
            --refusals_;
            error = "refused by the test";
            return nullptr;
        }
        kyplatform::setHttpTransportFactory(previous_);
        auto transport = kyplatform::httpTransportFactory().create(settings, error);
        kyplatform::setHttpTransportFactory(this);
        return transport;
    }

private:
    int refusals_;
    kyplatform::HttpTransportFactory* previous_;
};

class CopyServerArrays : public CopyServerSite {
protected:
    // Snapshots `lun` on `array` as the host's snapshot `snapId`; the request then holds the
    // created record.
    TestSnapInfo& snapshotOf(Array& array, const char* lun, const char* name,
                             const std::string& snapId) {
        TestSnapInfo& request = newRequest(array, SimulatedHostDevice(lun), snapId);
        request.metaData = prepared(lun, name);
        auto server = newCopyServer();
        EXPECT_EQ(drive(*server, {&request}, &CMCopyServerTegile::createCopy)[0], COPY_SUCCESS);
        server->processCmdList();
        EXPECT_EQ(request.status, KYSO::SNAP_CREATED) << request.logText();
        carryOver({&request});
        server->clearCmdList();
        return request;
    }
    // Mounts the requests' snapshots and shows them to the host in a call of their own; the
    // requests then hold the mounted records. False (with the log) when a copy was not shown.
    bool mountAndShow(const std::vector<TestSnapInfo*>& batch) {
        auto mounter = newCopyServer();
        drive(*mounter, batch, &CMCopyServerTegile::mountCopy);
        const Copy_Status status = mounter->mapCopyToHost(false);
        EXPECT_EQ(status, COPY_SUCCESS) << batch.front()->logText();
        mounter->clearCmdList();
        carryOver(batch);
        return status == COPY_SUCCESS;
    }
    static std::string SimulatedHostDevice(const char* lun) {
        return simhost::SimulatedHost::deviceName(lun);
    }
    // The path of the clone made of `snapshotPath`, or "" when there is none.
    std::string cloneOf(Array& array, const std::string& snapshotPath) {
        std::string clone;
        withModel(array, [&](arraysim::Model& model) {
            auto clones = model.clonesOf(snapshotPath);
            clone = clones.empty() ? "" : clones.front();
        });
        return clone;
    }
    std::vector<std::string> groupsMapped(Array& array, const std::string& datasetPath) {
        std::vector<std::string> groups;
        withModel(array, [&](arraysim::Model& model) {
            for (arraysim::Mapping* mapping : model.mappingsOf(datasetPath)) {
                groups.push_back(mapping->initiatorGroup);
            }
        });
        std::sort(groups.begin(), groups.end());
        return groups;
    }
};

TEST_F(CopyServerArrays, VolumeIsPreparedOnTheFirstConfiguredArrayThatServesItsTarget) {
    startArray("other", [](jsonxx::Object& seed) {
        jsonxx::Array none;
        seed.import("targetGroups", none);
        seed.import("mappings", none);
    });
    Array& owner = startArray("owner");
    util.arrayNames.push_back("unreachable");
    util.arrayInfoByName["unreachable"] =
        "{arrayName:x,arrayId:127.0.0.1:1,hostUserName:admin,hostPassword:p,engineName:e}";
    hostWith({{kDbHostPort, false}});

    TestSnapInfo& request = newRequest(owner, SimulatedHostDevice(kOraData));
    request.findArrayHostAnswers[std::string("owner|") + kFcTarget] = 0;
    auto server = newCopyServer();
    ASSERT_EQ(drive(*server, {&request}, &CMCopyServerTegile::prepare)[0], COPY_SUCCESS)
        << request.logText();
    EXPECT_EQ(request.metaDataWrites.back().text, prepared(kOraData, "ora-data"));
    EXPECT_EQ(request.transMetaDataWrites.back().text, "536870912000|8KB|true|FC|");
    EXPECT_EQ(request.status, KYSO::SNAP_PREPARED);
    EXPECT_EQ(request.findArrayHostQueries.back(), std::string("owner|") + kFcTarget);
    // The array after the owner is never asked.
    EXPECT_EQ(util.callCount(testhost::UtilOp::GetArrayInfoByName), 2);

    // An array the host has not registered and no configured array serves: not found.
    TestSnapInfo& stranger = newRequest(owner, SimulatedHostDevice(kOraData));
    util.arrayNames = {"other"};
    EXPECT_EQ(drive(*server, {&stranger}, &CMCopyServerTegile::prepare)[0], COPY_NOT_FOUND);
    EXPECT_EQ(stranger.status, KYSO::SNAP_PREPARE_FAILED);
    EXPECT_TRUE(stranger.logged("not found in HQ database", 2));
}

TEST_F(CopyServerArrays, ArraySearchEndsAtTheFirstArrayThatOwnsTheTargetOrFails) {
    struct Case {
        const char* scenario;
        const char* firstArray;       // an array configured before the owner; null: none
        const char* firstArrayFault;  // a call the first array fails; null: none
        int32_t pairingAnswer;        // the host's answer to registering owner|target
        Copy_Status status;
        int arraysAsked;
        const char* line;                  // the failure line, when the search fails
        int transportsRefused = 0;         // HTTP clients that cannot start, the first ones made
        const char* ownerFault = nullptr;  // a call the owner fails; null: none
    };
    const Case cases[] = {
        {"owner registered", nullptr, nullptr, 0, COPY_SUCCESS, 1, nullptr},
        {"pairing refused", nullptr, nullptr, 1, COPY_NOT_FOUND, 1, "not found in HQ database"},
        // The first array serves the target too, and the host refuses that pairing.
        {"earlier owner refused", "first", nullptr, 0, COPY_NOT_FOUND, 1,
         "not found in HQ database"},
        {"first array cannot look", "first", "listFCTargetGroups", 0, COPY_FAILED, 1,
         "storage server tegile find target failed error [1]"},
        // A client that cannot start fails alike for every array: the owner is not asked.
        {"first array's client cannot start", "first", nullptr, 0, COPY_FAILED, 1,
         "storage server Tegile init  failed error [1]", 1},
        // The search ends well; the prepare on the owner fails, and the request says so.
        {"owner cannot describe itself", nullptr, nullptr, 0, COPY_FAILED, 1,
         "copy prepare command failed error [1]", 0, "listSystemProperties"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        arrays.clear();
        util = testhost::TestOSUtil();
        if (c.firstArray != nullptr) {
            Array& first = startArray(c.firstArray);
            if (c.firstArrayFault != nullptr) {
                inject(*first.simulator, c.firstArrayFault);
            }
        }
        Array& owner = startArray("owner");
        if (c.ownerFault != nullptr) {
            inject(*owner.simulator, c.ownerFault);
        }
        hostWith({{kDbHostPort, false}});
        TestSnapInfo& request = newRequest(owner, SimulatedHostDevice(kOraData));
        request.findArrayHostAnswers[std::string("owner|") + kFcTarget] = c.pairingAnswer;
        RefusingTransports refusing(c.transportsRefused);
        EXPECT_EQ(drive(*newCopyServer(), {&request}, &CMCopyServerTegile::prepare)[0], c.status)
            << request.logText();
        EXPECT_EQ(request.status,
                  c.status == COPY_SUCCESS ? KYSO::SNAP_PREPARED : KYSO::SNAP_PREPARE_FAILED);
        EXPECT_EQ(util.callCount(testhost::UtilOp::GetArrayInfoByName), c.arraysAsked);
        if (c.line != nullptr) {
            EXPECT_TRUE(request.logged(c.line, 2)) << request.logText();
        }
    }
}

TEST_F(CopyServerArrays, BatchCreateReachesEveryArrayAndSharesOneServerPerArray) {
    Array& first = startArray("first");
    Array& second = startArray("second");
    TestSnapInfo& data = newRequest(first, "", "KY-1");
    TestSnapInfo& logs = newRequest(first, "", "KY-1");
    TestSnapInfo& remote = newRequest(second, "", "KY-1");
    data.metaData = prepared(kOraData, "ora-data");
    logs.metaData = prepared(kOraLogs, "ora-logs");
    remote.metaData = prepared(kOraData, "ora-data");

    auto server = newCopyServer();
    const auto statuses = drive(*server, {&data, &logs, &remote}, &CMCopyServerTegile::createCopy);
    EXPECT_EQ(statuses, std::vector<Copy_Status>(3, COPY_SUCCESS));
    server->processCmdList();
    EXPECT_EQ(server->getNumFailedCmds(), 0);
    for (TestSnapInfo* request : {&data, &logs, &remote}) {
        EXPECT_EQ(request->status, KYSO::SNAP_CREATED) << request->logText();
        EXPECT_EQ(request->metaDataWrites.back().text.substr(0, 4), "2.0|");
    }
    EXPECT_EQ(requestsOf(*first.simulator, "createSnapshots"), 1u);
    EXPECT_EQ(requestsOf(*second.simulator, "createSnapshots"), 1u);
    EXPECT_EQ(requestsOf(*first.simulator, "createVolumeSnapshot"), 0u);
    // Both requests on the first array went through one storage server: one connection.
    EXPECT_EQ(first.simulator->counters().get<jsonxx::Number>("connections"), 1);
}

TEST_F(CopyServerArrays, FailedBatchFailsOnlyTheRequestsQueuedOnItsArray) {
    Array& first = startArray("first");
    Array& second = startArray("second");
    inject(*second.simulator, "createSnapshots");
    TestSnapInfo& kept = newRequest(first, "", "KY-2");
    TestSnapInfo& lost = newRequest(second, "", "KY-2");
    kept.metaData = prepared(kOraData, "ora-data");
    lost.metaData = prepared(kOraLogs, "ora-logs");
    lost.status = KYSO::SNAP_CREATE_FAILED;

    auto server = newCopyServer();
    drive(*server, {&kept, &lost}, &CMCopyServerTegile::createCopy);
    server->processCmdList();
    EXPECT_EQ(server->getNumFailedCmds(), 1);
    EXPECT_EQ(kept.status, KYSO::SNAP_CREATED);
    EXPECT_EQ(lost.status, KYSO::SNAP_CREATE_FAILED);
    EXPECT_TRUE(lost.metaDataWrites.empty());
    EXPECT_TRUE(kept.logged("copy batch command processing failed error", 2));
}

TEST_F(CopyServerArrays, FailedSecondCreatePhaseIsCounted) {
    struct Case {
        const char* failing;  // the array call of the second phase that fails; null: none
        int32_t status;       // the request's status after the batch step
        int failures;
    };
    const Case cases[] = {
        {nullptr, KYSO::SNAP_CREATED, 0},
        {"getVolumeSnapshotCreationStatus", KYSO::SNAP_CREATE_FAILED, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing != nullptr ? c.failing : "none");
        arrays.clear();
        Array& array = startArray("arr");
        TestSnapInfo& request = newRequest(array, "", "KY-P" + std::to_string(++n));
        request.metaData = std::string("1.0|") + kOraData + "|ora-data|pool-a|oracle|Local|";
        auto server = newCopyServer();
        ASSERT_EQ(drive(*server, {&request}, &CMCopyServerTegile::createCopy)[0], COPY_SUCCESS)
            << request.logText();
        if (c.failing != nullptr) {
            inject(*array.simulator, c.failing);
        }
        server->processCmdList();
        EXPECT_EQ(server->getNumFailedCmds(), c.failures) << request.logText();
        EXPECT_EQ(request.status, c.status);
        server->clearCmdList();
    }
}

// A copy shown by an earlier look keeps what it was shown as: the retries do not look for it.
TEST_F(CopyServerArrays, CloneSeenOnlyAfterTwoRescansIsFoundOnTheSecondRetryBesideOneSeenAtOnce) {
    Array& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    TestSnapInfo& shown = snapshotOf(array, kOraLogs, "ora-logs", "KY-3S");
    TestSnapInfo& request = snapshotOf(array, kOraData, "ora-data", "KY-3");

    auto server = newCopyServer();
    ASSERT_EQ(drive(*server, {&shown}, &CMCopyServerTegile::mountCopy)[0], COPY_SUCCESS)
        << shown.logText();
    withModel(array, [](arraysim::Model& model) { model.behaviour.mappingVisibilityDelay = 2; });
    ASSERT_EQ(drive(*server, {&request}, &CMCopyServerTegile::mountCopy)[0], COPY_SUCCESS)
        << request.logText();
    EXPECT_EQ(server->mapCopyToHost(false), COPY_FAILED);
    EXPECT_EQ(request.status, KYSO::SNAP_MOUNT_FAILED);
    EXPECT_EQ(shown.status, KYSO::SNAP_MOUNTED) << shown.logText();
    EXPECT_EQ(server->getNumFailedCmds(), 1);
    EXPECT_EQ(server->mapCopyToHost(true), COPY_FAILED);
    ASSERT_EQ(server->mapCopyToHost(true), COPY_SUCCESS) << request.logText();
    EXPECT_EQ(server->getNumFailedCmds(), 0);
    EXPECT_EQ(request.status, KYSO::SNAP_MOUNTED);
    EXPECT_EQ(shown.snapDevicesSet.size(), 1u) << request.logText();
    EXPECT_EQ(shown.metaDataWrites.size(), 2u);  // created, then mounted

    const std::string clone = cloneOf(array, "pool-a/Local/oracle/ora-data@Manual-V-KY-3");
    ASSERT_FALSE(clone.empty());
    std::string cloneLun;
    withModel(array, [&](arraysim::Model& model) { cloneLun = model.findDataset(clone)->luId; });
    ASSERT_FALSE(request.snapDevicesSet.empty()) << request.logText();
    EXPECT_EQ(request.snapDevicesSet.back(), SimulatedHostDevice(cloneLun.c_str()));
    const std::string record = request.metaDataWrites.back().text;
    EXPECT_EQ(record.substr(0, record.find(cloneLun)), prepared(kOraData, "ora-data") + "KY-3|");
    EXPECT_NE(record.find("|MNT_KY-3|db-host-fc|"), std::string::npos) << record;
    // Every attempt rescanned this host through the chosen initiator.
    ASSERT_EQ(util.rescans.size(), 3u);
    EXPECT_EQ(util.rescans[0].initiators, std::vector<std::string>{"21000024FF3D2A10"});
    std::vector<char> hostName(256, '\0');
    ASSERT_EQ(gethostname(hostName.data(), hostName.size() - 1), 0);
    for (const testhost::RescanRecord& rescan : util.rescans) {
        EXPECT_EQ(rescan.host, hostName.data());
    }
}

TEST_F(CopyServerArrays, FirstSearchLooksAtNewDevicesOnlyAndRetriesAtEveryDevice) {
    Array& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    TestSnapInfo& request = snapshotOf(array, kOraData, "ora-data", "KY-N");
    // The host already lists the device the clone will show up as, before the mount.
    std::string cloneLun;
    withModel(array, [&](arraysim::Model& model) {
        arraysim::Model next = model;
        cloneLun = next.newLuId();
    });
    const std::string cloneDevice = SimulatedHostDevice(cloneLun.c_str());
    util.devices[""].push_back(cloneDevice);

    auto server = newCopyServer();
    ASSERT_EQ(drive(*server, {&request}, &CMCopyServerTegile::mountCopy)[0], COPY_SUCCESS)
        << request.logText();
    EXPECT_EQ(server->mapCopyToHost(false), COPY_FAILED);
    EXPECT_EQ(request.status, KYSO::SNAP_MOUNT_FAILED);
    ASSERT_EQ(server->mapCopyToHost(true), COPY_SUCCESS) << request.logText();
    EXPECT_EQ(request.status, KYSO::SNAP_MOUNTED);
    EXPECT_EQ(request.snapDevicesSet, std::vector<std::string>{cloneDevice});
}

TEST_F(CopyServerArrays, VMwareCloneIsMappedToTheEsxServerAndToTheProxy) {
    Array& array = startArray("arr");
    hostWith({{"21:00:00:24:ff:4e:3b:20", false}});
    const std::string identifier = "{hostType:esx,esxname:esx01,address:10.0.0.9}";
    util.remoteInitiators[identifier] = {{"iqn.1998-01.com.vmware:esx01-4f5a2b", true}};
    const std::string description =
        "{idatype:vmware,standardinqury:" +
        hexOf(simhost::standardInquiryData("TEGILE", "INTELLIFLASH")) + ",lunuuid:0200000000" +
        std::string(kEsxDs1) +
        "494e54,targetidentifier:iqn.2012-02.com.tegile:pool-a-target,vendor:TEGILE}";
    TestSnapInfo& request = newRequest(array, description, "KY-4");
    request.hostIdentifier = identifier;
    request.metaData = std::string("2.0|") + kEsxDs1 + "|esx-ds1|pool-a|vmware|Local|";
    auto creator = newCopyServer();
    drive(*creator, {&request}, &CMCopyServerTegile::createCopy);
    creator->processCmdList();
    creator->clearCmdList();
    carryOver({&request});

    auto server = newCopyServer();
    ASSERT_EQ(drive(*server, {&request}, &CMCopyServerTegile::mountCopy)[0], COPY_SUCCESS)
        << request.logText();
    const CMCopyContext* context = server->getCopyContext();
    EXPECT_EQ(context->getAppType(), "vmware");
    EXPECT_EQ(context->getESXHostName(), "esx01");
    EXPECT_EQ(context->getRemoteInitiatorName(), "iqn.1998-01.com.vmware:esx01-4f5a2b");
    EXPECT_EQ(context->getRemoteInitiatorGroup(), "esx-iscsi");
    EXPECT_EQ(context->getLocalInitiatorName(), "21000024FF4E3B20");
    const std::string clone = cloneOf(array, "pool-a/Local/vmware/esx-ds1@Manual-V-KY-4");
    EXPECT_EQ(groupsMapped(array, clone),
              (std::vector<std::string>{context->getLocalInitiatorGroup(), "esx-iscsi"}));
    // The first mapping names the ESX server, the second the call's host (the server's
    // identifier): the clone's record, as logged, says so.
    EXPECT_TRUE(request.logged("\nTARGET_DEVICE_MAPPING_HOST_NAME:esx01\n")) << request.logText();
    EXPECT_TRUE(request.logged("\nTARGET_DEVICE_MAPPING_HOST_NAME2:" + identifier + "\n"));

    // The ESX server also lists a description too short to hold a LUN id: it is skipped.
    esxWith(util.remoteInitiators[identifier]);
    auto listed = util.onRescan;
    util.onRescan = [&, listed](const testhost::RescanRecord& record) {
        listed(record);
        util.devices[identifier].insert(util.devices[identifier].begin(),
                                        "{idatype:vmware,lunuuid:0200000000}");
    };
    ASSERT_EQ(server->mapCopyToHost(false), COPY_SUCCESS) << request.logText();
    EXPECT_EQ(request.status, KYSO::SNAP_MOUNTED);
    EXPECT_TRUE(request.logged("has no LUN ID in its lunuuid, skipped", 2));
    EXPECT_EQ(util.rescans.back().host, identifier);
}

TEST_F(CopyServerArrays, MountContextFailsWithoutWhatTheMappingNeedsButSkipsAVMwareProxy) {
    const std::string vmware = "{idatype:vmware,standardinqury:" +
                               hexOf(simhost::standardInquiryData("TEGILE", "INTELLIFLASH")) +
                               ",lunuuid:0200000000" + std::string(kEsxDs1) +
                               "494e54,targetidentifier:iqn.2012-02.com.tegile:pool-a-target}";
    struct Case {
        const char* scenario;
        std::string description;
        std::vector<testhost::Initiator> local;
        const char* failing;  // an array call that fails once
        Copy_Status status;
        std::string localName;
        const char* line;
        bool deviceListRefused = false;  // the host cannot list its devices before the mapping
    };
    const Case cases[] = {
        {"VMware with a proxy port",
         vmware,
         {{kLooseHostPort, false}},
         nullptr,
         COPY_SUCCESS,
         "21000024FF4E3B20",
         nullptr},
        {"VMware without proxy initiators",
         vmware,
         {},
         nullptr,
         COPY_SUCCESS,
         "",
         "select local initiator failed for vmware device - skipping"},
        {"block device without a choice",
         SimulatedHostDevice(kOraData),
         {{kLooseHostPort, false}},
         "createInitiatorGroup",
         COPY_FAILED,
         "",
         "select local initiator failed"},
        // Without the devices seen before, a new one could not be told from an old one.
        {"block device whose device list is refused",
         SimulatedHostDevice(kOraData),
         {{kLooseHostPort, false}},
         nullptr,
         COPY_FAILED,
         "21000024FF4E3B20",
         "scan devices failed error [1]",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        arrays.clear();
        util = testhost::TestOSUtil();
        Array& array = startArray("arr");
        if (c.failing != nullptr) {
            inject(*array.simulator, c.failing);
        }
        esx.reset();  // it saw the previous row's array
        hostWith(c.local);
        esxWith({{kEsxInitiator, true}});
        TestSnapInfo& request = newRequest(array, c.description);
        request.hostIdentifier = site::kEsxIdentifier;
        if (c.deviceListRefused) {
            util.script(testhost::UtilOp::GetDeviceList, -1);
        }
        auto server = newCopyServer();
        CMCopyRequest wrapper(&request);
        server->setLogger(&request);
        server->setCopyRequest(&wrapper);
        EXPECT_EQ(server->createCopyContext("mount"), c.status) << request.logText();
        EXPECT_EQ(server->getCopyContext()->getLocalInitiatorName(), c.localName);
        if (c.line != nullptr) {
            EXPECT_TRUE(request.logged(c.line, 2)) << request.logText();
        }
    }
}

TEST_F(CopyServerArrays, UnmapNamesOnlyTheDevicesTheHostShowed) {
    Array& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    TestSnapInfo& data = snapshotOf(array, kOraData, "ora-data", "KY-U");
    TestSnapInfo& logs = snapshotOf(array, kOraLogs, "ora-logs", "KY-U");
    ASSERT_TRUE(mountAndShow({&data, &logs}));
    ASSERT_FALSE(data.snapDevicesSet.empty());
    data.snapDevice = data.snapDevicesSet.back();
    logs.snapDevice.clear();  // the host no longer knows which device showed it

    auto unmounter = newCopyServer();
    EXPECT_EQ(drive(*unmounter, {&data, &logs}, &CMCopyServerTegile::unmountCopy),
              std::vector<Copy_Status>(2, COPY_SUCCESS));
    EXPECT_EQ(unmounter->unmapCopyFromHost(), COPY_SUCCESS);
    EXPECT_EQ(util.rescans.back().devices, std::vector<std::string>{data.snapDevice});
    unmounter->clearCmdList();
}

TEST_F(CopyServerArrays, UnmountThatCannotKeepItsRequestFailsBeforeTheArrayIsAsked) {
    Array& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    TestSnapInfo& data = snapshotOf(array, kOraData, "ora-data", "KY-K");
    ASSERT_TRUE(mountAndShow({&data}));
    ASSERT_FALSE(data.snapDevicesSet.empty());
    data.snapDevice = data.snapDevicesSet.back();
    const uint64_t deletes = requestsOf(*array.simulator, "deleteVolume");
    const uint64_t unmaps = requestsOf(*array.simulator, "deleteMappingFromVolume");

    auto unmounter = newCopyServer();
    refusedNothrowSize = sizeof(CMCopyRequest);
    const std::vector<Copy_Status> statuses =
        drive(*unmounter, {&data}, &CMCopyServerTegile::unmountCopy);
    refusedNothrowSize = 0;
    EXPECT_EQ(statuses, std::vector<Copy_Status>{COPY_NO_MEMORY});
    EXPECT_EQ(data.status, KYSO::SNAP_UNMOUNT_FAILED);
    EXPECT_TRUE(data.logged("CMCopyRequest object allocation failed", 2)) << data.logText();
    EXPECT_EQ(requestsOf(*array.simulator, "deleteVolume"), deletes);
    EXPECT_EQ(requestsOf(*array.simulator, "deleteMappingFromVolume"), unmaps);
    // Nothing was kept, so the rescan names no device.
    const size_t rescans = util.rescans.size();
    EXPECT_EQ(unmounter->unmapCopyFromHost(), COPY_SUCCESS);
    ASSERT_EQ(util.rescans.size(), rescans + 1);
    EXPECT_TRUE(util.rescans.back().devices.empty());
    unmounter->clearCmdList();
}

TEST_F(CopyServerArrays, MountStopsAtTheFailingStepAndMakesNothingAfterIt) {
    struct Case {
        const char* fault;
        bool iscsiHost;
        bool cloneMade;
    };
    const Case cases[] = {
        {"cloneVolumeSnapshot", false, false},
        {"createMappingForVolume", false, true},
        {"createInitiatorGroup", true, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        arrays.clear();
        Array& array = startArray("arr");
        if (c.iscsiHost) {
            hostWith({{"iqn.1994-05.com.redhat:newhost", true}});
        } else {
            hostWith({{kDbHostPort, false}});
        }
        const std::string snap = "KY-F" + std::to_string(++n);
        TestSnapInfo& request = snapshotOf(array, kOraData, "ora-data", snap);
        inject(*array.simulator, c.fault);
        request.status = KYSO::SNAP_MOUNT_FAILED;
        auto server = newCopyServer();
        EXPECT_NE(drive(*server, {&request}, &CMCopyServerTegile::mountCopy)[0], COPY_SUCCESS);
        EXPECT_EQ(request.status, KYSO::SNAP_MOUNT_FAILED);
        const std::string clone = cloneOf(array, "pool-a/Local/oracle/ora-data@Manual-V-" + snap);
        EXPECT_EQ(!clone.empty(), c.cloneMade);
        if (!clone.empty()) {
            EXPECT_TRUE(groupsMapped(array, clone).empty());
        }
        EXPECT_EQ(requestsOf(*array.simulator, "createMappingForVolume"),
                  std::string(c.fault) == "createMappingForVolume" ? 1u : 0u);
    }
}

TEST_F(CopyServerArrays, MappingThatCannotLookFailsWholeAndChangesNoStatus) {
    Array& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    TestSnapInfo& request = snapshotOf(array, kOraData, "ora-data", "KY-W");
    auto server = newCopyServer();
    ASSERT_EQ(drive(*server, {&request}, &CMCopyServerTegile::mountCopy)[0], COPY_SUCCESS)
        << request.logText();
    struct Case {
        const char* line;
        std::function<void()> fault;
        std::function<void()> mend;
        Copy_Status status;
    };
    const Case cases[] = {
        {"OS util refresh bus failed", [&] { util.refreshBusAnswer = false; },
         [&] { util.refreshBusAnswer = true; }, COPY_FAILED},
        {"scan devices failed", [&] { util.script(testhost::UtilOp::GetDeviceList, -1); }, [] {},
         COPY_FAILED},
        {"allocation of memory for new discovered device failed", [] { refuseNothrowNew = true; },
         [] { refuseNothrowNew = false; }, COPY_NO_MEMORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        c.fault();
        const Copy_Status status = server->mapCopyToHost(true);
        c.mend();
        EXPECT_EQ(status, c.status);
        EXPECT_TRUE(request.logged(c.line, 2)) << request.logText();
        EXPECT_EQ(request.status, KYSO::SNAP_CREATED);
        EXPECT_TRUE(request.snapDevicesSet.empty());
        EXPECT_EQ(server->getNumFailedCmds(), 1);
    }
    EXPECT_EQ(server->mapCopyToHost(true), COPY_SUCCESS) << request.logText();
    EXPECT_EQ(request.status, KYSO::SNAP_MOUNTED);
}

TEST_F(CopyServerArrays, MountAgainMakesNoCloneOnlyWhileTheDeviceStillShowsIt) {
    Array& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    TestSnapInfo& shown = snapshotOf(array, kOraData, "ora-data", "KY-M1");
    ASSERT_TRUE(mountAndShow({&shown}));
    ASSERT_FALSE(shown.snapDevicesSet.empty());
    TestSnapInfo& stale = snapshotOf(array, kOraLogs, "ora-logs", "KY-M2");
    struct Case {
        TestSnapInfo* request;
        std::string snapDevice;
        int32_t status;  // after the mount driver
        uint64_t clonesMade;
    };
    const Case cases[] = {
        {&shown, shown.snapDevicesSet.back(), KYSO::SNAP_MOUNTED, 0u},
        // A device that shows another LUN does not stand for the copy.
        {&stale, SimulatedHostDevice(kOraData), KYSO::SNAP_CREATED, 1u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request->snapUUID);
        c.request->snapDevice = c.snapDevice;
        c.request->status = KYSO::SNAP_CREATED;
        const uint64_t before = requestsOf(*array.simulator, "cloneVolumeSnapshot");
        auto server = newCopyServer();
        EXPECT_EQ(drive(*server, {c.request}, &CMCopyServerTegile::mountCopy)[0], COPY_SUCCESS)
            << c.request->logText();
        EXPECT_EQ(c.request->status, c.status);
        EXPECT_EQ(requestsOf(*array.simulator, "cloneVolumeSnapshot") - before, c.clonesMade);
    }
}

TEST_F(CopyServerArrays, MountMapsThroughTheConfiguredTargetGroup) {
    Array& array = startArray("arr", [](jsonxx::Object& seed) {
        jsonxx::Array groups = seed.get<jsonxx::Array>("targetGroups");
        jsonxx::Object group;
        group.parse(R"({"name":"fc-second","protocol":"FC","targets":["wwn.2101001B32A1B2C3"]})");
        groups.append(group);
        seed.import("targetGroups", groups);
    });
    hostWith({{kDbHostPort, false}});
    TestSnapInfo& request = snapshotOf(array, kOraData, "ora-data", "KY-T");
    request.configStrings["SMCONFIG_NAME_TARGET_GROUP"] = "fc-second";
    auto server = newCopyServer();
    ASSERT_EQ(drive(*server, {&request}, &CMCopyServerTegile::mountCopy)[0], COPY_SUCCESS)
        << request.logText();
    const std::string clone = cloneOf(array, "pool-a/Local/oracle/ora-data@Manual-V-KY-T");
    std::vector<std::string> targetGroups;
    withModel(array, [&](arraysim::Model& model) {
        for (arraysim::Mapping* mapping : model.mappingsOf(clone)) {
            targetGroups.push_back(mapping->targetGroup);
        }
    });
    EXPECT_EQ(targetGroups, std::vector<std::string>{"fc-second"});
}

TEST_F(CopyServerArrays, InitiatorIsChosenFcFirstThenTheFirstIscsiOne) {
    const std::string known = "21:00:00:24:FF:3D:2A:10";
    const std::string loose = "21:00:00:24:FF:4E:3B:20";
    struct Case {
        const char* scenario;
        std::list<std::string> fc;
        std::list<std::string> iscsi;
        const char* failing;  // an array call that fails once
        Copy_Status status;
        std::string name;
        std::string type;
        const char* knownPort = nullptr;  // an FC port the array also knows in db-host-fc
    };
    const Case cases[] = {
        {"FC wins", {known}, {kEsxInitiator}, nullptr, COPY_SUCCESS, "21000024FF3D2A10", "FC"},
        {"only the first iSCSI",
         {},
         {"iqn.1994-05.com.redhat:new", kEsxInitiator},
         nullptr,
         COPY_SUCCESS,
         "iqn.1994-05.com.redhat:new",
         "ISCSI"},
        {"iSCSI after a failed FC choice",
         {loose},
         {kEsxInitiator},
         "createInitiatorGroup",
         COPY_SUCCESS,
         kEsxInitiator,
         "ISCSI"},
        {"nothing to choose", {}, {}, nullptr, COPY_FAILED, "", ""},
        // An FC answer that is the prefix alone names an empty initiator, still an FC choice.
        {"FC prefix alone", {""}, {kEsxInitiator}, nullptr, COPY_SUCCESS, "", "FC", "wwn."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        arrays.clear();
        Array& array = startArray("arr", [&](jsonxx::Object& seed) {
            if (c.knownPort == nullptr) {
                return;
            }
            jsonxx::Array groups;
            groups.parse(std::string(R"([{"name":"db-host-fc","protocol":"FC","initiators":[")") +
                         c.knownPort + R"("]},{"name":"esx-iscsi","protocol":"ISCSI",)" +
                         R"("initiators":["iqn.1998-01.com.vmware:esx01-4f5a2b"]}])");
            seed.import("initiatorGroups", groups);
        });
        if (c.failing != nullptr) {
            inject(*array.simulator, c.failing);
        }
        TestSnapInfo& request = newRequest(array, "/dev/sdb");
        auto server = newCopyServer();
        CMCopyRequest wrapper(&request);
        server->setLogger(&request);
        server->setCopyRequest(&wrapper);
        ASSERT_EQ(server->createCopyContext("prepare"), COPY_SUCCESS) << request.logText();
        std::string name, group, type;
        EXPECT_EQ(server->selectInitiator(c.fc, c.iscsi, name, group, type), c.status)
            << request.logText();
        EXPECT_EQ(name, c.name) << request.logText();
        EXPECT_EQ(type, c.type);
    }
}

TEST_F(CopyServerArrays, NfsCopyIsReportedAtTheClonesMountPointBelowWhichTheDatastoreLies) {
    Array& array = startArray("arr");
    const std::string datastore =
        "{idatype:vmware,type:nfs,targethostname:arr1,lunuuid:/export/files/home/vm\\dir,nfsver:3}";
    TestSnapInfo& request = newRequest(array, datastore, "KY-5");
    request.hostIdentifier = "{hostType:esx,esxname:esx01,address:10.0.0.9}";
    auto preparer = newCopyServer();
    ASSERT_EQ(drive(*preparer, {&request}, &CMCopyServerTegile::prepare)[0], COPY_SUCCESS)
        << request.logText();
    carryOver({&request});
    jsonxx::Object record;
    ASSERT_TRUE(record.parse(request.metaData)) << request.metaData;
    EXPECT_EQ(record.get<jsonxx::String>("SOURCE_DEVICE_MOUNTPOINT_NAME"), "/export/files/home");
    auto creator = newCopyServer();
    drive(*creator, {&request}, &CMCopyServerTegile::createCopy);
    creator->processCmdList();
    creator->clearCmdList();
    ASSERT_EQ(request.status, KYSO::SNAP_CREATED) << request.logText();
    carryOver({&request});

    // The second request names a datastore path above the share: nothing can be reported.
    TestSnapInfo& above = newRequest(array, datastore, "KY-5");
    above.device = "{idatype:vmware,type:nfs,targethostname:arr1,lunuuid:/export/fi,nfsver:3}";
    above.hostIdentifier = request.hostIdentifier;
    above.metaData = request.metaData;
    auto server = newCopyServer();
    EXPECT_EQ(drive(*server, {&request, &above}, &CMCopyServerTegile::mountCopy),
              std::vector<Copy_Status>(2, COPY_SUCCESS));
    EXPECT_EQ(server->mapCopyToHost(false), COPY_SUCCESS);
    EXPECT_EQ(server->getNumFailedCmds(), 1);
    EXPECT_EQ(request.status, KYSO::SNAP_MOUNTED);
    ASSERT_FALSE(request.snapDevicesSet.empty()) << request.logText();
    const std::string& reported = request.snapDevicesSet.back();
    EXPECT_EQ(reported.rfind(" { idatype:vmware,vendor:Tegile,type:nfs,nfsver:NFS,standardinqury:,"
                             "lunuuid:/export/",
                             0),
              0u)
        << reported;
    EXPECT_EQ(reported.substr(reported.size() - 27), "/vmdir,targethostname:arr1}");
    EXPECT_EQ(above.status, KYSO::SNAP_MOUNT_FAILED);
    EXPECT_TRUE(above.snapDevicesSet.empty());
    EXPECT_TRUE(util.rescans.empty());
}

TEST_F(CopyServerArrays, SnapshotLivesThroughEveryDriver) {
    Array& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    TestSnapInfo& request = snapshotOf(array, kOraData, "ora-data", "KY-6");
    ASSERT_TRUE(mountAndShow({&request}));
    ASSERT_FALSE(request.snapDevicesSet.empty()) << request.logText();
    request.snapDevice = request.snapDevicesSet.back();
    const std::string snapshot = "pool-a/Local/oracle/ora-data@Manual-V-KY-6";

    // Mapping again finds the copy still shown by the host's device: no second clone.
    auto again = newCopyServer();
    EXPECT_EQ(drive(*again, {&request}, &CMCopyServerTegile::mountCopy)[0], COPY_SUCCESS);
    EXPECT_TRUE(request.logged("device already mapped to host device name"));
    EXPECT_EQ(requestsOf(*array.simulator, "cloneVolumeSnapshot"), 1u);

    auto unmounter = newCopyServer();
    EXPECT_EQ(drive(*unmounter, {&request}, &CMCopyServerTegile::unmountCopy)[0], COPY_SUCCESS);
    EXPECT_EQ(request.status, KYSO::SNAP_UNMOUNTED);
    EXPECT_EQ(unmounter->unmapCopyFromHost(), COPY_SUCCESS);
    EXPECT_EQ(util.rescans.back().devices, std::vector<std::string>{request.snapDevice});
    EXPECT_EQ(util.rescans.back().host, "");
    EXPECT_EQ(cloneOf(array, snapshot), "");
    unmounter->clearCmdList();
    carryOver({&request});
    request.snapDevice.clear();

    auto checker = newCopyServer();
    request.status = KYSO::SNAP_UNMOUNTED;
    EXPECT_EQ(drive(*checker, {&request}, &CMCopyServerTegile::reconcileCopy)[0], COPY_SUCCESS);
    EXPECT_EQ(request.status, KYSO::SNAP_UNMOUNTED);
    EXPECT_EQ(drive(*newCopyServer(), {&request}, &CMCopyServerTegile::revertCopy)[0],
              COPY_SUCCESS);
    EXPECT_EQ(request.status, KYSO::SNAP_REVERTED);
    EXPECT_EQ(drive(*newCopyServer(), {&request}, &CMCopyServerTegile::deleteCopy)[0],
              COPY_SUCCESS);
    EXPECT_EQ(request.status, KYSO::SNAP_DELETED);
    EXPECT_EQ(drive(*newCopyServer(), {&request}, &CMCopyServerTegile::reconcileCopy)[0],
              COPY_SUCCESS);
    EXPECT_EQ(request.status, KYSO::SNAP_UNAVAILABLE);
    withModel(array, [&](arraysim::Model& model) {
        auto* volume = model.findDataset("pool-a/Local/oracle/ora-data");
        EXPECT_EQ(volume->findSnapshot("Manual-V-KY-6"), nullptr);
        EXPECT_EQ(volume->lastRollback, "Manual-V-KY-6");
    });
}

TEST_F(CopyServerArrays, VpdAndProxyDevicesAreIdentifiedByTargetAndLun) {
    Array& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    TestSnapInfo& vpd = newRequest(array, SimulatedHostDevice(kOraData));
    vpd.findArrayHostDefault = 0;
    ASSERT_EQ(drive(*newCopyServer(), {&vpd}, &CMCopyServerTegile::processVPD)[0], COPY_SUCCESS);
    EXPECT_EQ(vpd.lunIdsSet, std::vector<std::string>{kOraData});
    EXPECT_EQ(vpd.targetIdsSet, std::vector<std::string>{kFcTarget});

    TestSnapInfo& request = snapshotOf(array, kOraData, "ora-data", "KY-7");
    ASSERT_TRUE(mountAndShow({&request}));
    ASSERT_FALSE(request.snapDevicesSet.empty()) << request.logText();
    const std::string proxyDevice = request.snapDevicesSet.back();

    auto server = newCopyServer();
    CMCopyRequest wrapper(&request);
    server->setLogger(&request);
    server->setCopyRequest(&wrapper);
    // The host's cached data is the request's own device: proxies are asked themselves.
    request.inquiryData[0] = simhost::standardInquiryData("TEGILE", "INTELLIFLASH");
    request.inquiryData[0x83] = simhost::identificationPageData(kOraLogs, kFcTarget);
    CMCopyServerTegile::ProxyDeviceMap proxies;
    EXPECT_EQ(server->getArrayIdLunId({"/dev/sim/ABSENT", SimulatedHostDevice(kOraLogs),
                                       proxyDevice, "{idatype:vmware,lunuuid:x}"},
                                      proxies),
              COPY_SUCCESS);
    EXPECT_EQ(proxies.size(), 2u);
    EXPECT_TRUE(request.logged("Failed to get scsi device properties device [/dev/sim/ABSENT]"));

    std::list<std::string> found;
    request.snapProperties[KYSO::SNAP_PROPERTY_PROXY] = "proxy01 wwn.0000000000000000";
    EXPECT_EQ(server->getHBXProxyDevices(proxies, found), COPY_SUCCESS);
    EXPECT_TRUE(found.empty());
    request.snapProperties[KYSO::SNAP_PROPERTY_PROXY] = std::string("proxy01 ") + kFcTarget;
    EXPECT_EQ(server->getHBXProxyDevices(proxies, found), COPY_SUCCESS);
    EXPECT_EQ(found, std::list<std::string>{proxyDevice});
}

}  // namespace
}  // namespace copyserver_test
