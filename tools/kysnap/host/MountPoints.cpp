// SPDX-License-Identifier: Apache-2.0
#include "MountPoints.h"

#include <dirent.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kysnap {

namespace {

struct FsKind {
    const char* type;
    FreezeSupport support;
};

// The kernel's freeze needs the filesystem to implement it; these are the types met on hosts.
// A type not listed is tried, and FIFREEZE's EOPNOTSUPP refuses it then.
const FsKind kFsKinds[] = {
    {"ext2", FreezeSupport::Freezes},
    {"ext3", FreezeSupport::Freezes},
    {"ext4", FreezeSupport::Freezes},
    {"xfs", FreezeSupport::Freezes},
    {"btrfs", FreezeSupport::Freezes},
    {"f2fs", FreezeSupport::Freezes},
    {"jfs", FreezeSupport::Freezes},
    {"nilfs2", FreezeSupport::Freezes},
    {"reiserfs", FreezeSupport::Freezes},
    {"gfs2", FreezeSupport::Freezes},
    {"ocfs2", FreezeSupport::Freezes},
    {"nfs", FreezeSupport::Network},
    {"nfs4", FreezeSupport::Network},
    {"cifs", FreezeSupport::Network},
    {"smb3", FreezeSupport::Network},
    {"smbfs", FreezeSupport::Network},
    {"ceph", FreezeSupport::Network},
    {"glusterfs", FreezeSupport::Network},
    {"fuse.glusterfs", FreezeSupport::Network},
    {"fuse.sshfs", FreezeSupport::Network},
    {"9p", FreezeSupport::Network},
    {"afs", FreezeSupport::Network},
    {"lustre", FreezeSupport::Network},
    {"tmpfs", FreezeSupport::CannotFreeze},
    {"ramfs", FreezeSupport::CannotFreeze},
    {"devtmpfs", FreezeSupport::CannotFreeze},
    {"proc", FreezeSupport::CannotFreeze},
    {"sysfs", FreezeSupport::CannotFreeze},
    {"cgroup2", FreezeSupport::CannotFreeze},
    {"overlay", FreezeSupport::CannotFreeze},
    {"squashfs", FreezeSupport::CannotFreeze},
    {"iso9660", FreezeSupport::CannotFreeze},
    {"vfat", FreezeSupport::CannotFreeze},
    {"exfat", FreezeSupport::CannotFreeze},
    {"fuse", FreezeSupport::CannotFreeze},
    {"fuseblk", FreezeSupport::CannotFreeze},
};

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
std::string unescaped(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        const bool octal = field[i] == '\\' && i + 3 < field.size() &&
                           std::all_of(field.begin() + static_cast<long>(i) + 1,
                                       field.begin() + static_cast<long>(i) + 4,
                                       [](char c) { return c >= '0' && c <= '7'; });
        if (octal) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool parseLine(const std::string& line, MountEntry& entry) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string field; in >> field;) {
        fields.push_back(field);
    }
    // id parent major:minor root mountpoint options [optional...] - type source superoptions
    const auto separator = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 10 || separator - fields.begin() < 6 || fields.end() - separator < 3) {
        return false;
    }
    unsigned major = 0;
    unsigned minor = 0;
    char colon = 0;
    std::istringstream numbers(fields[2]);
    if (!(numbers >> major >> colon >> minor) || colon != ':') {
        return false;
    }
    entry.device = makedev(major, minor);
    entry.mountPoint = unescaped(fields[4]);
    entry.fsType = separator[1];
    entry.source = unescaped(separator[2]);
    return true;
}

std::string remedyFor(FreezeSupport support) {
    return support == FreezeSupport::Network
               ? "quiesce the data on its server, or use --pre-hook to quiesce the application"
               : "leave it out of --freeze; --pre-hook can quiesce the application instead";
}

std::string readLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// "8:17" as in a sysfs dev file; false when `text` is not.
bool parseDev(const std::string& text, dev_t& device) {
    unsigned major = 0;
    unsigned minor = 0;
    char colon = 0;
    std::istringstream in(text);
    if (!(in >> major >> colon >> minor) || colon != ':') {
        return false;
    }
    device = makedev(major, minor);
    return true;
}

void collectBelow(dev_t device, const std::string& sysRoot, std::vector<dev_t>& found, int depth) {
    if (depth > 16 || std::find(found.begin(), found.end(), device) != found.end()) {
        return;
    }
    found.push_back(device);
    const std::string node = sysRoot + "/dev/block/" + std::to_string(major(device)) + ":" +
                             std::to_string(minor(device));
    dev_t parent = 0;
    // A partition's directory lies inside its disk's.
    if (!readLine(node + "/partition").empty() && parseDev(readLine(node + "/../dev"), parent)) {
        collectBelow(parent, sysRoot, found, depth + 1);
    }
    DIR* slaves = opendir((node + "/slaves").c_str());
    if (slaves == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(slaves)) {
        if (entry->d_name[0] != '.') {
            names.push_back(entry->d_name);
        }
    }
    closedir(slaves);
    for (const std::string& name : names) {
        dev_t below = 0;
        if (parseDev(readLine(node + "/slaves/" + name + "/dev"), below)) {
            collectBelow(below, sysRoot, found, depth + 1);
        }
    }
}

}  // namespace

std::vector<MountEntry> parseMountInfo(const std::string& text) {
    std::vector<MountEntry> mounts;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        MountEntry entry;
        if (parseLine(line, entry)) {
            mounts.push_back(entry);
        }
    }
    return mounts;
}

bool readMountInfo(std::vector<MountEntry>& mounts, std::string& error) {
    std::ifstream file("/proc/self/mountinfo");
    if (!file) {
        error = "cannot read /proc/self/mountinfo to find the mount points";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    mounts = parseMountInfo(text.str());
    return true;
}

FreezeSupport freezeSupport(const std::string& fsType) {
    for (const FsKind& kind : kFsKinds) {
        if (fsType == kind.type) {
            return kind.support;
        }
    }
    return FreezeSupport::Unknown;
}

bool checkFreezeTargets(const std::vector<std::string>& given,
                        const std::vector<MountEntry>& mounts, std::vector<FreezeTarget>& targets,
                        std::string& error) {
    std::vector<FreezeTarget> checked;
    for (const std::string& path : given) {
        const std::string refused = "--freeze " + path + ": ";
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) == nullptr) {
            error = refused + "no such directory (name the directory the filesystem is mounted on)";
            return false;
        }
        const std::string canonical = resolved;
        if (canonical == "/") {
            error = refused +
                    "the root filesystem is refused: freezing it stops the writes of this host "
                    "itself (kysnap's, its logger's, the shell's) until the thaw; put the data on "
                    "a filesystem of its own, or use --pre-hook to quiesce the application";
            return false;
        }
        // The last mount on a point is the one its path reaches.
        const auto found = std::find_if(mounts.rbegin(), mounts.rend(), [&](const MountEntry& m) {
            return m.mountPoint == canonical;
        });
        if (found == mounts.rend()) {
            error = refused + canonical +
                    " is not a mount point (name the directory the filesystem is mounted on: "
                    "findmnt -T " +
                    canonical + " shows it)";
            return false;
        }
        const FreezeSupport support = freezeSupport(found->fsType);
        if (support == FreezeSupport::Network) {
            error = refused + "a network filesystem (" + found->fsType +
                    ") cannot be frozen from this host: " + remedyFor(support);
            return false;
        }
        if (support == FreezeSupport::CannotFreeze) {
            error = refused + "a " + found->fsType +
                    " filesystem cannot be frozen: " + remedyFor(support);
            return false;
        }
        for (const FreezeTarget& earlier : checked) {
            if (earlier.mount.device == found->device) {
                error = refused + "the same filesystem as " + earlier.given +
                        " (a filesystem is frozen once): name it once";
                return false;
            }
        }
        FreezeTarget target{path, *found};
        target.mount.mountPoint = canonical;
        checked.push_back(target);
    }
    targets = std::move(checked);
    return true;
}

std::vector<dev_t> devicesBelow(dev_t device, const std::string& sysRoot) {
    std::vector<dev_t> found;
    collectBelow(device, sysRoot, found, 0);
    return found;
}

}  // namespace kysnap
