// SPDX-License-Identifier: Apache-2.0
#include "CatalogStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AtomicFile.h"
#include "BoundedFile.h"

namespace kysnap {

namespace {

// Far beyond any real catalog, small enough to read at once.
constexpr size_t kCatalogLimit = 64u << 20;

std::string baseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Creates `directory` and its missing parents, each new one with mode 0700.
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

// Whoever else may write the catalog's directory can plant links or files under the names
// kysnap uses there; only the user, or root, may own it, and others may not write it unless it
// is sticky (then they cannot replace what is ours).
bool safeDirectory(const std::string& directory, std::string& error) {
    struct stat info {};
    if (stat(directory.c_str(), &info) != 0) {
        error = systemError("cannot examine the catalog's directory " + directory);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "the catalog's directory " + directory + " is not a directory";
        return false;
    }
    if (info.st_uid != geteuid() && info.st_uid != 0) {
        error = "the catalog's directory " + directory + " belongs to another user (uid " +
                std::to_string(info.st_uid) + "); kysnap keeps its catalog only in a directory " +
                "of its user or of root";
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        error = "the catalog's directory " + directory + " can be written by group or others " +
                "(mode " + mode + "); run: chmod go-w " + directory;
        return false;
    }
    return true;
}

// A file of the catalog (itself or its lock) must be ours, or root's.
bool ownedFile(const struct stat& info, const std::string& what, std::string& error) {
    if (info.st_uid != geteuid() && info.st_uid != 0) {
        error = what + " belongs to another user (uid " + std::to_string(info.st_uid) + ")";
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<CatalogStore> CatalogStore::open(const std::string& path, Access access,
                                                 const std::function<void()>& waiting,
                                                 std::string& error) {
    if (!makeDirectories(directoryOf(path), error) || !safeDirectory(directoryOf(path), error)) {
        return nullptr;
    }
    // Refused before a lock file is made beside it; load() checks again on what it opens.
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        error = notRegularFile("the catalog " + path, existing.st_mode);
        return nullptr;
    }
    const std::string lockPath = path + ".lock";
    // Never through a link, and never blocking on a FIFO planted under the lock's name.
    const int fd =
        ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        error = errno == ELOOP ? notRegularFile("the catalog lock " + lockPath, S_IFLNK)
                               : systemError("cannot open the catalog lock " + lockPath);
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = notRegularFile("the catalog lock " + lockPath, info.st_mode);
        close(fd);
        return nullptr;
    }
    if (!ownedFile(info, "the catalog lock " + lockPath, error)) {
        close(fd);
        return nullptr;
    }
    const int mode = access == Access::Write ? LOCK_EX : LOCK_SH;
    if (flock(fd, mode | LOCK_NB) != 0) {
        if (waiting) {
            waiting();
        }
        int locked = -1;
        while ((locked = flock(fd, mode)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            error = systemError("cannot lock " + lockPath);
            close(fd);
            return nullptr;
        }
    }
    std::unique_ptr<CatalogStore> store(new CatalogStore(path, fd, access));
    if (access == Access::Write) {
        store->removeStaleTemporaries();
    }
    return store;
}

CatalogStore::~CatalogStore() {
    close(lockFd_);  // closing releases the lock
}

void CatalogStore::removeStaleTemporaries() {
    // Only a writer holding the exclusive lock gets here, so no temporary file is in use.
    const std::string prefix = baseOf(path_) + ".tmp.";
    const std::string directory = directoryOf(path_);
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        return;
    }
    // Only our own regular files: in a shared sticky directory a run as root could otherwise
    // remove another user's file that merely carries the name.
    const uid_t self = geteuid();
    while (const dirent* entry = readdir(dir)) {
        struct stat info {};
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0 &&
            fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_uid == self) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
    }
    closedir(dir);
}

bool CatalogStore::load(Catalog& catalog, std::string& error) {
    BoundedRead file;
    if (!readBoundedFile(path_, "the catalog " + path_, Links::Refuse, kCatalogLimit, file,
                         error)) {
        if (file.missing) {
            catalog = Catalog();
            return true;
        }
        return false;
    }
    if (!ownedFile(file.info, "the catalog " + path_, error)) {
        return false;
    }
    std::string why;
    if (!Catalog::fromJson(file.text, catalog, why)) {
        error = "the catalog " + path_ + " is damaged: " + why +
                "; it is left as it is (repair it, or move it aside to start a new one)";
        return false;
    }
    return true;
}

bool CatalogStore::save(const Catalog& catalog, std::string& error) {
    if (access_ != Access::Write) {
        error = "the catalog " + path_ + " was opened for reading only";
        return false;
    }
    const std::string text = catalog.toJson();
    if (text.size() > kCatalogLimit) {
        error = "the catalog would be larger than " + std::to_string(kCatalogLimit) + " bytes";
        return false;
    }
    return replaceFileAtomically(path_, text, 0600, "the catalog " + path_, error);
}

std::string defaultStatePath() {
    if (const char* chosen = std::getenv("KYSNAP_STATE"); chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
        return std::string(xdg) + "/kysnap/catalog.json";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr && *home != '\0' ? home : ".") +
           "/.local/state/kysnap/catalog.json";
}

}  // namespace kysnap
