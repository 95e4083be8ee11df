// SPDX-License-Identifier: Apache-2.0
// `kysnap version` and `kysnap --version`, which print the same: kysnap's own version, then
// the plug-in's as it reports it once loaded.
#pragma once

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Prints "kysnap VERSION" and "PLUGIN: plug-in version X.Y.Z" on standard output; 0. A plug-in
// that cannot be loaded is said on its line ("PLUGIN: plug-in not loaded (why)"), and the exit
// status is kExitFailure. With --json one document, the same in both cases:
//   {"version": 1, "command": "version", "kysnapVersion": "1.0.0",
//    "plugin": {"path": ..., "version": "1.0.0"}}  ("error" in place of the plug-in's version)
int runVersion(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
