// SPDX-License-Identifier: Apache-2.0
#include "DeviceNames.h"

namespace kysnap {

bool parseDeviceName(const std::string& text, DeviceName& name, std::string& error) {
    name = DeviceName();
    name.given = text;
    if (text.rfind("nfs:", 0) == 0) {
        const size_t colon = text.find(":/", 4);
        name.nfs = true;
        name.server = colon == std::string::npos ? "" : text.substr(4, colon - 4);
        name.path = colon == std::string::npos ? "" : text.substr(colon + 1);
        // The description is key-value text: ',', '{' and '}' would cut it.
        if (name.server.empty() || name.path.size() < 2 ||
            text.find_first_of(",{}|") != std::string::npos) {
            error = "'" + text + "' is not an NFS datastore: write nfs:SERVER:/MOUNT/PATH";
            return false;
        }
        name.description = "{idatype:vmware,type:nfs,targethostname:" + name.server +
                           ",lunuuid:" + name.path + ",nfsver:3}";
        return true;
    }
    if (text.size() < 2 || text[0] != '/' || text.find_first_of(",{}|") != std::string::npos) {
        error = "'" + text +
                "' is not a device: give a block device path (/dev/...) or "
                "nfs:SERVER:/MOUNT/PATH";
        return false;
    }
    name.description = text;
    return true;
}

}  // namespace kysnap
