// SPDX-License-Identifier: Apache-2.0
// BoundedFile: reading a small file kysnap owns or is given (configuration, password file,
// catalog) without being tricked by what is at the path. A FIFO, device, socket or directory
// is refused before anything can block on it, and a file longer than the caller's limit is
// refused instead of being read without end.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace kysnap {

enum class Links {
    Follow,  // a symbolic link to a regular file is read (the target is what is checked)
    Refuse,  // a symbolic link at the path is refused
};

struct BoundedRead {
    std::string text;
    struct stat info {};   // of the file read
    bool missing = false;  // nothing at the path (then the read fails with `error` set too)
};

// Reads the regular file at `path`, at most `limit` bytes. False with `error` set to `what`
// followed by the reason, e.g. "the catalog /x is not a regular file (a FIFO)".
bool readBoundedFile(const std::string& path, const std::string& what, Links links, size_t limit,
                     BoundedRead& read, std::string& error);

// Why the file `what` of type `mode` (not a regular file) is refused: "<what> is a symbolic
// link, ..." or "<what> is not a regular file (it is a FIFO)".
std::string notRegularFile(const std::string& what, mode_t mode);

}  // namespace kysnap
