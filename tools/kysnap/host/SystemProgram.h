// SPDX-License-Identifier: Apache-2.0
// SystemProgram: runs one of the host's system programs (found through PATH, as a shell would)
// with its arguments passed as they are, never through a shell, and gives back what it wrote.
#pragma once

#include <string>
#include <vector>

namespace kysnap {

// Runs `arguments` (the program first) and waits for it. True when it exited with status 0;
// `output` holds what it wrote to stdout and stderr (at most 64 KiB) without trailing blanks, or
// why it could not be started ("dmsetup is not installed").
bool runSystemProgram(const std::vector<std::string>& arguments, std::string& output);

}  // namespace kysnap
