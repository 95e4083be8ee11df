// SPDX-License-Identifier: Apache-2.0
// kysnap prune [--policy NAME] [--dry-run]: deletes the snapshots the policies let go (every
// policy, or the one named), through the plug-in's delete as kysnap delete sends it, all in one
// call. It holds the catalog's lock from before it reads the catalog until it has saved it, so a
// second prune started meanwhile waits, then finds nothing more to delete. What it reads and how
// it decides: PrunePlan.h, Retention.h. Each deletion is one line naming the snapshot and the
// rules it is outside of; --dry-run prints the plan and changes nothing.
#pragma once

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Returns the exit status: 0 when every device was judged and every deletion done; 3 when some
// were and some not; 1 when none (or the run could not start); 4 when the array was changed but
// the catalog could not be saved.
int runPrune(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
