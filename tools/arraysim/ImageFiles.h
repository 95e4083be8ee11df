// SPDX-License-Identifier: Apache-2.0
// ImageFiles: the file operations behind the simulator's data directory. Every name is one
// path component relative to a directory descriptor the caller holds open; no call follows a
// symbolic link, neither the named one nor any inside a copied tree (a link is copied as a
// link, never read through). Files are made with mode 0600, directories with 0700.
//
// Temporaries are made beside their target under its name with a "%" suffix.
//
// Each function returns true on success; on failure it returns false with `error` set to one
// line naming the file and the system's reason, and leaves what it made half-way removed
// where it can.
#pragma once

#include <cstdint>
#include <string>

namespace arraysim {

// A sparse file of `size` bytes (no blocks allocated), replacing whatever had the name.
bool createSparseImage(int dirFd, const std::string& name, uint64_t size, std::string& error);

// A new file `to` in `toDir` holding the bytes of `from` in `fromDir`, made whole under a
// temporary name and then renamed into place: a reflink where the file system shares blocks,
// else a copy of the data regions only (holes stay holes).
bool copyImage(int fromDir, const std::string& from, int toDir, const std::string& to,
               std::string& error);

// Makes the existing file `to` hold the bytes of `from`, in place: the same inode keeps its
// name, so whoever holds it open (a kernel target serving it as a disk) reads the new bytes
// through its descriptor. A reflink where possible, else the data regions are written and
// the rest punched out (or zeroed).
bool overwriteImage(int fromDir, const std::string& from, int toDir, const std::string& to,
                    std::string& error);

// A new directory `to` in `toDir` holding a copy of the tree `from` in `fromDir`: regular files
// (sparse, as copyImage), directories and symbolic links (as links). Other kinds of files are
// left out.
bool copyTree(int fromDir, const std::string& from, int toDir, const std::string& to,
              std::string& error);

// Makes the tree `to` hold a copy of `from`: the copy is made beside it under a temporary name
// and swapped in, so the tree is never seen half restored.
bool replaceTree(int fromDir, const std::string& from, int toDir, const std::string& to,
                 std::string& error);

// Removes a file, or a directory with all it holds; a missing name is no failure.
bool removeEntry(int dirFd, const std::string& name, std::string& error);

// Opens (making it first when missing) the directory `name` in `dirFd`, or the absolute path
// when `dirFd` is -1; -1 with `error` set on failure.
int openDirectory(int dirFd, const std::string& name, std::string& error);

}  // namespace arraysim
