#include "CatalogStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kysnap {

namespace {

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

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

std::unique_ptr<CatalogStore> CatalogStore::open(const std::string& path, Access access,
                                                 const std::function<void()>& waiting,
                                                 std::string& error) {
    if (!makeDirectories(directoryOf(path), error)) {
        return nullptr;
    }
    const std::string lockPath = path + ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = systemError("cannot open the catalog lock " + lockPath);
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
    while (const dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
            unlink((directory + "/" + entry->d_name).c_str());
        }
    }
    closedir(dir);
}

bool CatalogStore::load(Catalog& catalog, std::string& error) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            catalog = Catalog();
            return true;
        }
        error = systemError("cannot read the catalog " + path_);
        return false;
    }
    std::string text;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    const int readErrno = errno;
    close(fd);
    if (got < 0) {
        errno = readErrno;
        error = systemError("cannot read the catalog " + path_);
        return false;
    }
    std::string why;
    if (!Catalog::fromJson(text, catalog, why)) {
        error =
            "the catalog " + path_ + " is damaged (" + why + "); move it aside to start a new one";
        return false;
    }
    return true;
}

bool CatalogStore::save(const Catalog& catalog, std::string& error) {
    if (access_ != Access::Write) {
        error = "the catalog " + path_ + " was opened for reading only";
        return false;
    }
    const std::string temporary = path_ + ".tmp." + std::to_string(getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = systemError("cannot write " + temporary);
        return false;
    }
    if (!writeAll(fd, catalog.toJson()) || fsync(fd) != 0) {
        error = systemError("cannot write " + temporary);
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    if (close(fd) != 0 || rename(temporary.c_str(), path_.c_str()) != 0) {
        error = systemError("cannot replace the catalog " + path_);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself must reach the disk for the new catalog to survive a crash.
    const int dirFd = ::open(directoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
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
