// SPDX-License-Identifier: Apache-2.0
// `kysnap support`: the plug-in's device check, is each device an IntelliFlash volume?
#pragma once

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Runs the plug-in's support check for each device with a session of `needs`; the exit status.
int runSupport(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
