// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for VMware device descriptions: the key-value text with the standard
// INQUIRY data as hex ("standardinqury"), the "lunuuid" and the target identifier, decoded by
// the copy server for block and NFS datastores, and the hex and uuid decoders on their own.
// Fields: the description, a uuid, a hex text.
#include <string>
#include <vector>

#include "CopyServerHarness.h"
#include "FuzzFields.h"
#include "ScsiInquiry.h"

namespace {

const char kTarget[] = "vmware_fuzz";

void checkDecoders(const std::string& uuid, const std::string& hex) {
    std::string lunId;
    const bool found = scsi::lunIdFromUuid(uuid, lunId);
    if (found != (lunId.size() == 32)) {
        fuzz::fail(kTarget, "lunIdFromUuid answer and LUN id disagree");
    }
    std::vector<unsigned char> bytes;
    std::string why;
    const bool decoded = scsi::decodeHexInquiry(hex, bytes, why);
    if (bytes.size() != scsi::kHexInquiryBytes) {
        fuzz::fail(kTarget, "decoded INQUIRY data is not of the fixed size");
    }
    if (!decoded) {
        if (why.empty()) {
            fuzz::fail(kTarget, "hex decoding failed without a reason");
        }
        for (unsigned char byte : bytes) {
            if (byte != 0) {
                fuzz::fail(kTarget, "failed hex decoding left data behind");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> in = fuzz::fields(data, size, 3);
    checkDecoders(in[1], in[2]);

    fuzz::CopyServerHarness harness;
    CMCopyServerTegile& server = harness.server;

    std::string lunId;
    std::string targetId;
    if (server.getSCSIDevicePropertiesVMware(in[0], lunId, targetId) == COPY_SUCCESS &&
        lunId.size() != 32) {
        fuzz::fail(kTarget, "an identified VMware device has no 32-digit LUN id");
    }
    std::string mountPoint;
    std::string serverName;
    ignoreStatus(server.getNFSSharePropertiesVMware(in[0], mountPoint, serverName),
                 "always success; the fuzz target looks for crashes only");
    return 0;
}
