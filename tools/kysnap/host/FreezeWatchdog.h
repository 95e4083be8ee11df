// SPDX-License-Identifier: Apache-2.0
// FreezeWatchdog: freezes filesystems (FIFREEZE) for the moment of a snapshot and makes sure
// they are thawed again, whatever becomes of kysnap. Before the first freeze a watchdog
// process is forked with its own open descriptors of the mount points; it thaws every
// filesystem kysnap was about to freeze when kysnap's end of their socket closes (kysnap died,
// even by SIGKILL: the kernel closes it at once) or when the cap passes, whichever comes first.
// It leaves the terminal's process group and ignores the terminal's signals, so that a Ctrl-C
// which ends kysnap does not end it too.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kysnap {

// How the freeze ended.
enum class FreezeEnd {
    Held,         // frozen until thaw() (the create, in kysnap's use, ran wholly frozen)
    ThawedAtCap,  // the watchdog thawed them when the cap passed, before thaw()
};

class FreezeWatchdog {
public:
    // The most mount points one run freezes.
    static constexpr size_t kMaxMounts = 64;

    // Opens each mount point and forks the watchdog, whose cap counts from now. Null with
    // `error` set when a mount point cannot be opened or the watchdog cannot start; nothing is
    // frozen then.
    static std::unique_ptr<FreezeWatchdog> start(const std::vector<std::string>& mountPoints,
                                                 std::chrono::milliseconds cap, std::string& error);
    ~FreezeWatchdog();  // thaws what is still frozen and waits for the watchdog
    FreezeWatchdog(const FreezeWatchdog&) = delete;
    FreezeWatchdog& operator=(const FreezeWatchdog&) = delete;

    // Freezes each mount point in order. False with `error` naming the mount point and why
    // (EOPNOTSUPP: its filesystem cannot be frozen; EPERM: kysnap is not root; EBUSY: it is
    // frozen already, by someone else); those this call froze are thawed again then.
    bool freeze(std::string& error);
    // Thaws what freeze() froze and ends the watchdog. Returns how the freeze ended; each
    // filesystem that could not be thawed is added to `problems` (one line each).
    FreezeEnd thaw(std::vector<std::string>& problems);

    pid_t watchdogPid() const { return watchdog_; }

private:
    FreezeWatchdog() = default;
    void endWatchdog(bool& thawedAtCap);

    std::vector<std::string> mountPoints_;
    std::vector<int> fds_;
    std::vector<bool> frozen_;
    int channel_ = -1;  // kysnap's end of the socket pair
    pid_t watchdog_ = -1;
    bool ended_ = false;
};

}  // namespace kysnap
