// What the Linux backend reads and writes below a root directory ("/" on a real machine; a
// test tree otherwise): HBA initiators, the array's block devices as the kernel lists them,
// bus rescans and device removal. Every failure is a message naming the file and the remedy.
#pragma once

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

    // Flushes and removes `device` (/dev/sdX, /dev/dm-N or /dev/mapper/NAME) from the host:
    // a multipath map is removed first, then each of its paths is flushed and deleted
    // (/sys/block/<dev>/device/delete). A device the kernel no longer lists is already gone.
    // False with `why` set when something could not be removed.
    bool removeDevice(const std::string& device, std::string& why) const;

private:
    std::string path(const std::string& absolute) const { return root_ + absolute; }
    bool removeMultipathMap(const std::string& dm, std::string& why) const;
    bool deletePath(const std::string& sd, std::string& why) const;

    std::string root_;
};

}  // namespace kysnap
