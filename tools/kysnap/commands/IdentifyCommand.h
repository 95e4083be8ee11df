// SPDX-License-Identifier: Apache-2.0
// `kysnap identify`: which devices show the mounted copies of catalog snapshots.
#pragma once

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Has the plug-in identify the devices for the named (else every mounted) snapshot, with a
// session of `needs`; the exit status.
int runIdentify(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
