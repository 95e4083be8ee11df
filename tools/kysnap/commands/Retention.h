// SPDX-License-Identifier: Apache-2.0
// Retention: which of one device's snapshots a policy keeps and which it lets go. Pure: it reads
// only its arguments (the clock is one of them) and asks nothing of the array or the catalog.
//
// The rule, for the catalog records of one device:
// - Only records named "KY-" (kysnap's own ids) are considered; any other record is foreign and
//   gets no decision at all.
// - A record whose creation is not confirmed (creating, failed, unknown), or whose snapshot the
//   array no longer lists (`facts.absent`), is left alone: settling it is the business of
//   kysnap reconcile and delete, never of prune. It counts for no rule, since a snapshot that
//   may not exist must not stand in for one that does.
// - Of the good snapshots (created), ordered newest first by their creation time in the catalog
//   (the array reports none), with catalog order breaking ties:
//   - hourly N, daily N, weekly N, monthly N, yearly N: the time is cut into UTC hours, days,
//     ISO weeks (Monday to Sunday), months or years; the newest snapshot of each of the N newest
//     such periods that hold a good snapshot is kept. Periods without one do not use up N, so
//     when creation stops working the rules go on keeping as many snapshots as before.
//   - keep-last N keeps the N newest.
//   - keep-within D keeps every one made less than D before the newest good snapshot (not
//     before now: when creation keeps failing, time passing alone deletes nothing).
// - Whatever the rules say, these are kept: the newest good snapshot, a good snapshot whose
//   creation time is not readable, one made after `facts.now` (the clock was set back), and
//   every snapshot in `facts.protections` (mounted, with clones, the replication base...), with
//   its reason.
// - Every other good snapshot is deleted, with the text of the rules it is outside of.
#pragma once

#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Catalog.h"
#include "Policy.h"

namespace kysnap {

enum class Verdict {
    Keep,
    Delete,
    Left,  // not a good snapshot: not prune's to decide
};

struct RetentionDecision {
    std::string snapshot;
    Verdict verdict = Verdict::Keep;
    // Keep: each rule and protection that keeps it ("daily 2026-12-09", "mounted as ...").
    // Delete: one text, the rules it is outside of. Left: why it is left.
    std::vector<std::string> reasons;
};

// What is known of a device's snapshots besides their records.
struct RetentionFacts {
    std::time_t now = 0;
    std::map<std::string, std::string> protections;  // snapshot id -> why it must be kept
    std::set<std::string> absent;                    // ids the array does not list
};

// Decides for each considered record of `records` (one device's, in catalog order), in that
// order.
std::vector<RetentionDecision> decideRetention(const std::vector<SnapshotRecord>& records,
                                               const Policy& policy, const RetentionFacts& facts);

// Whether `name` is one of kysnap's own snapshot ids ("KY-..."), the only ones prune considers.
bool prunable(const std::string& name);

}  // namespace kysnap
