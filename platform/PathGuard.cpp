// SPDX-License-Identifier: Apache-2.0
#include "PathGuard.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>

namespace kyplatform {
namespace {

// The kernel gives up after as many links in one path.
constexpr int kMaxLinks = 40;

bool ownerOrRoot(uid_t owner) {
    return owner == geteuid() || owner == 0;
}

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The names of `path` in order, without empty ones.
std::deque<std::string> namesOf(const std::string& path) {
    std::deque<std::string> names;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        if (end > start) {
            names.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

// The rule for one directory on the way to the file.
bool guardedDirectory(const std::string& directory, const struct stat& info,
                      const std::string& what, std::string& error) {
    const std::string where = what + " lies in " + directory + ", which ";
    if (!S_ISDIR(info.st_mode)) {
        error = where + "is not a directory";
        return false;
    }
    if (!ownerOrRoot(info.st_uid)) {
        error = where + "belongs to another user (uid " + std::to_string(info.st_uid) +
                "), who could put another file in its place; keep it in directories of your " +
                "own or of root";
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0) {
        error = where + "can be written by group or others (mode " + modeText(info.st_mode) +
                "); run: chmod go-w " + directory;
        return false;
    }
    return true;
}

}  // namespace

std::string fileKind(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return "a regular file";
        case S_IFDIR:
            return "a directory";
        case S_IFIFO:
            return "a FIFO";
        case S_IFCHR:
            return "a character device";
        case S_IFBLK:
            return "a block device";
        case S_IFSOCK:
            return "a socket";
        case S_IFLNK:
            return "a symbolic link";
        default:
            return "of an unknown kind";
    }
}

std::string notRegularFile(const std::string& what, mode_t mode) {
    return what + " is not a regular file (it is " + fileKind(mode) + ")";
}

bool isRegularOrMissing(const std::string& path, const std::string& what, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = notRegularFile(what, info.st_mode);
        return false;
    }
    return true;
}

bool isGuardedPath(const std::string& path, const std::string& what, std::string& error) {
    const size_t slash = path.rfind('/');
    std::string start = slash == std::string::npos ? "" : path.substr(0, slash);
    if (path.empty() || path.front() != '/') {
        char here[PATH_MAX];
        if (::getcwd(here, sizeof here) == nullptr) {
            error = what + ": the working directory cannot be found: " + std::strerror(errno);
            return false;
        }
        start = std::string(here) + "/" + start;
    }
    // Walked as the kernel resolves it, one name at a time from /; `current` is always a
    // directory reached that way, and so are all the directories above it.
    std::string current = "/";
    struct stat info {};
    if (::stat("/", &info) != 0) {
        error = what + ": cannot examine /: " + std::strerror(errno);
        return false;
    }
    if (!guardedDirectory("/", info, what, error)) {
        return false;
    }
    std::deque<std::string> names = namesOf(start);
    int links = 0;
    while (!names.empty()) {
        const std::string name = names.front();
        names.pop_front();
        if (name == ".") {
            continue;
        }
        if (name == "..") {
            const size_t up = current.rfind('/');
            current = up == 0 ? "/" : current.substr(0, up);
            continue;
        }
        const std::string next = (current == "/" ? "" : current) + "/" + name;
        if (::lstat(next.c_str(), &info) != 0) {
            error = what + ": cannot examine " + next + ": " + std::strerror(errno);
            return false;
        }
        if (S_ISLNK(info.st_mode)) {
            char target[PATH_MAX];
            const ssize_t length = ::readlink(next.c_str(), target, sizeof target);
            if (length <= 0 || static_cast<size_t>(length) >= sizeof target ||
                ++links > kMaxLinks) {
                error = what + ": the link " + next + " cannot be followed";
                return false;
            }
            const std::string leadsTo(target, static_cast<size_t>(length));
            if (leadsTo.front() == '/') {
                current = "/";
            }
            std::deque<std::string> more = namesOf(leadsTo);
            names.insert(names.begin(), more.begin(), more.end());
            continue;
        }
        if (!guardedDirectory(next, info, what, error)) {
            return false;
        }
        current = next;
    }
    return true;
}

bool isOwnFile(const struct stat& info, const std::string& what, std::string& error) {
    if (!ownerOrRoot(info.st_uid)) {
        error = what + " belongs to another user (uid " + std::to_string(info.st_uid) +
                "), who could change it; use a file of your own or of root";
        return false;
    }
    return true;
}

}  // namespace kyplatform
