// SPDX-License-Identifier: Apache-2.0
#include "BoundedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "PathGuard.h"

namespace kysnap {

std::string notRegularFile(const std::string& what, mode_t mode) {
    if (S_ISLNK(mode)) {
        return what + " is a symbolic link, which kysnap does not follow for it";
    }
    return kyplatform::notRegularFile(what, mode);
}

bool readBoundedFile(const std::string& path, const std::string& what, Links links, size_t limit,
                     BoundedRead& read, std::string& error) {
    read = BoundedRead();
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused right after.
    const int flags =
        O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        const int openErrno = errno;
        read.missing = openErrno == ENOENT;
        if (openErrno == ELOOP && links == Links::Refuse) {
            error = notRegularFile(what, S_IFLNK);
        } else {
            error = what + ": " + std::strerror(openErrno);
        }
        return false;
    }
    if (fstat(fd, &read.info) != 0 || !S_ISREG(read.info.st_mode)) {
        error = notRegularFile(what, read.info.st_mode);
        close(fd);
        return false;
    }
    if (read.info.st_size < 0 || static_cast<unsigned long long>(read.info.st_size) > limit) {
        error = what + " is larger than " + std::to_string(limit) + " bytes";
        close(fd);
        return false;
    }
    // A regular file that grows while it is read is still cut at the limit. The text may be
    // a password: one allocation up front and a wiped buffer leave no stray copies of it.
    read.text.reserve(static_cast<size_t>(read.info.st_size) + 1);
    char buffer[4096];
    bool ok = true;
    ssize_t got = 0;
    while (ok && (got = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = what + ": " + std::strerror(errno);
            ok = false;
        } else if (read.text.size() + static_cast<size_t>(got) > limit) {
            error = what + " is larger than " + std::to_string(limit) + " bytes";
            ok = false;
        } else {
            read.text.append(buffer, static_cast<size_t>(got));
        }
    }
    explicit_bzero(buffer, sizeof buffer);
    close(fd);
    if (!ok) {
        explicit_bzero(read.text.data(), read.text.size());
        read.text.clear();
    }
    return ok;
}

}  // namespace kysnap
