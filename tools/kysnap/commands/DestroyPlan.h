// SPDX-License-Identifier: Apache-2.0
// DestroyPlan: what kysnap does before and after a delete or revert, around the plug-in's call.
// Before: it reads from the array and the catalog what each request would destroy
// (Dependents), shows it, and refuses, sending nothing that changes the array, where a host
// still uses something that would be lost or where the user has not said to go on. After a
// revert: it drops the records of the snapshots the array destroyed, so that the catalog never
// lists a snapshot that is not there.
#pragma once

#include <string>
#include <vector>

#include "Dependents.h"
#include "Session.h"

namespace kysnap {

// One catalog snapshot about to be deleted or reverted to.
struct PlannedRequest {
    std::string snapshot;  // its catalog id
    std::string device;    // its source device, as the user named it
    std::string array;     // the array's name in the configuration
    Dependents found;
};

struct DestroyPlan {
    Destruction destruction = Destruction::Delete;
    std::vector<PlannedRequest> requests;

    bool blocked() const;  // any request is blocked
    const char* verb() const;
};

// Reads what deleting or reverting to each of `snapshots` (catalog ids) would destroy. False
// with `error` set when a snapshot's array is not configured, the array cannot be asked, or two
// reverts would roll back the same source (the first would destroy what the second needs).
bool readDestroyPlan(const Session& session, Destruction destruction,
                     const std::vector<std::string>& snapshots, DestroyPlan& plan,
                     std::string& error);

// --dry-run: prints what the run would destroy, or why it would be refused, on standard output
// (as text or JSON). Returns the exit status the run would have: 0 when it would go on, 1 when
// it would be refused.
int printDryRun(const DestroyPlan& plan, const Options& options);

// Whether the run may call the plug-in. When not, it has said why on standard error: what a
// host uses, for a revert what is lost and that --destroy-newer is needed, or a declined
// prompt. A revert shows what it destroys in any case; on a terminal without --yes it asks.
bool mayDestroy(const DestroyPlan& plan, const Options& options);

// After a revert call: re-reads the sources' snapshots and removes from the catalog every
// newer snapshot the array no longer lists. Returns one text per request (index as in the
// plan): the ids removed, or "" for none. A source that cannot be re-read leaves its records
// and adds a line to `problems`.
std::vector<std::string> forgetDestroyed(Session& session, const DestroyPlan& plan,
                                         std::vector<std::string>& problems);

}  // namespace kysnap
