// SPDX-License-Identifier: Apache-2.0
// Quiescing: what `snap` does around the batch create so that its snapshots are consistent,
// in this order: the pre-hook, (the catalog records the intents,) the freeze of the named
// filesystems with their watchdog, the create, the thaw, the post-hook. The post-hook runs
// whenever the pre-hook ran (or, without one, once the snapshot was attempted), also when the
// freeze or create failed or the run ends early: the destructor runs what is still due.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Catalog.h"
#include "FreezeWatchdog.h"
#include "MountPoints.h"
#include "Options.h"

namespace kysnap {

enum class PreHookResult { NotGiven, Succeeded, Failed };
enum class FreezeResult {
    NotAsked,
    Held,    // frozen from before the create until after it returned
    Failed,  // not frozen (FIFREEZE failed), or thawed by the watchdog at the cap
};

// The consistency the snapshots of a batch are recorded with: a freeze asked for that did not
// hold makes them crash-consistent whatever the pre-hook did (the application's data may still
// have been in the page cache); else a pre-hook that succeeded makes them hook-quiesced; else a
// freeze that held makes them filesystem-frozen; else they are crash-consistent.
Consistency consistencyOf(PreHookResult preHook, FreezeResult freeze);

// The combinations of the options that make no sense: --freeze-timeout without --freeze,
// --allow-crash-consistent without --freeze or --pre-hook. False with `error` set (a usage
// error).
bool quiesceOptionsFit(const Options& options, std::string& error);

class Quiescing {
public:
    // Checks the mount points of `options.freeze` (MountPoints.h says what is refused) and warns
    // on standard error about each one not on the devices being snapped (`options.arguments`;
    // once, when none of them is a block device of this host: the sim backend's are not). Null
    // with `error` (the refusal and its remedy) when one is refused; nothing was run then.
    static std::unique_ptr<Quiescing> prepare(const Options& options, std::string& error);
    ~Quiescing();  // thaws what is frozen, then runs the post-hook when it is still due
    Quiescing(const Quiescing&) = delete;
    Quiescing& operator=(const Quiescing&) = delete;

    // Variables the hooks do not get from kysnap's environment (those that hold passwords).
    void withhold(const std::vector<std::string>& variables) { withheld_ = variables; }
    // Whether any freeze or hook was asked for.
    bool asked() const;
    // Runs the pre-hook, if any. False when the snapshot must not be taken (it failed and
    // --allow-crash-consistent was not given); the failure was said on standard error.
    bool runPreHook();
    // Freezes the filesystems, if any, under their watchdog. False when the snapshot must not
    // be taken (the freeze failed and --allow-crash-consistent was not given; what was frozen
    // is thawed); the failure was said on standard error.
    bool freeze();
    // Thaws them, at once after the create. Adds to `problems` what the report must say: a
    // filesystem that would not thaw, the cap that passed before the create returned.
    void thaw(std::vector<std::string>& problems);
    // Runs the post-hook when it is due (once). False when it ran and failed; its failure is
    // added to `problems`.
    bool runPostHook(std::vector<std::string>& problems);

    Consistency consistency() const { return consistencyOf(preHook_, freeze_); }
    // Whether the run fell short of what was asked, so that it is no plain success: a
    // consistency not reached without --allow-crash-consistent allowing it (the cap passed
    // during the create), or a post-hook that failed (the application may still be quiesced).
    bool fellShort() const;

private:
    Quiescing() = default;

    const Options* options_ = nullptr;
    std::vector<FreezeTarget> targets_;
    std::unique_ptr<FreezeWatchdog> watchdog_;
    PreHookResult preHook_ = PreHookResult::NotGiven;
    FreezeResult freeze_ = FreezeResult::NotAsked;
    bool postHookDue_ = false;
    bool thawedAtCap_ = false;
    bool postHookFailed_ = false;
    std::vector<std::string> withheld_;
};

}  // namespace kysnap
