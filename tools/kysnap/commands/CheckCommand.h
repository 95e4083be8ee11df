// SPDX-License-Identifier: Apache-2.0
// `kysnap check`: a self-test for a new installation. Each check is one line, "ok", "warn" or
// "FAIL", and each failure says how to fix it. Exit status 1 when any check failed.
#pragma once

#include "Options.h"

namespace kysnap {

int runCheck(const Options& options);

}  // namespace kysnap
