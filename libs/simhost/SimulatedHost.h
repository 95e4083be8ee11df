// SPDX-License-Identifier: Apache-2.0
// SimulatedHost: the block devices a host would see of simulated arrays. A rescan asks each
// array simulator (its control route /control/hostview) which LUNs are mapped to the host's
// initiators and turns each into a simulated device named "/dev/sim/<LUN id>" that answers
// INQUIRY as the array's LUN does. A LUN seen through several initiators is one device.
//
// The devices are served by `devices()`, a SimulatedDevices provider the caller installs.
// When a simulator keeps the array's bytes, its host view also names the image file of each
// LUN and the directory tree of each share it exports; they are kept as data paths.
#pragma once

#include <string>
#include <vector>

#include "SecretMemory.h"
#include "SimulatedDevices.h"

namespace simhost {

// Where an array simulator listens, and the credentials of its control routes.
struct ArrayEndpoint {
    std::string address = "127.0.0.1";
    int port = 0;
    std::string caFile;
    // The array's public-key pins ("sha256//..."): when given, they alone decide whether its
    // certificate is accepted, as for the plug-in, and no CA file is needed.
    std::vector<std::string> pins;
    std::string user = "admin";
    std::string password;  // zeroed when the endpoint is destroyed
    ~ArrayEndpoint() { kyplatform::wipeSecret(password); }
};

// One LUN the host sees: its device name, LUN id, the target presenting it and its standard
// INQUIRY data as lower-case hex.
struct HostLun {
    std::string device;
    std::string lunId;
    std::string targetId;
    std::string standardInquiryHex;
    std::string dataPath;  // the LUN's image file, or "" when the simulator keeps no data
};

// A share an array exports, with the directory tree that holds its files.
struct HostShare {
    std::string server;  // the array's address
    std::string mountPoint;
    std::string dataPath;
};

// Whether a data path from a host view may be used: absolute, without "." or ".." steps,
// empty steps or control characters.
bool usableDataPath(const std::string& path);

class SimulatedHost {
public:
    SimulatedHost(std::vector<ArrayEndpoint> arrays, std::vector<std::string> initiators);

    // Replaces the devices by what the arrays show the initiators now. Each call is one query
    // per array (a mapping the simulator holds back counts down once per query). False with
    // `error` set when an array cannot be asked; the devices are then unchanged.
    bool rescan(std::string& error);
    // The device names after the last rescan, in LUN id order.
    std::vector<std::string> deviceNames() const { return names_; }
    // The LUNs after the last rescan, in LUN id order.
    const std::vector<HostLun>& luns() const { return luns_; }
    // The shares with a data path after the last rescan, in array and dataset order.
    const std::vector<HostShare>& shares() const { return shares_; }
    SimulatedDevices& devices() { return devices_; }

    static std::string deviceName(const std::string& lunId) { return "/dev/sim/" + lunId; }

private:
    std::vector<ArrayEndpoint> arrays_;
    std::vector<std::string> initiators_;
    std::vector<std::string> names_;
    std::vector<HostLun> luns_;
    std::vector<HostShare> shares_;
    SimulatedDevices devices_;
};

}  // namespace simhost
