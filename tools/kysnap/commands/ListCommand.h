// SPDX-License-Identifier: Apache-2.0
// `kysnap list`: the catalog, as the host keeps it.
#pragma once

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Reads the catalog through a session of `needs`; returns the exit status.
int runList(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
