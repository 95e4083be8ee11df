// Limits: the bounds the simulated array puts on what a client may send, so that no request
// can exhaust its memory or hold the model lock for long. docs/arraysim.md lists them.
#pragma once

#include <cstddef>

namespace arraysim {

// listSnapshots: longest name pattern, and the memory RE2 may use to compile one.
constexpr size_t kMaxPatternLength = 1024;
constexpr long long kPatternMemoryBytes = 1 << 20;

}  // namespace arraysim
