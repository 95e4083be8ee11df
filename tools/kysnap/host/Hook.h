// SPDX-License-Identifier: Apache-2.0
// Hook: runs a user's command around a snapshot (--pre-hook, --post-hook) through /bin/sh -c,
// with a time limit. The command runs in a process group of its own (so that the limit ends
// everything it started), with standard input from /dev/null and its standard output sent to
// kysnap's standard error: kysnap's standard output is the report (--json).
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace kysnap {

// Each hook's time limit in kysnap's use (documented in kysnap.1).
constexpr std::chrono::seconds kHookLimit{60};

// Runs `command` with `environment` added to kysnap's (a pair with an empty value removes the
// variable: the one that holds an array's password is no hook's business). True when it exited with
// status 0 within `limit`. False with `failure` saying why ("exited with status 1", "was killed by
// signal 9", "took longer than 60 s and was killed", "cannot start /bin/sh: ..."); when the
// limit passes, its whole process group is killed with SIGKILL.
bool runHook(const std::string& command, std::chrono::milliseconds limit,
             const std::vector<std::pair<std::string, std::string>>& environment,
             std::string& failure);

}  // namespace kysnap
