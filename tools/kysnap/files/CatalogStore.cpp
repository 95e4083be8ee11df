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
#include "LockFile.h"
#include "PathGuard.h"

namespace kysnap {

namespace {

// Far beyond any real catalog, small enough to read at once.
constexpr size_t kCatalogLimit = 64u << 20;

std::string baseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::unique_ptr<CatalogStore> CatalogStore::open(const std::string& path, Access access,
                                                 const std::function<void()>& waiting,
                                                 std::string& error) {
    // Whoever else may write a directory on the way to the catalog can plant links or files
    // under the names kysnap uses, or swap the directory itself.
    if (!makeDirectories(directoryOf(path), error) ||
        !kyplatform::isGuardedPath(path, "the catalog " + path, error)) {
        return nullptr;
    }
    // Refused before a lock file is made beside it; load() checks again on what it opens.
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        error = notRegularFile("the catalog " + path, existing.st_mode);
        return nullptr;
    }
    const std::string lockPath = path + ".lock";
    const int fd = openLockFile(lockPath, "the catalog lock " + lockPath, error);
    if (fd < 0) {
        return nullptr;
    }
    bool writerBusy = false;
    if (access == Access::ReadSaved) {
        writerBusy = flock(fd, LOCK_SH | LOCK_NB) != 0;
    } else if (!takeLock(fd, access == Access::Write ? LOCK_EX : LOCK_SH, lockPath, waiting, 0,
                         error)) {
        close(fd);
        return nullptr;
    }
    std::unique_ptr<CatalogStore> store(new CatalogStore(path, fd, access));
    store->writerBusy_ = writerBusy;
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
    if (!kyplatform::isOwnFile(file.info, "the catalog " + path_, error)) {
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
    std::string text;
    std::string why;
    if (!catalog.toJson(text, why)) {
        error = "the catalog cannot be written: " + why;
        return false;
    }
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
