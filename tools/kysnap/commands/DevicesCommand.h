// SPDX-License-Identifier: Apache-2.0
// `kysnap devices`: the IntelliFlash devices this host sees, one line each (lsblk style): the
// device, its LUN id and target id from page 0x83, the array the catalog pairs with that
// target, and the catalog snapshot mounted on it. Needs no configuration.
#pragma once

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Looks through a session of `needs`; returns the exit status.
int runDevices(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
