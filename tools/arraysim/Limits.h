// SPDX-License-Identifier: Apache-2.0
// Limits: the bounds the simulated array puts on what a client may send, so that no request
// can exhaust its memory or hold the model lock for long. docs/arraysim.md lists them.
#pragma once

#include <cstddef>

namespace arraysim {

// listSnapshots: longest name pattern, and the memory RE2 may use to compile one.
constexpr size_t kMaxPatternLength = 1024;
constexpr long long kPatternMemoryBytes = 1 << 20;

// Default largest request body (more is refused with 413 before it is read).
constexpr size_t kDefaultMaxBodyBytes = 1 << 20;

// Control routes: longest text member, most entries in a list, most pending faults, longest
// injected latency.
constexpr size_t kMaxControlText = 4096;
constexpr size_t kMaxControlBody = 64 * 1024;  // the "body" of a respond fault
constexpr size_t kMaxControlList = 1024;
constexpr size_t kMaxFaults = 1024;
constexpr long long kMaxLatencyMs = 600000;

// Names of initiators and initiator groups.
constexpr size_t kMaxInitiatorNameLength = 223;
constexpr size_t kMaxGroupNameLength = 255;

}  // namespace arraysim
