// SPDX-License-Identifier: Apache-2.0
// CertDirectory: the directory where arraysim keeps the CA and server key it generates.
// Whoever can write there can replace the CA that clients are told to trust, so the directory
// must be this user's own: created with mode 0700 when missing; refused when it is a symbolic
// link, not a directory, owned by another user, or writable by its group or by others.
#pragma once

#include <string>

namespace arraysim {

// The user's own state directory, so that the CA clients were told to trust survives a
// restart and no shared directory is involved: $XDG_STATE_HOME/arraysim/tls, else
// $HOME/.local/state/arraysim/tls, else $XDG_RUNTIME_DIR/arraysim/tls (each only when the
// variable holds an absolute path), else <temp>/arraysim-tls-<uid>.
std::string defaultCertDirectory();

// Creates `directory` (mode 0700, parents as needed) when it does not exist, then checks it.
// False with `error` saying why it cannot be used.
bool preparePrivateDirectory(const std::string& directory, std::string& error);

}  // namespace arraysim
