// SPDX-License-Identifier: Apache-2.0
#include "BenchSeed.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace bench {

jsonxx::Object sampleSeed() {
    std::ifstream file(std::string(KYBENCH_SOURCE_DIR) + "/tools/arraysim/seed/sample.json");
    std::stringstream text;
    text << file.rdbuf();
    jsonxx::Object seed;
    seed.parse(text.str());
    return seed;
}

void addBenchVolumes(jsonxx::Object& seed, int array, int volumes) {
    jsonxx::Array list;
    jsonxx::Array& mappings = seed.get<jsonxx::Array>("mappings");
    for (int i = 0; i < volumes; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "bench-%04d", i);
        jsonxx::Object volume;
        volume.import("name", name);
        volume.import("luId", benchLunId(array, i));
        volume.import("size", static_cast<jsonxx::Number>(uint64_t{16} << 30));
        volume.import("blockSize", "8KB");
        volume.import("thinProvision", true);
        volume.import("protocol", "FC");
        list.append(volume);
        jsonxx::Object mapping;
        mapping.import("datasetPath", std::string("pool-a/Local/bench/") + name);
        mapping.import("initiatorGroup", "db-host-fc");
        mapping.import("targetGroup", "default-fc-target-group");
        mappings.append(mapping);
    }
    jsonxx::Object project;
    project.import("name", "bench");
    project.import("volumes", list);
    jsonxx::Object& pool = seed.get<jsonxx::Array>("pools").get<jsonxx::Object>(0);
    pool.get<jsonxx::Array>("projects").append(project);
}

std::string benchLunId(int array, int index) {
    char id[40];
    std::snprintf(id, sizeof(id), "600144F0BE0C%02X%018X", array & 0xFF, index);
    return id;
}

}  // namespace bench
