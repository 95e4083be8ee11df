// SPDX-License-Identifier: Apache-2.0
#include "CallSummary.h"

std::string callSummary(const kyplatform::CallStatistics& statistics,
                        std::chrono::steady_clock::duration wall, unsigned int retries) {
    uint64_t requests = 0;
    uint64_t failures = 0;
    std::string perMethod;
    for (const auto& [method, counts] : statistics.methods) {
        requests += counts.requests;
        failures += counts.failures;
        perMethod +=
            (perMethod.empty() ? "" : ", ") + method + " " + std::to_string(counts.requests);
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wall).count();
    return "wall [" + std::to_string(ms) + " ms] requests [" + std::to_string(requests) +
           (perMethod.empty() ? "" : ": " + perMethod) + "] failures [" + std::to_string(failures) +
           "] connections [" + std::to_string(statistics.connections) + "] full TLS handshakes [" +
           std::to_string(statistics.fullHandshakes) + "] retries [" + std::to_string(retries) +
           "] sleeps [" + std::to_string(statistics.sleeps) + ", " +
           std::to_string(statistics.sleptMs) + " ms]";
}
