// SPDX-License-Identifier: Apache-2.0
// Runs part of this process with its standard output sent to a file, so that `kysnap demo
// --json` can take each step's document into its own and print only that one.
#pragma once

#include <functional>
#include <string>

namespace kysnap {

// Runs `run` with file descriptor 1 sent to `path` (made anew, mode 0600), then restores it;
// `status` is what `run` returned and `text` what it wrote on standard output. False with
// `error` set (one line) when the file cannot be made or read or the descriptor cannot be
// moved; `run` has not run when the file or the redirection failed. Not for a process whose
// other threads write on standard output meanwhile.
bool runCapturingStdout(const std::string& path, const std::function<int()>& run, int& status,
                        std::string& text, std::string& error);

}  // namespace kysnap
