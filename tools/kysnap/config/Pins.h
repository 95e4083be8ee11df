// SPDX-License-Identifier: Apache-2.0
// Pins: which pins file kysnap and the plug-in it loads use, and its reading and writing.
//
// The pins file is pins-file in [host] of the configuration (relative to the configuration's
// directory), else $KYSNAP_TLS_PINS_FILE, else kysnap.pins beside the configuration. Its form
// is libkyplatform's (TlsPins.h). A file that does not exist holds no pins; one that exists is
// read strictly and only when nobody but the user or root can change it (loadPins), and the
// plug-in is given it through libkyplatform's settings (PluginSettings.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "HostConfig.h"
#include "TlsPins.h"

namespace kysnap {

// The pins file of `config` (read from config.path), as above.
std::string pinsFilePath(const HostConfig& config);

// Sets config.pinsFile and config.pins (none when the file does not exist). False with `error`
// naming the line of a malformed file.
bool usePinsFile(HostConfig& config, std::string& error);

// Replaces the pins file at `path` with `pins`, mode 0644 (pins are no secret), atomically:
// a reader sees the old file or the new one. Changes are made under an exclusive lock on
// "<path>.lock", re-reading the file first, so that concurrent runs lose no entry: `change`
// gets the pins on disk and edits them; when it returns false nothing is written. The path
// must be guarded and the lock a regular file of the user or root (PathGuard.h, LockFile.h).
// When another run holds the lock, `waiting` is called once and the lock is awaited for at
// most 10 seconds. False with `error` set when nothing was written for any of these reasons,
// or because the file cannot be read or written.
bool changePinsFile(const std::string& path,
                    const std::function<bool(std::vector<kyplatform::PinnedArray>&)>& change,
                    const std::function<void()>& waiting, std::string& error);

}  // namespace kysnap
