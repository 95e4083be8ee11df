// SPDX-License-Identifier: Apache-2.0
// kysnap version and --version: kysnap's version and the plug-in's.
#pragma once

#include "Options.h"

namespace kysnap {

// Prints the plug-in's version; with `own` (--version) kysnap's first, and a plug-in that
// cannot be loaded is said in place of its version, exit 0. Without `own`, a plug-in that
// cannot be loaded is an error (kExitCannotRun). With --json one document:
//   {"version": 1, "command": "version", "kysnapVersion": "1.0.0",
//    "plugin": {"path": ..., "version": "1.0.0"}}  ("error" in place of the plug-in's version)
int runVersion(const Options& options, bool own);

}  // namespace kysnap
