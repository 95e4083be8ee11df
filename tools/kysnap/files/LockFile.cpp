// SPDX-License-Identifier: Apache-2.0
#include "LockFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "BoundedFile.h"
#include "PathGuard.h"

namespace kysnap {

int openLockFile(const std::string& path, const std::string& what, std::string& error) {
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        error = errno == ELOOP ? notRegularFile(what, S_IFLNK)
                               : "cannot open " + what + ": " + std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = notRegularFile(what, info.st_mode);
    } else if (kyplatform::isOwnFile(info, what, error)) {
        return fd;
    }
    close(fd);
    return -1;
}

bool takeLock(int fd, int operation, const std::string& path, const std::function<void()>& waiting,
              int seconds, std::string& error) {
    if (flock(fd, operation | LOCK_NB) == 0) {
        return true;
    }
    if (errno != EWOULDBLOCK) {
        error = "cannot lock " + path + ": " + std::strerror(errno);
        return false;
    }
    if (waiting) {
        waiting();
    }
    if (seconds == 0) {
        int locked = -1;
        while ((locked = flock(fd, operation)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            error = "cannot lock " + path + ": " + std::strerror(errno);
        }
        return locked == 0;
    }
    // flock has no time-out of its own: it is asked again until the time is up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (flock(fd, operation | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error = "cannot lock " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    error = "gave up waiting for " + path + " after " + std::to_string(seconds) +
            " seconds; another run still holds it";
    return false;
}

}  // namespace kysnap
