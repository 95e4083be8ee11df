// SPDX-License-Identifier: Apache-2.0
// `kysnap demo`: a whole snapshot lifecycle against the arraysim program, started as a child
// process on a free loopback port and stopped at the end (also on failure or Ctrl-C), printing
// each step and a summary of what the simulator counted. Returns 0 when every step succeeded
// and the simulator stopped normally, 1 (kExitFailure) otherwise, also when the simulator
// could not be started or the demo's files not written, and 130 when interrupted.
#pragma once

#include "Options.h"

namespace kysnap {

int runDemo(const Options& options);

}  // namespace kysnap
