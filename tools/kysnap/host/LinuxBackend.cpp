// SPDX-License-Identifier: Apache-2.0
#include "LinuxBackend.h"

#include <cstdlib>

namespace kysnap {

namespace {

constexpr char kVendor[] = "TEGILE";

std::string root() {
    const char* chosen = std::getenv("KYSNAP_LINUX_ROOT");
    return chosen != nullptr ? chosen : "";
}

}  // namespace

LinuxBackend::LinuxBackend(const HostConfig& config)
    : hostName_(config.hostName.empty() ? systemHostName() : config.hostName), devices_(root()) {}

bool LinuxBackend::initiators(std::vector<hostkit::Initiator>& list, std::string& why) {
    return devices_.initiators(list, why);
}

bool LinuxBackend::arrayDevices(bool rescanFirst, std::vector<std::string>& devices,
                                std::string& why) {
    if (rescanFirst && !devices_.rescanBuses(why)) {
        return false;
    }
    return devices_.arrayDevices(kVendor, devices, why);
}

bool LinuxBackend::rescan(const hostkit::RescanRecord& record) {
    if (!isLocal(record.host)) {
        problem("the linux backend manages no ESX server (" + record.host + ")");
        return false;
    }
    bool done = true;
    std::string why;
    for (const std::string& device : record.devices) {
        if (!devices_.removeDevice(device, why)) {
            problem(why);
            deviceLeft(device);
            done = false;
        }
    }
    if (!devices_.rescanBuses(why)) {
        problem(why);
        return false;
    }
    return done;
}

bool LinuxBackend::listDevices(const std::string& host, const std::string& vendor,
                               std::vector<std::string>& names) {
    if (!isLocal(host)) {
        problem("the linux backend manages no ESX server (" + host + ")");
        return false;
    }
    std::string why;
    if (!devices_.arrayDevices(vendor.empty() ? kVendor : vendor, names, why)) {
        problem(why);
        return false;
    }
    return true;
}

}  // namespace kysnap
