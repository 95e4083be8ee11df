// SPDX-License-Identifier: Apache-2.0
#include "Quiescing.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "Hook.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// One line on standard error, made safe to show (paths and commands are the user's).
void say(const std::string& line) {
    std::fprintf(stderr, "kysnap: %s\n", visibleText(line).c_str());
}

// The block devices of this host among the devices being snapped.
std::vector<dev_t> snappedBlockDevices(const std::vector<std::string>& devices) {
    std::vector<dev_t> found;
    for (const std::string& device : devices) {
        struct stat info {};
        if (stat(device.c_str(), &info) == 0 && S_ISBLK(info.st_mode)) {
            found.push_back(info.st_rdev);
        }
    }
    return found;
}

// A frozen filesystem that the snapshots do not hold gains nothing from the freeze but the
// stall of its writers: said, not refused, as only the host's view of its devices tells.
void warnAboutDevices(const std::vector<FreezeTarget>& targets,
                      const std::vector<std::string>& devices) {
    const std::vector<dev_t> snapped = snappedBlockDevices(devices);
    if (snapped.empty()) {
        say("warning: cannot tell whether the frozen filesystems lie on the devices being "
            "snapped (none of them is a block device of this host)");
        return;
    }
    for (const FreezeTarget& target : targets) {
        const std::vector<dev_t> below = devicesBelow(target.mount.device);
        const bool on = std::any_of(below.begin(), below.end(), [&](dev_t device) {
            return std::find(snapped.begin(), snapped.end(), device) != snapped.end();
        });
        if (!on) {
            say("warning: " + target.mount.mountPoint + " (" + target.mount.source +
                ") is on none of the devices being snapped: freezing it does not make their "
                "snapshots consistent");
        }
    }
}

// KYSNAP_HOOK says the stage; the withheld variables are removed.
std::vector<std::pair<std::string, std::string>> hookEnvironment(
    const char* stage, const std::vector<std::string>& withheld) {
    std::vector<std::pair<std::string, std::string>> environment = {{"KYSNAP_HOOK", stage}};
    for (const std::string& name : withheld) {
        environment.emplace_back(name, "");
    }
    return environment;
}

}  // namespace

Consistency consistencyOf(PreHookResult preHook, FreezeResult freeze) {
    if (freeze == FreezeResult::Failed) {
        return Consistency::CrashConsistent;
    }
    if (preHook == PreHookResult::Succeeded) {
        return Consistency::HookQuiesced;
    }
    return freeze == FreezeResult::Held ? Consistency::FilesystemFrozen
                                        : Consistency::CrashConsistent;
}

bool quiesceOptionsFit(const Options& options, std::string& error) {
    const auto given = [&](CommandOption option) {
        return std::find(options.commandOptions.begin(), options.commandOptions.end(), option) !=
               options.commandOptions.end();
    };
    if (given(kOptionFreezeTimeout) && options.freeze.empty()) {
        error = "--freeze-timeout caps a freeze: give it with --freeze MOUNTPOINT";
        return false;
    }
    if (options.allowCrashConsistent && options.freeze.empty() && options.preHook.empty()) {
        error =
            "--allow-crash-consistent lets a failed --freeze or --pre-hook go on: give it "
            "with one of them";
        return false;
    }
    return true;
}

std::unique_ptr<Quiescing> Quiescing::prepare(const Options& options, std::string& error) {
    std::unique_ptr<Quiescing> quiescing(new Quiescing());
    quiescing->options_ = &options;
    if (options.freeze.empty()) {
        return quiescing;
    }
    if (options.freeze.size() > FreezeWatchdog::kMaxMounts) {
        error =
            "--freeze is given more than " + std::to_string(FreezeWatchdog::kMaxMounts) + " times";
        return nullptr;
    }
    std::vector<MountEntry> mounts;
    if (!readMountInfo(mounts, error) ||
        !checkFreezeTargets(options.freeze, mounts, quiescing->targets_, error)) {
        return nullptr;
    }
    warnAboutDevices(quiescing->targets_, options.arguments);
    return quiescing;
}

Quiescing::~Quiescing() {
    std::vector<std::string> problems;
    if (watchdog_) {
        thaw(problems);
    }
    runPostHook(problems);
    for (const std::string& problem : problems) {
        say(problem);
    }
}

bool Quiescing::asked() const {
    return !options_->freeze.empty() || !options_->preHook.empty() || !options_->postHook.empty();
}

bool Quiescing::runPreHook() {
    postHookDue_ = true;
    if (options_->preHook.empty()) {
        return true;
    }
    std::string failure;
    if (runHook(options_->preHook, kHookLimit, hookEnvironment("pre", withheld_), failure)) {
        preHook_ = PreHookResult::Succeeded;
        return true;
    }
    preHook_ = PreHookResult::Failed;
    if (options_->allowCrashConsistent) {
        say("the pre-hook " + failure +
            "; the snapshot is taken without it (--allow-crash-consistent)");
        return true;
    }
    say("the pre-hook " + failure +
        ": no snapshot was taken (--allow-crash-consistent takes it without the hook)");
    return false;
}

bool Quiescing::freeze() {
    if (targets_.empty()) {
        return true;
    }
    std::vector<std::string> points;
    for (const FreezeTarget& target : targets_) {
        points.push_back(target.mount.mountPoint);
    }
    std::string error;
    watchdog_ = FreezeWatchdog::start(points, std::chrono::seconds(options_->freezeTimeout), error);
    if (watchdog_ && watchdog_->freeze(error)) {
        freeze_ = FreezeResult::Held;
        return true;
    }
    watchdog_.reset();
    freeze_ = FreezeResult::Failed;
    if (options_->allowCrashConsistent) {
        say(error + "; the snapshot is taken crash-consistent (--allow-crash-consistent)");
        return true;
    }
    say(error + ": no snapshot was taken (--allow-crash-consistent takes it crash-consistent)");
    return false;
}

void Quiescing::thaw(std::vector<std::string>& problems) {
    if (!watchdog_) {
        return;
    }
    if (watchdog_->thaw(problems) == FreezeEnd::ThawedAtCap) {
        freeze_ = FreezeResult::Failed;
        thawedAtCap_ = true;
        problems.push_back("the freeze cap of " + std::to_string(options_->freezeTimeout) +
                           " s passed before the create returned: the snapshots are recorded "
                           "crash-consistent (a longer --freeze-timeout, or a faster array)");
    }
    watchdog_.reset();
}

bool Quiescing::runPostHook(std::vector<std::string>& problems) {
    if (!postHookDue_ || options_->postHook.empty()) {
        postHookDue_ = false;
        return true;
    }
    postHookDue_ = false;
    std::string failure;
    if (runHook(options_->postHook, kHookLimit, hookEnvironment("post", withheld_), failure)) {
        return true;
    }
    problems.push_back("the post-hook " + failure);
    postHookFailed_ = true;
    return false;
}

bool Quiescing::fellShort() const {
    return postHookFailed_ || (thawedAtCap_ && !options_->allowCrashConsistent);
}

}  // namespace kysnap
