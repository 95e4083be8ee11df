// SPDX-License-Identifier: Apache-2.0
#include "LinuxDevices.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "SystemProgram.h"

namespace kysnap {

namespace {

std::string trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    return first == std::string::npos
               ? std::string()
               : text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool readText(const std::string& file, std::string& text) {
    std::ifstream in(file);
    if (!in) {
        return false;
    }
    std::stringstream content;
    content << in.rdbuf();
    text = trim(content.str());
    return true;
}

// Entry names of a directory, sorted; false when it cannot be read.
bool entries(const std::string& directory, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        return false;
    }
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

// "0x21000024ff3d2a10" -> "21:00:00:24:ff:3d:2a:10".
std::string portName(std::string hex) {
    if (hex.rfind("0x", 0) == 0) {
        hex = hex.substr(2);
    }
    hex.insert(0, hex.size() < 16 ? 16 - hex.size() : 0, '0');
    std::string name;
    for (size_t i = 0; i < hex.size(); i += 2) {
        name += (i == 0 ? "" : ":") + hex.substr(i, 2);
    }
    return name;
}

bool writeText(const std::string& file, const std::string& text, std::string& why) {
    const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        why = "cannot write " + file + ": " + std::strerror(errno) +
              (errno == EACCES || errno == EPERM ? " (run kysnap as root)" : "");
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    close(fd);
    return true;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool LinuxDevices::initiators(std::vector<hostkit::Initiator>& list, std::string& why) const {
    list.clear();
    std::vector<std::string> hosts;
    entries(path("/sys/class/fc_host"), hosts);
    for (const std::string& host : hosts) {
        std::string port;
        if (readText(path("/sys/class/fc_host/" + host + "/port_name"), port) && !port.empty()) {
            list.push_back(hostkit::Initiator{portName(port), false});
        }
    }
    std::ifstream file(path("/etc/iscsi/initiatorname.iscsi"));
    for (std::string line; std::getline(file, line);) {
        line = trim(line);
        if (line.rfind("InitiatorName=", 0) == 0 && line.size() > 14) {
            list.push_back(hostkit::Initiator{line.substr(14), true});
            break;
        }
    }
    if (list.empty()) {
        why =
            "this machine has no FC HBA (nothing in /sys/class/fc_host) and no iSCSI "
            "initiator name (/etc/iscsi/initiatorname.iscsi): install an FC HBA or "
            "open-iscsi before mapping snapshots to it";
        return false;
    }
    return true;
}

bool LinuxDevices::arrayDevices(const std::string& vendor, std::vector<std::string>& devices,
                                std::string& why) const {
    devices.clear();
    std::vector<std::string> blocks;
    if (!entries(path("/sys/block"), blocks)) {
        why = "cannot list /sys/block: " + std::string(std::strerror(errno));
        return false;
    }
    std::set<std::string> seen;  // multipath maps and LUN wwids already listed
    for (const std::string& block : blocks) {
        std::string deviceVendor;
        if (block.rfind("sd", 0) != 0 ||
            !readText(path("/sys/block/" + block + "/device/vendor"), deviceVendor) ||
            deviceVendor != vendor) {
            continue;
        }
        std::string listed = "/dev/" + block;
        std::string key = block;
        const std::string map = multipathMapOf(block);
        if (!map.empty()) {
            std::string name;
            listed = readText(path("/sys/block/" + map + "/dm/name"), name) && !name.empty()
                         ? "/dev/mapper/" + name
                         : "/dev/" + map;
            key = map;
        }
        std::string wwid;
        if (key == block && readText(path("/sys/block/" + block + "/device/wwid"), wwid) &&
            !wwid.empty()) {
            key = "wwid " + wwid;
        }
        if (seen.insert(key).second) {
            devices.push_back(listed);
        }
    }
    return true;
}

bool LinuxDevices::rescanBuses(std::string& why) const {
    std::vector<std::string> hosts;
    entries(path("/sys/class/scsi_host"), hosts);
    if (hosts.empty()) {
        why = "this machine has no SCSI host adapter (nothing in /sys/class/scsi_host) to rescan";
        return false;
    }
    for (const std::string& host : hosts) {
        if (!writeText(path("/sys/class/scsi_host/" + host + "/scan"), "- - -", why)) {
            return false;
        }
    }
    return true;
}

// The block device a name given by the plug-in stands for ("sdc", "dm-2"), or "" when the
// kernel lists no such device.
std::string LinuxDevices::blockOf(const std::string& device) const {
    std::string block = baseName(device);
    if (device.rfind("/dev/mapper/", 0) == 0) {
        block.clear();
        std::vector<std::string> blocks;
        entries(path("/sys/block"), blocks);
        for (const std::string& candidate : blocks) {
            std::string name;
            if (candidate.rfind("dm-", 0) == 0 &&
                readText(path("/sys/block/" + candidate + "/dm/name"), name) &&
                name == baseName(device)) {
                block = candidate;
            }
        }
    }
    return !block.empty() && access(path("/sys/block/" + block).c_str(), F_OK) == 0 ? block : "";
}

std::string LinuxDevices::multipathMapOf(const std::string& sd) const {
    std::vector<std::string> holders;
    entries(path("/sys/block/" + sd + "/holders"), holders);
    for (const std::string& holder : holders) {
        std::string uuid;
        if (holder.rfind("dm-", 0) == 0 &&
            readText(path("/sys/block/" + holder + "/dm/uuid"), uuid) &&
            uuid.rfind("mpath-", 0) == 0) {
            return holder;
        }
    }
    return "";
}

void LinuxDevices::pathsOfLun(const std::string& block, std::set<std::string>& paths) const {
    std::vector<std::string> given;
    if (block.rfind("dm-", 0) == 0) {
        entries(path("/sys/block/" + block + "/slaves"), given);
    } else {
        given.push_back(block);
    }
    std::set<std::string> wwids;
    for (const std::string& sd : given) {
        paths.insert(sd);
        std::string wwid;
        if (readText(path("/sys/block/" + sd + "/device/wwid"), wwid) && !wwid.empty()) {
            wwids.insert(wwid);
        }
    }
    // Every other path of the same LUN: one per SCSI host and target port it is seen through.
    std::vector<std::string> blocks;
    entries(path("/sys/block"), blocks);
    for (const std::string& candidate : blocks) {
        std::string wwid;
        if (candidate.rfind("sd", 0) == 0 &&
            readText(path("/sys/block/" + candidate + "/device/wwid"), wwid) &&
            wwids.count(wwid) != 0) {
            paths.insert(candidate);
        }
    }
}

bool LinuxDevices::removeDevice(const std::string& device, std::string& why) const {
    const std::string block = blockOf(device);
    if (block.empty()) {
        return true;  // the kernel no longer lists it
    }
    std::set<std::string> paths;
    pathsOfLun(block, paths);
    // The maps above the paths go first: a path deleted under a live map leaves the map
    // failing I/O.
    std::set<std::string> maps;
    if (block.rfind("dm-", 0) == 0) {
        maps.insert(block);
    }
    for (const std::string& sd : paths) {
        const std::string map = multipathMapOf(sd);
        if (!map.empty()) {
            maps.insert(map);
        }
    }
    for (const std::string& map : maps) {
        if (!removeMultipathMap(map, why)) {
            why = device + " is still on the host: " + why;
            return false;
        }
    }
    std::string failures;
    for (const std::string& sd : paths) {
        std::string failure;
        if (!deletePath(sd, failure)) {
            failures += (failures.empty() ? "" : "; ") + failure;
        }
    }
    if (!failures.empty()) {
        why = "a path of " + device + " is still on the host: " + failures;
        return false;
    }
    return true;
}

bool LinuxDevices::removeMultipathMap(const std::string& dm, std::string& why) const {
    std::string name;
    if (!readText(path("/sys/block/" + dm + "/dm/name"), name) || name.empty()) {
        why = "cannot read the map name of " + dm;
        return false;
    }
    // The LUN is already unmapped on the array: a map that queues I/O while it has no path
    // would hang the flush, so it is told to fail such I/O first (best effort).
    std::string output;
    runSystemProgram({"dmsetup", "message", name, "0", "fail_if_no_path"}, output);
    flush(dm);
    // --retry rides out udev or a scanner holding the map open for a moment.
    if (!runSystemProgram({"dmsetup", "remove", "--retry", name}, output)) {
        why = "cannot remove the multipath map " + name + " (" + dm + "): " + output +
              " (is it mounted or open? unmount it, then run: dmsetup remove " + name + ")";
        return false;
    }
    return true;
}

void LinuxDevices::flush(const std::string& block) const {
    const int device = open(path("/dev/" + block).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (device >= 0) {
        fsync(device);
        ioctl(device, BLKFLSBUF, 0);
        close(device);
    }
}

bool LinuxDevices::deletePath(const std::string& sd, std::string& why) const {
    flush(sd);
    return writeText(path("/sys/block/" + sd + "/device/delete"), "1", why);
}

}  // namespace kysnap
