// SPDX-License-Identifier: Apache-2.0
// `kysnap log [N]`: the audit log (AuditLog.h), its last N entries or all of them, one line each
// for a person, or with --json one document whose "entries" hold them as written. A line that
// is not an entry is shown as malformed, with its line number and what is wrong, never guessed.
#pragma once

#include "Options.h"
#include "Session.h"

namespace kysnap {

// Exit status 0 when the log was read (also when it holds malformed lines: they are shown),
// kExitUsage when N is not a whole number above 0, kExitFailure when the log cannot be read.
// A log not written yet is an empty log.
int runLog(const Options& options, const Session::Needs& needs);

}  // namespace kysnap
