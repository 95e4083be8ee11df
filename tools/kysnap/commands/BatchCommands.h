// SPDX-License-Identifier: Apache-2.0
// The commands that run one of the plug-in's batch operations over devices or catalog
// snapshots (their rows: BatchOperations.h): vpd, prepare, unprepare, snap, map, unmap,
// delete, revert, reconcile.
#pragma once

#include <vector>

#include "BatchItems.h"
#include "DestroyPlan.h"
#include "Options.h"
#include "Report.h"
#include "Session.h"

namespace kysnap {

class Quiescing;

// Runs the batch command `options.command` with a session of `needs`; returns the exit status
// (kExitUsage for operands named twice, kExitFailure when the run cannot start, else the
// report's exit status). With --policy NAME (snap) the operands are the policy's devices.
int runBatchCommand(const Options& options, const Session::Needs& needs);

// The rest of a batch run whose `items` are made (BatchItems.h) and whose destruction, if any,
// is judged and allowed (`plan`, read for a revert only): calls the plug-in (inside the freeze
// `quiescing` holds, when given, borrowed: it is thawed and the post-hook run right after), settles
// each item into the session's catalog and saves it, then appends an audit line per request of an
// audited operation, named after the command that runs it (AuditTrail.h). Returns the report, not
// yet printed; a catalog that could not be saved is said on standard error and in the report.
OperationReport callAndSettle(Session& session, const batch::Operation& operation,
                              RequestAttribution& attribution, std::vector<BatchItem>& items,
                              const DestroyPlan& plan, Quiescing* quiescing = nullptr);

}  // namespace kysnap
