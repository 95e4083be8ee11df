// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for decoding an NFS share's stored metadata (JSON objects) and the rest of
// the host's request into a device record.
#include "MetadataFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::buildRecord(data, size, true, "metadata_nfs_fuzz");
    return 0;
}
