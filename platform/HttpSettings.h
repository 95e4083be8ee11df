// SPDX-License-Identifier: Apache-2.0
// Makes an HTTP transport's settings from the settings in force (PlatformSettings.h): the
// installed ones, else the environment's. Values that cannot be used fall back to the safe
// default and say so in `warnings`, as do the settings' own warnings; nothing here logs.
#pragma once

#include <string>
#include <vector>

#include "HttpTransport.h"
#include "PlatformSettings.h"

namespace kyplatform {

// Fills the TLS and time-out fields of `settings` from platformSettings() and appends one
// warning text per value that was ignored or that weakens security.
void readHttpSettings(HttpTransportSettings& settings, std::vector<std::string>& warnings);

// The same from `source`.
void applyPlatformSettings(const PlatformSettings& source, HttpTransportSettings& settings,
                           std::vector<std::string>& warnings);

}  // namespace kyplatform
