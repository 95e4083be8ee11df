// SPDX-License-Identifier: Apache-2.0
// What kysnap makes of one batch request after the plug-in's call, by its operation's row:
// whether it succeeded, what the catalog records of it, and the outcome the report shows.
#pragma once

#include <string>
#include <vector>

#include "BatchItems.h"
#include "BatchOperations.h"
#include "Report.h"
#include "Session.h"

namespace kysnap {

// Judges `item`, writes what the plug-in told the host about it into the catalog (not saved)
// and returns its outcome for the report. `problems` gets what the host met on the way (a clone
// that could not be looked for).
RequestOutcome settleItem(Session& session, const batch::Operation& operation, BatchItem& item,
                          std::vector<std::string>& problems);

}  // namespace kysnap
