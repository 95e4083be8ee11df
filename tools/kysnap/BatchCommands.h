// SPDX-License-Identifier: Apache-2.0
// The subcommands that run one of the plug-in's batch operations over devices or catalog
// snapshots: vpd, prepare, unprepare, snap, map, unmap, delete, revert, reconcile.
#pragma once

#include <string>

#include "Options.h"

namespace kysnap {

// True when `command` is one of them.
bool isBatchCommand(const std::string& command);

// Runs the batch command `options.command`; returns the exit status (the result code, or
// kExitCannotRun).
int runBatchCommand(const Options& options);

}  // namespace kysnap
