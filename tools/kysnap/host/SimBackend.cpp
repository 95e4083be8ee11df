// SPDX-License-Identifier: Apache-2.0
#include "SimBackend.h"
#include "DeviceProvider.h"

#include <cerrno>

#include "PlatformSettings.h"

namespace kysnap {

SimBackend::SimBackend(const HostConfig& config, const std::vector<ArrayAccess>& arrays)
    : hostName_(config.hostName.empty() ? systemHostName() : config.hostName) {
    std::vector<std::string> names;
    for (const std::string& name : config.fcInitiators) {
        initiators_.push_back(hostkit::Initiator{name, false});
        names.push_back(name);
    }
    for (const std::string& name : config.iscsiInitiators) {
        initiators_.push_back(hostkit::Initiator{name, true});
        names.push_back(name);
    }
    // The host view trusts what the plug-in's client trusts for each array.
    const kyplatform::PlatformSettings trusted = kyplatform::platformSettings();
    std::vector<simhost::ArrayEndpoint> endpoints;
    for (const ArrayAccess& array : arrays) {
        simhost::ArrayEndpoint endpoint;
        endpoint.address = addressHost(array.address);
        endpoint.port = addressPort(array.address);
        endpoint.caFile =
            !array.caFile.empty() ? array.caFile : kyplatform::caFileFor(trusted, array.address);
        endpoint.user = array.user;
        endpoint.password = array.password;
        // A pinned array is verified by its pins, as the plug-in verifies it.
        if (const kyplatform::PinnedArray* pinned =
                kyplatform::findPinned(config.pins, array.address)) {
            endpoint.pins = pinned->pins;
        }
        if (endpoint.caFile.empty() && endpoint.pins.empty() && setupProblem_.empty()) {
            setupProblem_ = "array " + array.name +
                            ": the sim backend needs the simulator's CA file to see its LUNs; "
                            "set KYSNAP_TLS_CA_FILE or ca-file, or pin its key (kysnap trust)";
        }
        endpoints.push_back(endpoint);
    }
    host_ = std::make_unique<simhost::SimulatedHost>(endpoints, names);
    previous_ = kyplatform::setDeviceProvider(this);
}

SimBackend::~SimBackend() {
    kyplatform::setDeviceProvider(previous_);
}

bool SimBackend::scan(std::string& why) {
    if (!setupProblem_.empty()) {
        why = setupProblem_;
        return false;
    }
    if (!host_->rescan(why)) {
        return false;
    }
    scanned_ = true;
    return true;
}

SP<KyDevice> SimBackend::getDevice(const std::string& name, CLmError* error) {
    std::string why;
    if (!scanned_ && !scan(why)) {
        // Without a scan no device is known: the reason the scan failed is the answer, not
        // "No such device".
        problem(why);
        if (error != nullptr) {
            error->Set(ENOENT, name + ": " + why);
        }
        return SP<KyDevice>();
    }
    return host_->devices().getDevice(name, error);
}

bool SimBackend::initiators(std::vector<hostkit::Initiator>& list, std::string& why) {
    list = initiators_;
    if (list.empty()) {
        why = "the sim host has no initiators: set fc-initiators or iscsi-initiators in [host]";
        return false;
    }
    return true;
}

bool SimBackend::arrayDevices(bool rescanFirst, std::vector<std::string>& devices,
                              std::string& why) {
    if ((rescanFirst || !scanned_) && !scan(why)) {
        return false;
    }
    devices = host_->deviceNames();
    return true;
}

std::string SimBackend::dataPath(const std::string& device) const {
    for (const simhost::HostLun& lun : host_->luns()) {
        if (lun.device == device) {
            return lun.dataPath;
        }
    }
    return "";
}

std::vector<HostBackend::ShareData> SimBackend::shareData() const {
    std::vector<ShareData> shares;
    for (const simhost::HostShare& share : host_->shares()) {
        shares.push_back(ShareData{share.server + ":" + share.mountPoint, share.dataPath});
    }
    return shares;
}

bool SimBackend::rescan(const hostkit::RescanRecord& record) {
    if (!isLocal(record.host)) {
        problem("the sim host manages no ESX server (" + record.host + ")");
        return false;
    }
    std::string why;
    if (!scan(why)) {
        problem(why);
        return false;
    }
    return true;
}

bool SimBackend::listDevices(const std::string& host, const std::string& /*vendor*/,
                             std::vector<std::string>& names) {
    if (!isLocal(host)) {
        problem("the sim host manages no ESX server (" + host + ")");
        return false;
    }
    std::string why;
    if (!arrayDevices(false, names, why)) {
        problem(why);
        return false;
    }
    return true;
}

}  // namespace kysnap
