#include "LinuxDevices.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/dm-ioctl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

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
        std::vector<std::string> holders;
        entries(path("/sys/block/" + block + "/holders"), holders);
        for (const std::string& holder : holders) {
            std::string uuid;
            std::string name;
            if (holder.rfind("dm-", 0) == 0 &&
                readText(path("/sys/block/" + holder + "/dm/uuid"), uuid) &&
                uuid.rfind("mpath-", 0) == 0) {
                listed = readText(path("/sys/block/" + holder + "/dm/name"), name) && !name.empty()
                             ? "/dev/mapper/" + name
                             : "/dev/" + holder;
                key = holder;
                break;
            }
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

bool LinuxDevices::removeDevice(const std::string& device, std::string& why) const {
    std::string block = baseName(device);
    if (device.rfind("/dev/mapper/", 0) == 0) {
        // Find the dm-N whose map carries this name.
        std::vector<std::string> blocks;
        entries(path("/sys/block"), blocks);
        block.clear();
        for (const std::string& candidate : blocks) {
            std::string name;
            if (candidate.rfind("dm-", 0) == 0 &&
                readText(path("/sys/block/" + candidate + "/dm/name"), name) &&
                name == baseName(device)) {
                block = candidate;
            }
        }
        if (block.empty()) {
            return true;  // no such map any more
        }
    }
    if (access(path("/sys/block/" + block).c_str(), F_OK) != 0) {
        return true;  // the kernel no longer lists it
    }
    if (block.rfind("dm-", 0) == 0) {
        std::vector<std::string> slaves;
        entries(path("/sys/block/" + block + "/slaves"), slaves);
        if (!removeMultipathMap(block, why)) {
            return false;
        }
        for (const std::string& slave : slaves) {
            if (!deletePath(slave, why)) {
                return false;
            }
        }
        return true;
    }
    return deletePath(block, why);
}

bool LinuxDevices::removeMultipathMap(const std::string& dm, std::string& why) const {
    std::string name;
    if (!readText(path("/sys/block/" + dm + "/dm/name"), name) || name.empty()) {
        why = "cannot read the map name of " + dm;
        return false;
    }
    // Write out what the map still buffers, then remove the map itself.
    const int device = open(path("/dev/" + dm).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (device >= 0) {
        fsync(device);
        ioctl(device, BLKFLSBUF, 0);
        close(device);
    }
    const std::string controlPath = path("/dev/mapper/control");
    const int control = open(controlPath.c_str(), O_RDWR | O_CLOEXEC);
    if (control < 0) {
        why = "cannot open " + controlPath + " to remove the multipath map " + name + ": " +
              std::strerror(errno);
        return false;
    }
    dm_ioctl request{};
    request.version[0] = DM_VERSION_MAJOR;
    request.data_size = sizeof request;
    request.data_start = sizeof request;
    std::strncpy(request.name, name.c_str(), sizeof request.name - 1);
    const int done = ioctl(control, DM_DEV_REMOVE, &request);
    const int removeErrno = errno;
    close(control);
    if (done != 0) {
        why = "cannot remove the multipath map " + name + ": " + std::strerror(removeErrno) +
              (removeErrno == EBUSY ? " (it is still open or mounted)" : "");
        return false;
    }
    return true;
}

bool LinuxDevices::deletePath(const std::string& sd, std::string& why) const {
    const int device = open(path("/dev/" + sd).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (device >= 0) {
        fsync(device);
        ioctl(device, BLKFLSBUF, 0);
        close(device);
    }
    return writeText(path("/sys/block/" + sd + "/device/delete"), "1", why);
}

}  // namespace kysnap
