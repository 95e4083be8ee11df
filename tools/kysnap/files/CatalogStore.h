// SPDX-License-Identifier: Apache-2.0
// CatalogStore: the catalog's file. Holding a CatalogStore holds its lock (flock on
// "<file>.lock"): exclusive for a run that may write, shared for one that only reads, so
// concurrent runs take turns and none loses another's records. A save writes a temporary file
// beside the catalog, flushes it to disk and renames it over the old one (then flushes the
// directory), so an interrupted run leaves either the old catalog or the new one, never a
// mixture. Nobody else can redirect these writes: its path must be guarded (PathGuard.h: every
// directory from / down to the catalog's belongs to the user or root and is writable by no one
// else unless sticky), the catalog and its lock are never opened through a symbolic link and
// must be regular files of the user (or root), and the temporary file is created exclusively
// under a fresh random name.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Catalog.h"

namespace kysnap {

class CatalogStore {
public:
    enum class Access {
        Read,   // shared lock, awaited: what is read stays so for the run
        Write,  // exclusive lock, awaited
        // The catalog as last saved, without waiting for a run that writes it: a save replaces
        // the file in one rename, so what is read is always a whole catalog.
        ReadSaved,
    };

    // Takes the lock of the catalog at `path`, creating its directory (mode 0700) when
    // missing. When another run holds the lock, `waiting` is called once and the lock is
    // awaited. Null with `error` set when a directory on the way or the lock file is refused
    // (see above) or cannot be opened. A writer removes temporary files that an interrupted run
    // left behind.
    static std::unique_ptr<CatalogStore> open(const std::string& path, Access access,
                                              const std::function<void()>& waiting,
                                              std::string& error);
    ~CatalogStore();  // releases the lock
    CatalogStore(const CatalogStore&) = delete;
    CatalogStore& operator=(const CatalogStore&) = delete;

    // The catalog on disk; an empty catalog when there is no file yet. False with `error` set
    // when the file is a link, not a regular file, larger than the limit (64 MiB), cannot be
    // read, or does not match the catalog's form exactly (Catalog::fromJson); the file is then
    // left untouched.
    bool load(Catalog& catalog, std::string& error);
    // Replaces the file atomically. Only for Access::Write. False with `error` set (the old
    // catalog then stays in place).
    bool save(const Catalog& catalog, std::string& error);

    const std::string& path() const { return path_; }
    // ReadSaved only: another run held the lock when this one opened the catalog, so what was
    // read may be older than what that run is about to save.
    bool writerBusy() const { return writerBusy_; }

private:
    CatalogStore(std::string path, int lockFd, Access access)
        : path_(std::move(path)), lockFd_(lockFd), access_(access) {}
    void removeStaleTemporaries();

    std::string path_;
    int lockFd_;
    Access access_;
    bool writerBusy_ = false;
};

// The catalog used without --state: $KYSNAP_STATE, else $XDG_STATE_HOME/kysnap/catalog.json,
// else ~/.local/state/kysnap/catalog.json.
std::string defaultStatePath();

}  // namespace kysnap
