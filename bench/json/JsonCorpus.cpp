// SPDX-License-Identifier: Apache-2.0
#include "JsonCorpus.h"

#include <cstdint>
#include <cstdio>

namespace bench {

namespace {

const char* const kBlockSizes[] = {"4KB", "8KB", "16KB", "32KB", "64KB"};
const char* const kProjects[] = {"oracle", "vmware", "exchange", "sql", "files"};

}  // namespace

std::string listVolumesAnswer(int count) {
    std::string text = "[";
    char entry[512];
    for (int i = 0; i < count; ++i) {
        const char* project = kProjects[i % 5];
        const uint64_t size = (uint64_t{1} << 30) * static_cast<uint64_t>(1 + i % 997);
        std::snprintf(entry, sizeof(entry),
                      "%s{\"name\":\"vol-%05d\",\"poolName\":\"pool-a\",\"projectName\":\"%s\","
                      "\"datasetPath\":\"pool-a/Local/%s/vol-%05d\",\"local\":true,"
                      "\"luId\":\"600144F0C8A7B3D1E45F4A2B%08X\",\"volSize\":%llu,"
                      "\"blockSize\":\"%s\",\"thinProvision\":%s,\"protocol\":\"%s\"}",
                      i == 0 ? "" : ",", i, project, project, i, 0x10000 + i,
                      static_cast<unsigned long long>(size), kBlockSizes[i % 5],
                      i % 3 == 0 ? "false" : "true", i % 4 == 0 ? "iSCSI" : "FC");
        text += entry;
    }
    text += "]";
    return text;
}

std::string snapshotListing(int count) {
    std::string text = "[";
    char entry[256];
    for (int i = 0; i < count; ++i) {
        std::snprintf(entry, sizeof(entry),
                      "%s\"pool-a/Local/%s/vol-%05d@Manual-V-KY-20261209T%06dZ-%d\"",
                      i == 0 ? "" : ",", kProjects[i % 5], i % 40, (i * 37) % 240000, i);
        text += entry;
    }
    text += "]";
    return text;
}

}  // namespace bench
