// SPDX-License-Identifier: Apache-2.0
// `kysnap demo`: a whole snapshot lifecycle against an array simulator run inside this
// process, printing each step and a summary of what the simulator counted.
#pragma once

#include "Options.h"

namespace kysnap {

int runDemo(const Options& options);

}  // namespace kysnap
