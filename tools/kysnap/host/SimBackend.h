// SPDX-License-Identifier: Apache-2.0
// SimBackend: a host that exists only in the array simulators' view. Its initiators come from
// the host configuration; the devices it sees are the LUNs the simulators report as mapped to
// those initiators, named /dev/sim/<LUN id>, and they answer INQUIRY as the LUNs do (installed
// as libkyplatform's device provider for the backend's lifetime). The first device lookup or
// list asks the simulators; each rescan the plug-in asks for asks again.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DeviceProvider.h"
#include "HostBackend.h"
#include "SimulatedHost.h"

namespace kysnap {

class SimBackend : public HostBackend, private kyplatform::DeviceProvider {
public:
    SimBackend(const HostConfig& config, const std::vector<ArrayAccess>& arrays);
    ~SimBackend() override;

    std::string kind() const override { return "sim"; }
    std::string hostName() const override { return hostName_; }
    bool initiators(std::vector<hostkit::Initiator>& list, std::string& why) override;
    bool arrayDevices(bool rescanFirst, std::vector<std::string>& devices,
                      std::string& why) override;
    std::string dataPath(const std::string& device) const override;
    std::vector<ShareData> shareData() const override;

protected:
    bool rescan(const hostkit::RescanRecord& record) override;
    bool listDevices(const std::string& host, const std::string& vendor,
                     std::vector<std::string>& names) override;

private:
    SP<KyDevice> getDevice(const std::string& name, CLmError* error) override;
    bool scan(std::string& why);

    std::string hostName_;
    std::vector<hostkit::Initiator> initiators_;
    std::unique_ptr<simhost::SimulatedHost> host_;
    std::string setupProblem_;
    bool scanned_ = false;
    kyplatform::DeviceProvider* previous_;
};

}  // namespace kysnap
