// SPDX-License-Identifier: Apache-2.0
#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kysnap {

namespace {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

}  // namespace

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool makeDirectories(const std::string& directory, std::string& error) {
    struct stat info {};
    if (directory.empty() || stat(directory.c_str(), &info) == 0) {
        return true;
    }
    const std::string parent = directoryOf(directory);
    if (parent != directory && !makeDirectories(parent, error)) {
        return false;
    }
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        error = systemError("cannot create " + directory);
        return false;
    }
    return true;
}

bool replaceFileAtomically(const std::string& path, const std::string& text, mode_t mode,
                           const std::string& what, std::string& error) {
    std::string name = path + ".tmp.XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = systemError("cannot create a temporary file beside " + what);
        return false;
    }
    const std::string temporary = name;
    if (fchmod(fd, mode) != 0 || !writeAll(fd, text) || fsync(fd) != 0) {
        error = systemError("cannot write " + temporary);
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    if (close(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
        error = systemError("cannot replace " + what);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself must reach the disk for the new file to survive a crash.
    const int dirFd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

}  // namespace kysnap
