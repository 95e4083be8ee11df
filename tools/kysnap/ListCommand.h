// SPDX-License-Identifier: Apache-2.0
// `kysnap list`: the catalog, as the host keeps it.
#pragma once

#include "Options.h"

namespace kysnap {

int runList(const Options& options);

}  // namespace kysnap
