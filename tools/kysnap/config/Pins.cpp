// SPDX-License-Identifier: Apache-2.0
#include "Pins.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AtomicFile.h"
#include "LockFile.h"
#include "PathGuard.h"
#include "PlatformSettings.h"

namespace kysnap {

namespace {

// A change of the pins takes a moment; a lock held longer than this is held by a run that is
// stuck, and waiting on would only hang this one too.
constexpr int kPinsLockSeconds = 10;

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Reads the pins at `path`; a file that does not exist holds none.
bool readPins(const std::string& path, std::vector<kyplatform::PinnedArray>& pins,
              std::string& error) {
    pins.clear();
    return !exists(path) || kyplatform::loadPins(path, pins, error);
}

}  // namespace

std::string pinsFilePath(const HostConfig& config) {
    if (!config.pinsFileKey.empty()) {
        return config.pinsFileKey.front() == '/'
                   ? config.pinsFileKey
                   : directoryOf(config.path) + "/" + config.pinsFileKey;
    }
    if (const std::string chosen = kyplatform::environmentSettings().pinsFile; !chosen.empty()) {
        return chosen;
    }
    return directoryOf(config.path) + "/kysnap.pins";
}

bool usePinsFile(HostConfig& config, std::string& error) {
    config.pinsFile = pinsFilePath(config);
    return readPins(config.pinsFile, config.pins, error);
}

bool changePinsFile(const std::string& path,
                    const std::function<bool(std::vector<kyplatform::PinnedArray>&)>& change,
                    const std::function<void()>& waiting, std::string& error) {
    // The lock beside the file is guarded as the file is: another user's could be held for good.
    if (!kyplatform::isGuardedPath(path, "the pins file " + path, error)) {
        return false;
    }
    const std::string lockPath = path + ".lock";
    const int lock = openLockFile(lockPath, "the pins lock " + lockPath, error);
    if (lock < 0) {
        return false;
    }
    std::vector<kyplatform::PinnedArray> pins;
    bool ok = takeLock(lock, LOCK_EX, lockPath, waiting, kPinsLockSeconds, error) &&
              readPins(path, pins, error);
    if (ok && change(pins)) {
        ok = replaceFileAtomically(path, kyplatform::pinsText(pins), 0644, "the pins file " + path,
                                   error);
    }
    ::close(lock);  // releases the lock
    return ok;
}

}  // namespace kysnap
