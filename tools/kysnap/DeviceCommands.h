// SPDX-License-Identifier: Apache-2.0
// The subcommands about host devices rather than snapshots: support (the plug-in's device
// check), inquiry (what a device answers, decoded as the plug-in decodes it) and identify
// (which devices show the mounted copies of catalog snapshots).
#pragma once

#include "Options.h"

namespace kysnap {

int runSupport(const Options& options);
int runInquiry(const Options& options);
int runIdentify(const Options& options);

}  // namespace kysnap
