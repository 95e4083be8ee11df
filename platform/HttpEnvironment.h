// SPDX-License-Identifier: Apache-2.0
// Reads the HTTP client's settings from the environment (KYSNAP_TLS_CA_FILE,
// KYSNAP_TLS_PINS_FILE, KYSNAP_TLS_INSECURE, KYSNAP_HTTP_CONNECT_TIMEOUT, KYSNAP_HTTP_TIMEOUT).
// Invalid values fall back to the safe default and say so in `warnings`; nothing here logs.
#pragma once

#include <string>
#include <vector>

#include "HttpTransport.h"

namespace kyplatform {

constexpr long kDefaultConnectTimeoutSeconds = 30;
constexpr long kDefaultTotalTimeoutSeconds = 300;
// Larger time-outs are taken as a mistake: a stalled array must not hold a backup for days.
constexpr long kMaxTimeoutSeconds = 24L * 3600;

// Fills the TLS and time-out fields of `settings` from the environment and appends one
// warning text per value that was ignored or that weakens security.
void readHttpEnvironment(HttpTransportSettings& settings, std::vector<std::string>& warnings);

}  // namespace kyplatform
