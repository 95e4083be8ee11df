// SPDX-License-Identifier: Apache-2.0
// MountPoints: the mounts of this host as /proc/self/mountinfo lists them, and whether a
// directory named to `snap --freeze` is a mount point kysnap may freeze.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kysnap {

// One line of mountinfo.
struct MountEntry {
    std::string mountPoint;  // with the kernel's octal escapes (\040 ...) undone
    std::string fsType;      // "ext4", "nfs4", "fuse.sshfs"
    std::string source;      // "/dev/mapper/mpatha", "server:/export"
    dev_t device = 0;        // the filesystem's major:minor
};

// The mounts in the text of a mountinfo file, in its order (a later mount on the same point
// hides an earlier one). A line not in the kernel's form is left out.
std::vector<MountEntry> parseMountInfo(const std::string& text);

// This process's mounts; empty with `error` set when /proc/self/mountinfo cannot be read.
bool readMountInfo(std::vector<MountEntry>& mounts, std::string& error);

// Whether kysnap freezes a filesystem of a type, as the kernel would answer FIFREEZE.
enum class FreezeSupport {
    Freezes,       // a local filesystem that implements freezing
    Network,       // its data lives on a server: freezing here does not make it consistent
    CannotFreeze,  // a memory, pseudo or read-only-image filesystem without freezing
    Unknown,       // tried: FIFREEZE's EOPNOTSUPP tells
};
FreezeSupport freezeSupport(const std::string& fsType);

// A mount point to freeze, as named and as found.
struct FreezeTarget {
    std::string given;  // as named on the command line
    MountEntry mount;   // its mountPoint is the canonical path
};

// Checks each of `given` against `mounts`: it must resolve (realpath) to a directory that is a
// mount point, not "/", of a filesystem that can freeze and is not on the network, and no two
// may be the same filesystem (a second FIFREEZE of it fails). True with `targets` in the order
// given; false with `error` naming the first refused path, why, and the remedy.
bool checkFreezeTargets(const std::vector<std::string>& given,
                        const std::vector<MountEntry>& mounts, std::vector<FreezeTarget>& targets,
                        std::string& error);

// The block devices (major:minor) a filesystem of `device` lies on, as /sys/dev/block under
// `sysRoot` shows them: the device itself, the whole disk of a partition, and every device
// below a mapped one (its slaves, recursively: the paths of a multipath map).
std::vector<dev_t> devicesBelow(dev_t device, const std::string& sysRoot = "/sys");

}  // namespace kysnap
