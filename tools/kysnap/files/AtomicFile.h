// SPDX-License-Identifier: Apache-2.0
// AtomicFile: replacing a small file kysnap owns (the catalog, the pins file) so that an
// interrupted run leaves either the old file or the new one, never a mixture, and nothing
// planted beside it is opened, followed or truncated.
#pragma once

#include <sys/types.h>

#include <string>

namespace kysnap {

// Writes `text` to a temporary file "<path>.tmp.XXXXXX" made with exclusive creation under a
// fresh random name, gives it `mode`, flushes it to disk, renames it over `path` and flushes
// the directory. `what` names the file in errors ("the catalog /x"). False with `error` set;
// the old file then stays in place and the temporary file is removed.
bool replaceFileAtomically(const std::string& path, const std::string& text, mode_t mode,
                           const std::string& what, std::string& error);

// The directory of `path`: "." for a bare name, "/" for a file in the root.
std::string directoryOf(const std::string& path);

// Creates `directory` and its missing parents, each new one with mode 0700. False with `error`
// set when one cannot be made.
bool makeDirectories(const std::string& directory, std::string& error);

}  // namespace kysnap
