// SPDX-License-Identifier: Apache-2.0
// What the two metadata targets share: a host request whose texts come from the fuzzer,
// decoded into a device record by CMCopyServerTegile::buildCopyDevices. Fields, in order: the
// array information, the device description, the snapshot name, the metadata, the trans
// metadata and the device that shows the mounted copy.
#pragma once

#include <string>
#include <vector>

#include "CMStorageDevice.h"
#include "CopyServerHarness.h"
#include "FuzzFields.h"
#include "PropertyNames.h"

namespace fuzz {

inline void buildRecord(const uint8_t* data, size_t size, bool nfs, const char* target) {
    const std::vector<std::string> in = fields(data, size, 6);
    CopyServerHarness harness;
    testhost::TestSnapInfo& request = harness.request;
    request.arrayInfo = in[0];
    request.device = in[1];
    request.snapUUID = in[2];
    request.metaData = in[3];
    request.transMetaData = in[4];
    request.snapDevice = in[5];
    request.snapId = 1;

    CMStorageDevice device;
    if (nfs) {
        device.getProperties()[SNAP_CONFIG_PROTOCOL] = PROTOCOL_NFS;
    }
    std::string host;
    std::string user;
    std::string password;
    if (harness.server.buildCopyDevices(&device, host, user, password) != COPY_SUCCESS) {
        return;
    }
    // A record that was built names its snapshot: the host's name for it when it has one.
    auto& map = device.getProperties();
    if (!request.snapUUID.empty() && request.snapUUID.find('\0') == std::string::npos &&
        map[TARGET_DEVICE_NAME] != request.snapUUID) {
        fail(target, "the record does not carry the host's snapshot name");
    }
}

}  // namespace fuzz
