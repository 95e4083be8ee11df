// SPDX-License-Identifier: Apache-2.0
// End to end for what the host sees: a VMware device mapped to the ESX server and its proxy,
// an NFS datastore, VPD processing and proxy identification, and the support check.
#include <algorithm>

#include "PluginSite.h"
#include "Transcript.h"

namespace e2e {
namespace {

using site::kDbHostPort;
using site::kEsxDs1;
using site::kEsxIdentifier;
using site::kEsxInitiator;
using site::kFcTarget;
using site::kLooseHostPort;
using site::kOraData;
using site::kOraLogs;

const char* const kIntelliFlashKey = "TEGILE  |::|INTELLIFLASH    ";

class HostView : public PluginSite {};

TEST_F(HostView, VMwareDeviceIsMappedToTheEsxServerAndToTheProxy) {
    site::SiteArray& array = startArray("arr");
    hostWith({{kLooseHostPort, false}});
    esxWith({{kEsxInitiator, true}});
    ASSERT_EQ(esx->luns().size(), 1u);
    Batch batch = volumes(array, {kEsxDs1});
    batch[0]->device = vmwareDescription(esx->luns()[0]);
    batch[0]->hostIdentifier = kEsxIdentifier;

    step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(batch[0]->metaData, std::string("2.0|") + kEsxDs1 + "|esx-ds1|pool-a|vmware|Local|");
    step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
    step("kyso_mapSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(batch[0]->status, KYSO::SNAP_MOUNTED);

    // The clone is mapped to the ESX server's group and to a group of the proxy's port, and
    // the host is told the ESX server's description of it.
    const auto mappings = mappingsOf(array, std::string("MNT_") + batch[0]->snapUUID);
    ASSERT_EQ(mappings.size(), 2u);
    std::vector<std::string> groups;
    for (const auto& mapping : mappings) {
        groups.push_back(mapping.get<jsonxx::String>("initiatorGroup"));
    }
    EXPECT_NE(std::find(groups.begin(), groups.end(), "esx-iscsi"), groups.end());
    const std::string proxyGroup = groups[0] == "esx-iscsi" ? groups[1] : groups[0];
    EXPECT_NE(
        state(array).get<jsonxx::Array>("initiatorGroups").json().find("wwn.21000024FF4E3B20"),
        std::string::npos);
    EXPECT_EQ(proxyGroup, "KY-esx01-FC");
    const std::string tail = "|esx-iscsi|default-pool-a-iscsi-target-group|";
    const std::string& record = batch[0]->metaData;
    EXPECT_EQ(record.compare(record.size() - tail.size(), tail.size(), tail), 0) << record;
    ASSERT_FALSE(batch[0]->snapDevicesSet.empty()) << batch[0]->logText();
    const std::string& device = batch[0]->snapDevicesSet.back();
    EXPECT_EQ(device.rfind("{idatype:vmware", 0), 0u) << device;
    EXPECT_NE(util.rescans.back().initiators.size(), 1u);  // the proxy's and the server's

    carryOver(batch);
    step("kyso_unmapSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(util.rescans.back().host, kEsxIdentifier);
    step("kyso_deleteSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_TRUE(mappingsOf(array, "MNT_").empty());
    EXPECT_FALSE(holdsSnapshot(array, "KY-"));
}

TEST_F(HostView, NfsDatastoreLivesThroughPrepareSnapMountUnmountAndDelete) {
    site::SiteArray& array = startArray("arr");
    TestSnapInfo& request = newRequest(
        array,
        "{idatype:vmware,type:nfs,targethostname:arr1,lunuuid:/export/files/home/vm01,nfsver:3}",
        "KY-20261209T024100Z-9");
    request.hostIdentifier = kEsxIdentifier;
    const Batch batch = {&request};

    // The share is found by walking up from the datastore path to its mount point.
    step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
    jsonxx::Object record;
    ASSERT_TRUE(record.parse(request.metaData)) << request.metaData;
    EXPECT_EQ(record.get<jsonxx::String>("SOURCE_DEVICE_MOUNTPOINT_NAME"), "/export/files/home");
    EXPECT_EQ(record.get<jsonxx::String>("SOURCE_DEVICE_NAME"), "home");
    EXPECT_EQ(record.get<jsonxx::String>("META_DATA_VERSION"), "2.0");

    step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(requestsOf(array, "createSnapshots"), 1u);
    EXPECT_TRUE(holdsSnapshot(array, "Manual-S-KY-20261209T024100Z-9"));

    step("kyso_mapSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(request.status, KYSO::SNAP_MOUNTED);
    const auto clones = datasetsWith(array, "shares", "name", "MNT_KY-20261209T024100Z-9");
    ASSERT_EQ(clones.size(), 1u);
    ASSERT_FALSE(request.snapDevicesSet.empty()) << request.logText();
    EXPECT_EQ(request.snapDevicesSet.back(),
              " { idatype:vmware,vendor:Tegile,type:nfs,nfsver:NFS,standardinqury:,lunuuid:" +
                  clones[0].get<jsonxx::String>("mountpoint") + "/vm01,targethostname:arr1}");
    EXPECT_TRUE(util.rescans.empty());

    step("kyso_unmapSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(request.status, KYSO::SNAP_UNMOUNTED);
    EXPECT_TRUE(datasetsWith(array, "shares", "name", "MNT_").empty());
    step("kyso_deleteSnaps", batch, KYSO::RESULT_SUCCESS);
    EXPECT_FALSE(holdsSnapshot(array, "KY-"));
}

TEST_F(HostView, VpdRegistersTheArrayAndProxyDevicesAreMatchedToMountedCopies) {
    site::SiteArray& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    Batch vpd = volumes(array, {kOraData});
    vpd[0]->findArrayHostDefault = 1;  // the host has not seen this target yet
    vpd[0]->findArrayHostAnswers[std::string("arr|") + kFcTarget] = 0;
    step("kyso_processVPDInfo", vpd, KYSO::RESULT_SUCCESS);
    EXPECT_EQ(vpd[0]->lunIdsSet, std::vector<std::string>{kOraData});
    EXPECT_EQ(vpd[0]->targetIdsSet, std::vector<std::string>{kFcTarget});
    EXPECT_EQ(vpd[0]->findArrayHostQueries.back(), std::string("arr|") + kFcTarget);

    Batch batch = volumes(array, {kOraData, kOraLogs});
    step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
    step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
    step("kyso_mapSnaps", batch, KYSO::RESULT_SUCCESS);
    for (TestSnapInfo* request : batch) {
        request->snapProperties[KYSO::SNAP_PROPERTY_PROXY] = std::string("proxy01,") + kFcTarget;
    }
    ASSERT_FALSE(batch[0]->snapDevicesSet.empty()) << batch[0]->logText();
    ASSERT_FALSE(batch[1]->snapDevicesSet.empty()) << batch[1]->logText();
    const std::string dataClone = batch[0]->snapDevicesSet.back();
    const std::string logsClone = batch[1]->snapDevicesSet.back();

    std::vector<KYSO::SnapInfo*> requests(batch.begin(), batch.end());
    auto identify = plugin.fn<KYSO::IdentifyDevicesFn>("kyso_identifyDevices");
    int16_t reserved = 0;
    Transcript transcript(batch);
    KYSO::DeviceMap untouched = {{kIntelliFlashKey, {logsClone, "/dev/sim/ABSENT"}}};
    transcript.note("no requests counted");
    EXPECT_EQ(identify(requests.data(), 0, untouched, 3, reserved, &util), KYSO::RESULT_FAILED);
    transcript.note("operation 2");
    EXPECT_EQ(identify(requests.data(), 2, untouched, 2, reserved, &util), KYSO::RESULT_SUCCESS);
    EXPECT_EQ(untouched[kIntelliFlashKey].size(), 2u);

    KYSO::DeviceMap devices = {
        {kIntelliFlashKey,
         {simhost::SimulatedHost::deviceName(kOraData), logsClone, "/dev/sim/ABSENT", dataClone}},
        {"OTHER   |::|DISK            ", {"/dev/sdz"}}};
    transcript.note("operation 3 over four devices");
    EXPECT_EQ(identify(requests.data(), 2, devices, 3, reserved, &util), KYSO::RESULT_SUCCESS);
    EXPECT_EQ(devices[kIntelliFlashKey], (std::list<std::string>{dataClone, logsClone}));
    EXPECT_EQ(devices["OTHER   |::|DISK            "], std::list<std::string>{"/dev/sdz"});

    KYSO::DeviceMap none = {{"OTHER   |::|DISK            ", {"/dev/sdz"}}};
    transcript.note("operation 3 without IntelliFlash devices");
    EXPECT_EQ(identify(requests.data(), 2, none, 3, reserved, &util), KYSO::RESULT_SUCCESS);
    transcript.outcome(KYSO::RESULT_SUCCESS);
    expectGolden("kyso_identifyDevices", transcript.text());
    EXPECT_TRUE(
        batch[0]->logged("None of the mounted devices belongs to vendor [TEGILE  ] and "
                         "product [INTELLIFLASH    ]"));
}

TEST_F(HostView, SupportIsGivenOnlyToIntelliFlashDevices) {
    startArray("arr");
    hostWith({{kDbHostPort, false}});
    simhost::SimulatedDevice acme;
    acme.standard = simhost::standardInquiryData("ACME", "INTELLIFLASH");
    acme.page83 = simhost::identificationPageData(kOraData, kFcTarget);
    host->devices().setDevice("/dev/acme", acme);
    // The array's vendor with another product, and both names in another case.
    const std::pair<const char*, simhost::SimulatedDevice> others[] = {
        {"/dev/other-product", {simhost::standardInquiryData("TEGILE", "T4700"), acme.page83}},
        {"/dev/lower-vendor",
         {simhost::standardInquiryData("tegile", "INTELLIFLASH"), acme.page83}},
        {"/dev/lower-product",
         {simhost::standardInquiryData("TEGILE", "IntelliFlash"), acme.page83}},
    };
    for (const auto& [name, device] : others) {
        host->devices().setDevice(name, device);
    }
    auto isSupported = plugin.fn<KYSO::IsSupportedFn>("kyso_isSupported");
    const std::string padded = site::hexOf(simhost::standardInquiryData("TEGILE", "INTELLIFLASH"));
    const std::string otherProduct = site::hexOf(simhost::standardInquiryData("TEGILE", "T4700"));
    const std::pair<std::string, KYSO::ResultCode> cases[] = {
        {simhost::SimulatedHost::deviceName(kOraData), KYSO::RESULT_SUCCESS},
        {"/dev/acme", KYSO::RESULT_FAILED},
        {"/dev/sim/ABSENT", KYSO::RESULT_FAILED},
        {"{idatype:vmware,lunuuid:x,standardinqury:" + padded + ",type:vmfs}",
         KYSO::RESULT_SUCCESS},
        {"{idatype:vmware,lunuuid:x,type:vmfs}", KYSO::RESULT_FAILED},
        {"/dev/other-product", KYSO::RESULT_FAILED},
        {"/dev/lower-vendor", KYSO::RESULT_FAILED},
        {"/dev/lower-product", KYSO::RESULT_FAILED},
        {"{idatype:vmware,lunuuid:x,standardinqury:" + otherProduct + ",type:vmfs}",
         KYSO::RESULT_FAILED},
        // Last in the description, the value keeps the closing brace.
        {"{idatype:vmware,lunuuid:x,type:vmfs,standardinqury:" + padded + "}",
         KYSO::RESULT_SUCCESS},
    };
    testhost::CapturingDebugSink log;
    Transcript transcript({});
    for (const auto& [device, expected] : cases) {
        transcript.note("kyso_isSupported " + device);
        const KYSO::ResultCode result = isSupported(device.c_str(), 0, &util, nullptr, 0);
        EXPECT_EQ(result, expected) << device;
        transcript.note("result " + std::to_string(result));
    }
    expectGolden("kyso_isSupported", transcript.text());
    ASSERT_EQ(log.lines.size(), std::size(cases));
    EXPECT_EQ(log.lines[1].message, "device [/dev/acme] does not belong to [TEGILE] vendor");
    EXPECT_EQ(log.lines[2].message,
              "scsi inquiry standary data failed device name [/dev/sim/ABSENT]");
    EXPECT_EQ(log.lines[4].message,
              "device [{idatype:vmware,lunuuid:x,type:vmfs}] does not belong to [TEGILE] vendor");
}

}  // namespace
}  // namespace e2e
