// SPDX-License-Identifier: Apache-2.0
#include "FreezeWatchdog.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kysnap {

namespace {

// One-byte messages, so that each is read whole. kysnap sends kFreezing | i before it freezes
// mount point i (so that a death right after the ioctl still leaves the watchdog knowing it),
// kNotFrozen | i when that freeze failed (the filesystem is not ours to thaw), kDone once it
// has thawed them itself. The watchdog sends kReady once it watches, kCapPassed after it
// thawed at the cap.
constexpr unsigned char kFreezing = 0x80;
constexpr unsigned char kNotFrozen = 0xC0;
constexpr unsigned char kIndexMask = 0x3F;
constexpr unsigned char kDone = 0x01;
constexpr char kReady = 'r';
constexpr char kCapPassed = 'c';
constexpr int kExitThawedAtCap = 3;
constexpr int kReadyWaitMs = 5000;
constexpr int kEndWaitMs = 2000;

long elapsedMs(const timespec& start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

void thawAnnounced(const int* fds, const bool* announced, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (announced[i]) {
            ioctl(fds[i], FITHAW, 0);
        }
    }
}

// The watchdog, in the forked child of a process that may have threads: only system calls
// that are safe after fork until it ends with _exit.
[[noreturn]] void watch(int channel, const int* fds, size_t count, long capMs,
                        const std::string& deathNote, const std::string& capNote) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    for (const int signal :
         {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE}) {
        sigaction(signal, &ignore, nullptr);
    }
    setpgid(0, 0);
    bool announced[FreezeWatchdog::kMaxMounts] = {};
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    send(channel, &kReady, 1, MSG_NOSIGNAL);
    for (;;) {
        const long left = capMs - elapsedMs(start);
        if (left <= 0) {
            thawAnnounced(fds, announced, count);
            send(channel, &kCapPassed, 1, MSG_NOSIGNAL);
            (void)!write(STDERR_FILENO, capNote.data(), capNote.size());
            _exit(kExitThawedAtCap);
        }
        pollfd wait{channel, POLLIN, 0};
        const int ready = poll(&wait, 1, static_cast<int>(left));
        if (ready == 0 || (ready < 0 && errno == EINTR)) {
            continue;
        }
        unsigned char message = 0;
        const ssize_t got = ready < 0 ? -1 : read(channel, &message, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {  // kysnap's end closed: it died
            (void)!write(STDERR_FILENO, deathNote.data(), deathNote.size());
            thawAnnounced(fds, announced, count);
            _exit(0);
        }
        if (message == kDone) {
            _exit(0);
        }
        const size_t index = message & kIndexMask;
        if ((message & kFreezing) != 0 && index < count) {
            announced[index] = (message & kNotFrozen) != kNotFrozen;
        }
    }
}

bool sendByte(int channel, unsigned char byte) {
    return send(channel, &byte, 1, MSG_NOSIGNAL) == 1;
}

std::string joined(const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths) {
        text += (text.empty() ? "" : " ") + path;
    }
    return text;
}

std::string freezeFailure(const std::string& path, int error) {
    switch (error) {
        case EOPNOTSUPP:
            return "cannot freeze " + path +
                   ": its filesystem does not support freezing (leave it out of --freeze)";
        case EPERM:
            return "cannot freeze " + path + ": freezing needs root (CAP_SYS_ADMIN)";
        case EBUSY:
            return "cannot freeze " + path +
                   ": it is frozen already, by another program (thaw it with fsfreeze "
                   "--unfreeze " +
                   path + " once that program is done)";
        default:
            return "cannot freeze " + path + ": " + std::strerror(error);
    }
}

}  // namespace

std::unique_ptr<FreezeWatchdog> FreezeWatchdog::start(const std::vector<std::string>& mountPoints,
                                                      std::chrono::milliseconds cap,
                                                      std::string& error) {
    if (mountPoints.size() > kMaxMounts) {
        error = "at most " + std::to_string(kMaxMounts) + " mount points are frozen at once";
        return nullptr;
    }
    std::unique_ptr<FreezeWatchdog> guard(new FreezeWatchdog());
    guard->mountPoints_ = mountPoints;
    for (const std::string& path : mountPoints) {
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            error = "cannot open " + path + " to freeze it: " + std::strerror(errno);
            return nullptr;  // the destructor closes those opened
        }
        guard->fds_.push_back(fd);
        guard->frozen_.push_back(false);
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = std::string("cannot start the freeze watchdog: ") + std::strerror(errno);
        return nullptr;
    }
    const std::string list = joined(mountPoints);
    const std::string deathNote =
        "kysnap: watchdog: kysnap ended during the freeze; thawing " + list + "\n";
    const std::string capText = cap.count() % 1000 == 0 ? std::to_string(cap.count() / 1000) + " s"
                                                        : std::to_string(cap.count()) + " ms";
    const std::string capNote = "kysnap: watchdog: the freeze cap of " + capText +
                                " passed before the array answered; thawed " + list +
                                " (the snapshots are crash-consistent)\n";
    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("cannot start the freeze watchdog: ") + std::strerror(errno);
        close(pair[0]);
        close(pair[1]);
        return nullptr;
    }
    if (pid == 0) {
        close(pair[0]);
        watch(pair[1], guard->fds_.data(), guard->fds_.size(), static_cast<long>(cap.count()),
              deathNote, capNote);
    }
    close(pair[1]);
    guard->channel_ = pair[0];
    guard->watchdog_ = pid;
    pollfd wait{guard->channel_, POLLIN, 0};
    char ready = 0;
    if (poll(&wait, 1, kReadyWaitMs) != 1 || read(guard->channel_, &ready, 1) != 1 ||
        ready != kReady) {
        error = "the freeze watchdog did not start; nothing was frozen";
        return nullptr;
    }
    return guard;
}

FreezeWatchdog::~FreezeWatchdog() {
    std::vector<std::string> problems;
    if (watchdog_ > 0 && !ended_) {
        thaw(problems);
    }
    for (const int fd : fds_) {
        close(fd);
    }
    if (channel_ >= 0) {
        close(channel_);
    }
}

bool FreezeWatchdog::freeze(std::string& error) {
    for (size_t i = 0; i < fds_.size(); ++i) {
        if (!sendByte(channel_, static_cast<unsigned char>(kFreezing | i))) {
            error = "the freeze watchdog ended before " + mountPoints_[i] + " was frozen";
            break;
        }
        if (ioctl(fds_[i], FIFREEZE, 0) != 0) {
            error = freezeFailure(mountPoints_[i], errno);
            sendByte(channel_, static_cast<unsigned char>(kNotFrozen | i));
            break;
        }
        frozen_[i] = true;
    }
    // Freezing writes the filesystems' dirty data first; when that took the whole cap the
    // watchdog has thawed (or is thawing) them already.
    pollfd wait{channel_, POLLIN, 0};
    if (error.empty() && poll(&wait, 1, 0) != 0) {
        error = "freezing " + joined(mountPoints_) +
                " took longer than the cap (much data to write first): try again, or give a "
                "longer --freeze-timeout";
    }
    if (error.empty()) {
        return true;
    }
    std::vector<std::string> problems;
    thaw(problems);
    for (const std::string& problem : problems) {
        error += "; " + problem;
    }
    return false;
}

FreezeEnd FreezeWatchdog::thaw(std::vector<std::string>& problems) {
    for (size_t i = 0; i < fds_.size(); ++i) {
        // EINVAL: not frozen any more, the watchdog thawed it at the cap.
        if (frozen_[i] && ioctl(fds_[i], FITHAW, 0) != 0 && errno != EINVAL) {
            problems.push_back("cannot thaw " + mountPoints_[i] + ": " + std::strerror(errno) +
                               " (fsfreeze --unfreeze " + mountPoints_[i] + ")");
        }
        frozen_[i] = false;
    }
    bool thawedAtCap = false;
    endWatchdog(thawedAtCap);
    return thawedAtCap ? FreezeEnd::ThawedAtCap : FreezeEnd::Held;
}

void FreezeWatchdog::endWatchdog(bool& thawedAtCap) {
    if (ended_ || watchdog_ <= 0) {
        return;
    }
    ended_ = true;
    sendByte(channel_, kDone);
    // Whatever the watchdog said before it ended, up to its end of the socket closing.
    bool closed = false;
    for (;;) {
        pollfd wait{channel_, POLLIN, 0};
        char message = 0;
        if (poll(&wait, 1, kEndWaitMs) != 1) {
            break;
        }
        if (read(channel_, &message, 1) != 1) {
            closed = true;
            break;
        }
        thawedAtCap = thawedAtCap || message == kCapPassed;
    }
    if (!closed) {  // a watchdog that does not end is stopped (it has no filesystem left)
        kill(watchdog_, SIGKILL);
    }
    int status = 0;
    waitpid(watchdog_, &status, 0);
    thawedAtCap = thawedAtCap || (WIFEXITED(status) && WEXITSTATUS(status) == kExitThawedAtCap);
}

}  // namespace kysnap
