// SPDX-License-Identifier: Apache-2.0
// Names a person reads for the numbers the plug-in and the host exchange.
#pragma once

#include <cstdint>
#include <string>

namespace kysnap {

// "prepared", "snapshot created", "mounted", ...; "not set" for 0; "status N" otherwise.
std::string statusName(int32_t status);
// "success", "failed", "partial success"; "result N" otherwise.
std::string resultName(int32_t result);

}  // namespace kysnap
