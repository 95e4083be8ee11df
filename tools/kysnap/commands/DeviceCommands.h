// SPDX-License-Identifier: Apache-2.0
// The subcommands about host devices rather than snapshots: support (the plug-in's device
// check), inquiry (what a device answers, decoded as the plug-in decodes it) and identify
// (which devices show the mounted copies of catalog snapshots).
#pragma once

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Each runs its command with a session of `needs` (inquiry opens one only for the sim backend)
// and returns the exit status.
int runSupport(const Options& options, const Session::Needs& needs);
int runInquiry(const Options& options, const Session::Needs& needs);
int runIdentify(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
