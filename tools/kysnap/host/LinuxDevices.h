// SPDX-License-Identifier: Apache-2.0
// What the Linux backend reads and writes below a root directory ("/" on a real machine; a
// test tree otherwise): HBA initiators, the array's block devices as the kernel lists them,
// bus rescans and device removal. Every failure is a message naming the file and the remedy.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "HostTypes.h"

namespace kysnap {

class LinuxDevices {
public:
    explicit LinuxDevices(std::string root) : root_(std::move(root)) {}

    // FC ports (/sys/class/fc_host/*/port_name, as 21:00:...) then the iSCSI initiator name
    // (/etc/iscsi/initiatorname.iscsi). False with `why` set when there is neither.
    bool initiators(std::vector<hostkit::Initiator>& list, std::string& why) const;

    // The block devices whose SCSI vendor is `vendor` (/sys/block/sd*/device/vendor). A LUN
    // seen through several paths is listed once: as its dm-multipath device
    // (/dev/mapper/<name>) when multipath holds it, else by its first path (paths of one LUN
    // share /sys/block/<dev>/device/wwid). False with `why` set when /sys/block is unreadable.
    bool arrayDevices(const std::string& vendor, std::vector<std::string>& devices,
                      std::string& why) const;

    // Writes "- - -" to every /sys/class/scsi_host/*/scan. False with `why` set when there is
    // no SCSI host or a scan file cannot be written.
    bool rescanBuses(std::string& why) const;

    // Flushes and removes `device` (/dev/sdX, /dev/dm-N or /dev/mapper/NAME) and every other
    // path of its LUN (every sd device sharing its /sys/block/<dev>/device/wwid, whichever
    // SCSI host it is on): the dm-multipath maps above them first (dmsetup message
    // fail_if_no_path, a flush, dmsetup remove --retry), then each path is flushed and deleted
    // (/sys/block/<dev>/device/delete). A device the kernel no longer lists is already gone.
    // False with `why` set (naming what is left on the host) when a map or a path could not
    // be removed; a map that stays keeps its paths, other paths are deleted all the same.
    bool removeDevice(const std::string& device, std::string& why) const;

private:
    std::string path(const std::string& absolute) const { return root_ + absolute; }
    std::string blockOf(const std::string& device) const;
    // The dm-multipath map holding path `sd`, "" when none does.
    std::string multipathMapOf(const std::string& sd) const;
    // The sd paths of the LUN `block` (an sd path or a map) shows.
    void pathsOfLun(const std::string& block, std::set<std::string>& paths) const;
    bool removeMultipathMap(const std::string& dm, std::string& why) const;
    void flush(const std::string& block) const;
    bool deletePath(const std::string& sd, std::string& why) const;

    std::string root_;
};

}  // namespace kysnap
