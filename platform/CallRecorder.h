// SPDX-License-Identifier: Apache-2.0
// How the platform's pieces count into the calling thread's CallScope; nothing is counted
// outside a scope.
#pragma once

#include <cstdint>
#include <string>

namespace kyplatform {
namespace record {
void request(const std::string& method, bool failed);
void connections(uint64_t opened);
void fullHandshake();
void sleep(unsigned int milliseconds);
}  // namespace record
}  // namespace kyplatform
