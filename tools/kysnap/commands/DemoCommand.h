// SPDX-License-Identifier: Apache-2.0
// `kysnap demo`: a whole snapshot lifecycle against the arraysim program, started as a child
// process on a free loopback port and stopped at the end (also on failure or Ctrl-C), printing
// each step and a summary of what the simulator counted. Returns 0 when every step succeeded
// and the simulator stopped normally, 1 (kExitFailure) otherwise, also when the simulator
// could not be started or the demo's files not written, and 130 when interrupted.
//
// With --json the steps' narrative goes to standard error, each step runs with --json, and
// standard output holds one document:
//   {"version", "command": "demo",
//    "steps": [{"step", "command", "arguments", "purpose", "exitStatus",
//               "document": the step's own document (null when it printed none)}...],
//    "result": "lifecycle complete" | "failed", "seconds",
//    "counters": the simulator's counts (DemoCounters.h; null, with "countersError", when
//                it gave none),
//    "exitStatus"}
// or, when the demo could not start, the error document. A step that prints no document
// fails the demo.
#pragma once

#include "Options.h"

namespace kysnap {

int runDemo(const Options& options);

}  // namespace kysnap
