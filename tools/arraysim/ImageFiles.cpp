// SPDX-License-Identifier: Apache-2.0
#include "ImageFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace arraysim {

namespace {

constexpr size_t kChunk = 1u << 20;
// '%' followed by a letter is in no name the data store gives (LUN ids, sequence numbers and
// %XX-encoded paths), so a temporary never meets another dataset's file.
const char kTemporarySuffix[] = "%partial";
const char kRestoredSuffix[] = "%restored";

bool fail(std::string& error, const std::string& what, int code) {
    error = what + ": " + std::strerror(code);
    return false;
}

// Closes a descriptor at the end of a scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

bool allZero(const char* data, size_t length) {
    return std::all_of(data, data + length, [](char c) { return c == 0; });
}

bool writeAll(int fd, const char* data, size_t length, off_t offset) {
    while (length > 0) {
        const ssize_t written = pwrite(fd, data, length, offset);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
        offset += written;
    }
    return true;
}

// Copies [begin, end) of `in` to the same place of `out`; all-zero chunks are skipped when
// `skipZeros` (the target is a hole there), else written.
bool copyRange(int in, int out, off_t begin, off_t end, bool skipZeros, std::vector<char>& buffer) {
    for (off_t at = begin; at < end;) {
        const size_t want = static_cast<size_t>(std::min<off_t>(end - at, kChunk));
        const ssize_t got = pread(in, buffer.data(), want, at);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0;  // the source ended early: nothing more to copy
        }
        const size_t length = static_cast<size_t>(got);
        if (!(skipZeros && allZero(buffer.data(), length)) &&
            !writeAll(out, buffer.data(), length, at)) {
            return false;
        }
        at += got;
    }
    return true;
}

// Zeroes [begin, end) of `out`: punched out when the file system can, else written as zeros.
bool clearRange(int out, off_t begin, off_t end, std::vector<char>& buffer) {
    if (begin >= end) {
        return true;
    }
    if (fallocate(out, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, begin, end - begin) == 0) {
        return true;
    }
    std::fill(buffer.begin(), buffer.end(), 0);
    for (off_t at = begin; at < end;) {
        const size_t length = static_cast<size_t>(std::min<off_t>(end - at, kChunk));
        if (!writeAll(out, buffer.data(), length, at)) {
            return false;
        }
        at += static_cast<off_t>(length);
    }
    return true;
}

// Gives `out` (already `size` bytes long) the bytes of `in`. When `outMayHoldData`, regions
// that are holes in `in` are cleared in `out`; a fresh file needs no clearing.
bool copyBytes(int in, int out, off_t size, bool outMayHoldData) {
    if (ioctl(out, FICLONE, in) == 0) {
        return true;
    }
    std::vector<char> buffer(kChunk);
    off_t at = 0;
    while (at < size) {
        off_t data = lseek(in, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            data = size;  // only a hole remains
        } else if (data < 0) {
            // No hole map here: read it all. Zero chunks are left out of a fresh file (they
            // stay holes) but written over one that may hold data.
            return copyRange(in, out, at, size, !outMayHoldData, buffer);
        }
        if (outMayHoldData && !clearRange(out, at, data, buffer)) {
            return false;
        }
        if (data >= size) {
            break;
        }
        off_t hole = lseek(in, data, SEEK_HOLE);
        if (hole < 0) {
            hole = size;
        }
        if (!copyRange(in, out, data, std::min(hole, size), false, buffer)) {
            return false;
        }
        at = hole;
    }
    return true;
}

int openSource(int dirFd, const std::string& name, struct stat& info, std::string& error) {
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        fail(error, "cannot open " + name, errno);
        return -1;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        error = name + " is not a regular file";
        return -1;
    }
    return fd;
}

bool removeTree(int dirFd, const std::string& name, std::string& error);

// The names in the directory `dirFd` but "." and "..", read through a descriptor of its own
// so that `dirFd` stays open and unmoved. False with `error` set when it cannot be listed.
bool listNames(int dirFd, std::vector<std::string>& names, std::string& error) {
    const int listFd = dup(dirFd);
    DIR* dir = listFd < 0 ? nullptr : fdopendir(listFd);
    if (dir == nullptr) {
        if (listFd >= 0) {
            close(listFd);
        }
        return fail(error, "cannot list a directory", errno);
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    return true;
}

bool removeContents(int dirFd, std::string& error) {
    std::vector<std::string> names;
    if (!listNames(dirFd, names, error)) {
        return false;
    }
    for (const std::string& name : names) {
        if (!removeTree(dirFd, name, error)) {
            return false;
        }
    }
    return true;
}

bool removeTree(int dirFd, const std::string& name, std::string& error) {
    struct stat info {};
    if (fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT || fail(error, "cannot remove " + name, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        Fd inner(openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!inner.ok()) {
            return fail(error, "cannot open " + name, errno);
        }
        if (!removeContents(inner.get(), error)) {
            return false;
        }
        if (unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            return fail(error, "cannot remove " + name, errno);
        }
        return true;
    }
    if (unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT) {
        return fail(error, "cannot remove " + name, errno);
    }
    return true;
}

bool copyTreeInto(int fromDir, int toDir, std::string& error);

bool copyEntry(int fromDir, int toDir, const std::string& name, std::string& error) {
    struct stat info {};
    if (fstatat(fromDir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return fail(error, "cannot read " + name, errno);
    }
    if (S_ISREG(info.st_mode)) {
        Fd in(openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        Fd out(openat(toDir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      info.st_mode & 0777));
        if (!in.ok() || !out.ok()) {
            return fail(error, "cannot copy " + name, errno);
        }
        if (ftruncate(out.get(), info.st_size) != 0 ||
            !copyBytes(in.get(), out.get(), info.st_size, false)) {
            return fail(error, "cannot copy " + name, errno);
        }
        return true;
    }
    if (S_ISDIR(info.st_mode)) {
        if (mkdirat(toDir, name.c_str(), 0700) != 0) {
            return fail(error, "cannot make " + name, errno);
        }
        Fd in(openat(fromDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        Fd out(openat(toDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!in.ok() || !out.ok()) {
            return fail(error, "cannot copy " + name, errno);
        }
        if (!copyTreeInto(in.get(), out.get(), error)) {
            return false;
        }
        fchmod(out.get(), info.st_mode & 0777);
        return true;
    }
    if (S_ISLNK(info.st_mode)) {
        std::vector<char> target(static_cast<size_t>(info.st_size) + 1);
        const ssize_t length = readlinkat(fromDir, name.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<size_t>(length) >= target.size()) {
            return fail(error, "cannot read the link " + name, length < 0 ? errno : EOVERFLOW);
        }
        target[static_cast<size_t>(length)] = '\0';
        if (symlinkat(target.data(), toDir, name.c_str()) != 0) {
            return fail(error, "cannot copy the link " + name, errno);
        }
    }
    return true;  // sockets, FIFOs and device nodes hold no data of the share
}

bool copyTreeInto(int fromDir, int toDir, std::string& error) {
    std::vector<std::string> names;
    if (!listNames(fromDir, names, error)) {
        return false;
    }
    for (const std::string& name : names) {
        if (!copyEntry(fromDir, toDir, name, error)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool createSparseImage(int dirFd, const std::string& name, uint64_t size, std::string& error) {
    std::string unused;
    removeTree(dirFd, name, unused);
    Fd out(openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.ok()) {
        return fail(error, "cannot create " + name, errno);
    }
    if (ftruncate(out.get(), static_cast<off_t>(size)) != 0) {
        const int code = errno;
        unlinkat(dirFd, name.c_str(), 0);
        return fail(error, "cannot size " + name, code);
    }
    return true;
}

bool copyImage(int fromDir, const std::string& from, int toDir, const std::string& to,
               std::string& error) {
    struct stat info {};
    Fd in(openSource(fromDir, from, info, error));
    if (!in.ok()) {
        return false;
    }
    const std::string temporary = to + kTemporarySuffix;
    std::string unused;
    removeTree(toDir, temporary, unused);
    Fd out(openat(toDir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0600));
    if (!out.ok()) {
        return fail(error, "cannot create " + temporary, errno);
    }
    if (ftruncate(out.get(), info.st_size) != 0 ||
        !copyBytes(in.get(), out.get(), info.st_size, false)) {
        const int code = errno;
        unlinkat(toDir, temporary.c_str(), 0);
        return fail(error, "cannot copy " + from + " to " + to, code);
    }
    if (renameat(toDir, temporary.c_str(), toDir, to.c_str()) != 0) {
        const int code = errno;
        unlinkat(toDir, temporary.c_str(), 0);
        return fail(error, "cannot rename " + temporary + " to " + to, code);
    }
    return true;
}

bool overwriteImage(int fromDir, const std::string& from, int toDir, const std::string& to,
                    std::string& error) {
    struct stat info {};
    Fd in(openSource(fromDir, from, info, error));
    if (!in.ok()) {
        return false;
    }
    Fd out(openat(toDir, to.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!out.ok()) {
        return fail(error, "cannot open " + to, errno);
    }
    struct stat current {};
    if (fstat(out.get(), &current) != 0 || !S_ISREG(current.st_mode)) {
        error = to + " is not a regular file";
        return false;
    }
    // Sized first, so that a shrinking rollback leaves nothing of the old tail behind.
    if (ftruncate(out.get(), info.st_size) != 0 ||
        !copyBytes(in.get(), out.get(), info.st_size, true) || fdatasync(out.get()) != 0) {
        return fail(error, "cannot copy " + from + " over " + to, errno);
    }
    return true;
}

bool copyTree(int fromDir, const std::string& from, int toDir, const std::string& to,
              std::string& error) {
    Fd in(openat(fromDir, from.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.ok()) {
        return fail(error, "cannot open " + from, errno);
    }
    const std::string temporary = to + kTemporarySuffix;
    std::string unused;
    removeTree(toDir, temporary, unused);
    if (mkdirat(toDir, temporary.c_str(), 0700) != 0) {
        return fail(error, "cannot make " + temporary, errno);
    }
    Fd out(openat(toDir, temporary.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!out.ok() || !copyTreeInto(in.get(), out.get(), error)) {
        if (!out.ok()) {
            fail(error, "cannot open " + temporary, errno);
        }
        removeTree(toDir, temporary, unused);
        return false;
    }
    if (renameat(toDir, temporary.c_str(), toDir, to.c_str()) != 0) {
        const int code = errno;
        removeTree(toDir, temporary, unused);
        return fail(error, "cannot rename " + temporary + " to " + to, code);
    }
    return true;
}

bool replaceTree(int fromDir, const std::string& from, int toDir, const std::string& to,
                 std::string& error) {
    const std::string fresh = to + kRestoredSuffix;
    std::string unused;
    removeTree(toDir, fresh, unused);
    if (!copyTree(fromDir, from, toDir, fresh, error)) {
        return false;
    }
    // Swapped in one step where the file system can; else the old tree goes first.
    if (renameat2(toDir, fresh.c_str(), toDir, to.c_str(), RENAME_EXCHANGE) != 0) {
        if (!removeTree(toDir, to, error)) {
            return false;
        }
        if (renameat(toDir, fresh.c_str(), toDir, to.c_str()) != 0) {
            return fail(error, "cannot rename " + fresh + " to " + to, errno);
        }
        return true;
    }
    return removeTree(toDir, fresh, error);
}

bool removeEntry(int dirFd, const std::string& name, std::string& error) {
    return removeTree(dirFd, name, error);
}

int openDirectory(int dirFd, const std::string& name, std::string& error) {
    const int base = dirFd < 0 ? AT_FDCWD : dirFd;
    // The data directory itself may be reached through links the user chose; what lies in it
    // is ours and is never followed.
    const int noFollow = dirFd < 0 ? 0 : O_NOFOLLOW;
    if (mkdirat(base, name.c_str(), 0700) != 0 && errno != EEXIST) {
        fail(error, "cannot make " + name, errno);
        return -1;
    }
    const int fd = openat(base, name.c_str(), O_RDONLY | O_DIRECTORY | noFollow | O_CLOEXEC);
    if (fd < 0) {
        fail(error, "cannot open " + name, errno);
    }
    return fd;
}

}  // namespace arraysim
