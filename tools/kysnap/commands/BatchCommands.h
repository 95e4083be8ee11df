// SPDX-License-Identifier: Apache-2.0
// The commands that run one of the plug-in's batch operations over devices or catalog
// snapshots (their rows: BatchOperations.h): vpd, prepare, unprepare, snap, map, unmap,
// delete, revert, reconcile.
#pragma once

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Runs the batch command `options.command` with a session of `needs`; returns the exit status
// (kExitUsage for operands named twice, kExitFailure when the run cannot start, else the
// report's exit status).
int runBatchCommand(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
