// SPDX-License-Identifier: Apache-2.0
// How devices are named on kysnap's command line and what the plug-in is given for them:
//   /dev/...                 a block device, given to the plug-in as its path;
//   nfs:SERVER:/MOUNT/PATH   an NFS datastore at PATH on the array's NFS server SERVER,
//                            given as the host's NFS datastore description.
#pragma once

#include <string>

namespace kysnap {

struct DeviceName {
    std::string given;        // as on the command line (the catalog's key)
    std::string description;  // what the plug-in reads with getDevice
    bool nfs = false;
    std::string server;  // NFS only
    std::string path;    // NFS only
};

// False with `error` set when `text` is neither form.
bool parseDeviceName(const std::string& text, DeviceName& name, std::string& error);

}  // namespace kysnap
