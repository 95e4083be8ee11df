// SPDX-License-Identifier: Apache-2.0
// LinuxBackend: this machine as the host. Host name from the system, initiators from its
// HBAs and open-iscsi, the array's devices from /sys/block (one per LUN, multipath-aware),
// rescans through /sys/class/scsi_host, INQUIRY through SG_IO (libkyplatform's default
// device provider). Devices the plug-in names in a rescan after an unmap are flushed and
// removed first, with every other path of their LUN and the multipath map above them, so no
// stale device stays behind; what cannot be removed makes the rescan answer false, is a
// problem and is listed in devicesLeft(). $KYSNAP_LINUX_ROOT, when set, is read in place of
// "/" (for tests).
#pragma once

#include <string>
#include <vector>

#include "HostBackend.h"
#include "LinuxDevices.h"

namespace kysnap {

class LinuxBackend : public HostBackend {
public:
    explicit LinuxBackend(const HostConfig& config);

    std::string kind() const override { return "linux"; }
    std::string hostName() const override { return hostName_; }
    bool initiators(std::vector<hostkit::Initiator>& list, std::string& why) override;
    bool arrayDevices(bool rescanFirst, std::vector<std::string>& devices,
                      std::string& why) override;

protected:
    bool rescan(const hostkit::RescanRecord& record) override;
    bool listDevices(const std::string& host, const std::string& vendor,
                     std::vector<std::string>& names) override;

private:
    std::string hostName_;
    LinuxDevices devices_;
};

}  // namespace kysnap
