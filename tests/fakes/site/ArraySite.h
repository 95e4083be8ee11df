// SPDX-License-Identifier: Apache-2.0
// ArraySite: a whole site on loopback for tests above the storage layer. Array simulators
// (the sample array, optionally edited), an in-memory host whose OS utility lists them, the
// block devices the host sees of them (installed as libkyplatform's device provider), and
// optionally an ESX server whose devices the host lists as VMware descriptions. Every rescan
// the plug-in asks for refreshes the devices from the simulators.
//
// Requests are TestSnapInfo objects the site keeps (stable addresses). Not thread-safe.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ArraySimulator.h"
#include "SimulatedHost.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"
#include "jsonxx.h"

namespace site {

inline const char* const kOraData = "600144F0C8A7B3D1E45F4A2B00010001";
inline const char* const kOraLogs = "600144F0C8A7B3D1E45F4A2B00010002";
inline const char* const kEsxDs1 = "600144F0C8A7B3D1E45F4A2B00020001";
inline const char* const kEsxSmall = "600144F0C8A7B3D1E45F4A2B00020002";
// The sample array's FC target port, a host port in its group db-host-fc, a port it knows
// without a group, and the ESX server's iSCSI initiator in its group esx-iscsi.
inline const char* const kFcTarget = "wwn.2100001B32A1B2C3";
inline const char* const kDbHostPort = "21:00:00:24:ff:3d:2a:10";
inline const char* const kLooseHostPort = "21:00:00:24:ff:4e:3b:20";
inline const char* const kEsxInitiator = "iqn.1998-01.com.vmware:esx01-4f5a2b";
inline const char* const kEsxIdentifier = "{hostType:esx,esxname:esx01,address:10.0.0.9}";

struct SiteArray {
    std::string name;
    std::unique_ptr<arraysim::ArraySimulator> simulator;
    std::string host() const { return "127.0.0.1:" + std::to_string(simulator->port()); }
};

class ArraySite {
public:
    ArraySite() = default;
    ~ArraySite();
    ArraySite(const ArraySite&) = delete;
    ArraySite& operator=(const ArraySite&) = delete;

    // Starts a simulator of the sample array, its seed first passed through `edit`, trusted
    // through KYSNAP_TLS_CA_FILE, and configures it in the host under `name`. Records a test
    // failure when it cannot start.
    SiteArray& startArray(const std::string& name,
                          const std::function<void(jsonxx::Object&)>& edit = {},
                          const std::string& apiVersion = "");
    // The array information text the host gives for `array` (`password` for its user).
    static std::string arrayInfo(const SiteArray& array, const std::string& password = "tegile");

    // The local host's initiators; its devices are what the arrays map to them.
    void hostWith(const std::vector<testhost::Initiator>& initiators);
    // An ESX server known by kEsxIdentifier with `initiators`; the host lists its devices as
    // VMware descriptions.
    void esxWith(const std::vector<testhost::Initiator>& initiators);
    void rescan();

    // A request for `device` on `array` whose snapshot the host calls `snapId`; retry count 2
    // and interval 1 s unless the test changes them.
    testhost::TestSnapInfo& newRequest(const SiteArray& array, const std::string& device,
                                       const std::string& snapId = "");
    // Makes each request's last stored metadata its input for the next operation.
    static void carryOver(const std::vector<testhost::TestSnapInfo*>& batch);

    // The simulator's whole state, read through its control route.
    jsonxx::Object state(const SiteArray& array);
    // The VMware description of a LUN the ESX server sees.
    static std::string vmwareDescription(const simhost::HostLun& lun);

    std::deque<SiteArray> arrays;
    std::deque<testhost::TestSnapInfo> requests;
    testhost::TestOSUtil util;
    std::unique_ptr<simhost::SimulatedHost> host;
    std::unique_ptr<simhost::SimulatedHost> esx;

private:
    std::unique_ptr<simhost::SimulatedHost> hostOf(const std::vector<testhost::Initiator>& list);
    std::unique_ptr<simhost::SimulatedDevices::Installation> installed_;
};

// Lower-case hex text of `bytes`.
std::string hexOf(const std::vector<unsigned char>& bytes);

}  // namespace site
