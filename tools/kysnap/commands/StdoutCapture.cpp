// SPDX-License-Identifier: Apache-2.0
#include "StdoutCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kysnap {

namespace {

std::string systemReason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The whole of `fd` from its start.
bool readAll(int fd, std::string& text) {
    text.clear();
    if (lseek(fd, 0, SEEK_SET) < 0) {
        return false;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace

bool runCapturingStdout(const std::string& path, const std::function<int()>& run, int& status,
                        std::string& text, std::string& error) {
    unlink(path.c_str());
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (file < 0) {
        error = systemReason("cannot make " + path);
        return false;
    }
    std::fflush(stdout);
    const int saved = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved < 0 || dup2(file, STDOUT_FILENO) < 0) {
        error = systemReason("cannot send standard output to " + path);
        if (saved >= 0) {
            close(saved);
        }
        close(file);
        return false;
    }
    status = run();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    const bool read = readAll(file, text);
    if (!read) {
        error = systemReason("cannot read " + path);
    }
    close(file);
    unlink(path.c_str());
    return read;
}

}  // namespace kysnap
