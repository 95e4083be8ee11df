// SPDX-License-Identifier: Apache-2.0
// The one line that closes every exported call: where its time went, for support engineers
// reading a slow backup's log. Method names and counts only; no credential can appear.
#pragma once

#include <chrono>
#include <string>

#include "CallScope.h"

// "wall [W ms] requests [N: method n, ...] failures [F] connections [C] full TLS handshakes
// [H] retries [R] sleeps [S, T ms]"
std::string callSummary(const kyplatform::CallStatistics& statistics,
                        std::chrono::steady_clock::duration wall, unsigned int retries);
