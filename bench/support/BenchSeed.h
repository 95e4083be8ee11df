// SPDX-License-Identifier: Apache-2.0
// The arrays of the benchmarks: the sample array's seed plus a project "bench" of N volumes,
// each mapped to the host's FC group db-host-fc.
#pragma once

#include <string>

#include "jsonxx.h"

namespace bench {

// tools/arraysim/seed/sample.json, parsed; empty when it cannot be read.
jsonxx::Object sampleSeed();

// Adds the project "bench" to pool-a with `volumes` volumes "bench-0000", ..., whose LUN ids
// are benchLunId(array, i), each mapped to db-host-fc through the FC target group (the array
// picks the LUN numbers).
void addBenchVolumes(jsonxx::Object& seed, int array, int volumes);

// The LUN id of bench volume `index` on array `array`: 32 hex digits, unique per site.
std::string benchLunId(int array, int index);

}  // namespace bench
