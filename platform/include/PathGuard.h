// SPDX-License-Identifier: Apache-2.0
// PathGuard: what is checked at a path before a file there is opened, when its content decides
// what is trusted (the pins file, the catalog) or when opening it could block (a CA file, a
// plug-in, which other libraries open by name).
//
// A guarded path is one whose file nobody but the user and root can swap: every directory the
// path passes through, from / down to the one holding the file, belongs to the user or to root
// and is writable by neither group nor others, unless it has the sticky bit (as /tmp has).
// In a sticky directory nobody may remove or rename what is another's, and whatever they create
// under a name we use is theirs, which isOwnFile refuses. A symbolic link on the way is followed
// as the kernel follows it, and the directories it leads through are held to the same rule.
#pragma once

#include <sys/stat.h>

#include <string>

#include "KyPlatformExport.h"

namespace kyplatform {

// The kind of file `mode` describes, for messages: "a regular file", "a FIFO", "a directory",
// "a character device", "a block device", "a socket", "a symbolic link".
KYPLATFORM_API std::string fileKind(mode_t mode);

// "<what> is not a regular file (it is a FIFO)", for a file of type `mode`.
KYPLATFORM_API std::string notRegularFile(const std::string& what, mode_t mode);

// Whether the file at `path` (links followed) can be opened without blocking the caller: a
// regular file, or nothing (whose open then fails as usual). Found with stat(), which opens
// nothing, so that a FIFO or device is refused before another library's blocking open of it.
// False with `error` set to "<what> is not a regular file (it is a FIFO)".
KYPLATFORM_API bool isRegularOrMissing(const std::string& path, const std::string& what,
                                       std::string& error);

// Whether the path of the file `what` (absolute, or relative to the working directory) is
// guarded as above. False with `error` naming the first directory that is not, and the fix:
// "<what> lies in /srv/x, which can be written by group or others (mode 0775); run: chmod
// go-w /srv/x", "... which belongs to another user (uid 1001); ...".
KYPLATFORM_API bool isGuardedPath(const std::string& path, const std::string& what,
                                  std::string& error);

// Whether the file `what`, as `info` describes it, belongs to the user or to root. False with
// `error` set ("<what> belongs to another user (uid 1001), ...").
KYPLATFORM_API bool isOwnFile(const struct stat& info, const std::string& what, std::string& error);

}  // namespace kyplatform
