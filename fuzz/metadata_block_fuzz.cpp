// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for decoding a block device's stored metadata ('|'-separated values bound
// to numbered keys) and the rest of the host's request into a device record.
#include "MetadataFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::buildRecord(data, size, false, "metadata_block_fuzz");
    return 0;
}
