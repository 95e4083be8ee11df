// SPDX-License-Identifier: Apache-2.0
// `kysnap inquiry`: what a device answers to INQUIRY, decoded as the plug-in decodes it.
#pragma once

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Sends INQUIRY to the one device named and prints it decoded; a session of `needs` is opened
// only for the sim backend. The exit status.
int runInquiry(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
