// SPDX-License-Identifier: Apache-2.0
// LockFile: the lock files kysnap keeps beside the files it changes (the catalog, the pins
// file), which runs take with flock so that they take turns.
#pragma once

#include <functional>
#include <string>

namespace kysnap {

// Opens the lock file at `path` (called `what` in messages), creating it with mode 0600 when
// missing. It is never opened through a symbolic link nor waited on when it is a FIFO; one that
// is not a regular file of the user or root is refused (another user could hold it for good).
// The descriptor, or -1 with `error` set.
int openLockFile(const std::string& path, const std::string& what, std::string& error);

// Takes the flock `operation` (LOCK_EX or LOCK_SH) on `fd`, the lock file at `path`. When another
// run holds it, `waiting` is called once and the lock is awaited: for good when `seconds` is 0,
// else at most that long. False with `error` set when it is not had.
bool takeLock(int fd, int operation, const std::string& path, const std::function<void()>& waiting,
              int seconds, std::string& error);

}  // namespace kysnap
