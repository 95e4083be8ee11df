// SPDX-License-Identifier: Apache-2.0
#include "Pins.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "AtomicFile.h"

namespace kysnap {

namespace {

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
    if (const char* chosen = std::getenv("KYSNAP_TLS_PINS_FILE");
        chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    return directoryOf(config.path) + "/kysnap.pins";
}

bool usePinsFile(HostConfig& config, std::string& error) {
    config.pinsFile = pinsFilePath(config);
    if (!readPins(config.pinsFile, config.pins, error)) {
        return false;
    }
    // The plug-in reads the same file, or none when there is none.
    if (exists(config.pinsFile)) {
        setenv("KYSNAP_TLS_PINS_FILE", config.pinsFile.c_str(), 1);
    } else {
        unsetenv("KYSNAP_TLS_PINS_FILE");
    }
    return true;
}

bool changePinsFile(const std::string& path,
                    const std::function<bool(std::vector<kyplatform::PinnedArray>&)>& change,
                    std::string& error) {
    const std::string lockPath = path + ".lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) {
        error = "cannot open the lock " + lockPath + ": " + std::strerror(errno);
        return false;
    }
    int locked = -1;
    while ((locked = ::flock(lock, LOCK_EX)) != 0 && errno == EINTR) {
    }
    std::vector<kyplatform::PinnedArray> pins;
    bool ok = locked == 0;
    if (!ok) {
        error = "cannot lock " + lockPath + ": " + std::strerror(errno);
    }
    ok = ok && readPins(path, pins, error);
    if (ok && change(pins)) {
        ok = replaceFileAtomically(path, kyplatform::pinsText(pins), 0644, "the pins file " + path,
                                   error);
    }
    ::close(lock);  // releases the lock
    return ok;
}

}  // namespace kysnap
