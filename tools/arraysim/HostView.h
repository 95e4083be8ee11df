// SPDX-License-Identifier: Apache-2.0
// HostView: what a host sees of the array after a bus rescan. Given the host's initiator names
// (FC port names in any usual spelling, iSCSI names), it lists every mapping whose initiator
// group holds one of them, as one LUN path each, with the INQUIRY data the host would read:
//   standard data (255 bytes): vendor "TEGILE" at 8..15, product "INTELLIFLASH" at 16..31,
//     both blank-padded, revision at 32..35;
//   page 0x83 (255 bytes): the LUN id as 16 raw bytes at 8..23 (an NAA designator), then a
//     SCSI-name designator whose length n is at byte 27 and whose text, the target name, starts
//     at 28 (NUL-padded to a multiple of 4).
//
// A mapping can stay hidden for a number of queries (Mapping::hiddenForQueries): each query
// that would have shown it counts one down instead, so a host's rescan-and-retry loop can be
// exercised. The caller holds the model lock.
#pragma once

#include <string>
#include <vector>

#include "DataStore.h"
#include "Model.h"
#include "jsonxx.h"

namespace arraysim {

constexpr size_t kInquiryLength = 255;

// {"luns": [{"luId", "name", "datasetPath", "lun", "initiator", "initiatorGroup",
//            "targetGroup", "targetId", "protocol", "size", "blockSize",
//            "standardInquiry" (hex), "page83" (hex)}...], "hiddenMappings": n}
// With a data store, each LUN also has "dataPath", its image file, and "shares" lists every
// share the array exports: [{"datasetPath", "mountPoint", "dataPath" (its tree)}...]. A host
// reaches an export by mounting it, not through a mapping, so no initiator filters these.
jsonxx::Object hostView(Model& model, const std::vector<std::string>& hostInitiators,
                        const DataStore* data = nullptr);

// Vendor TEGILE, `product`, and the first four characters of the software version.
std::vector<unsigned char> standardInquiry(const SystemInfo& system, const std::string& product);
// `luId` must be 32 hex digits; a target name longer than fits is cut.
std::vector<unsigned char> deviceIdentificationPage(const std::string& luId,
                                                    const std::string& targetId,
                                                    const std::string& protocol);
std::string hexEncode(const std::vector<unsigned char>& bytes);  // lower-case, no separators

}  // namespace arraysim
