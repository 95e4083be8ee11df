// SPDX-License-Identifier: Apache-2.0
// Runs the kysnap program as a subprocess, as a person or a script would, against array
// simulators in the test process. Standard output and error are captured through files.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kysnap_test {

struct CliRun {
    int status = -1;          // exit status, or 128 + signal when a signal ended it
    bool coreDumped = false;  // a signal ended it and the kernel wrote a core file
    std::string out;
    std::string err;
};

class KysnapRunner {
public:
    static constexpr int kDeadline = 120;

    // `directory` holds the captured output; `environment` is added to (or, with an empty
    // value, removed from) this process's environment for every run.
    KysnapRunner(std::string directory, std::map<std::string, std::string> environment);

    // A run still going after `deadlineSeconds` is killed (status 128 + SIGKILL), so that a
    // kysnap that hangs fails its test instead of stalling the suite.
    CliRun run(const std::vector<std::string>& arguments, int deadlineSeconds = kDeadline);
    // Starts a run and returns at once; finish() waits for it.
    pid_t start(const std::vector<std::string>& arguments, int slot);
    CliRun finish(pid_t pid, int slot, int deadlineSeconds = kDeadline);
    // Runs with the size of files it may write limited to `bytes` (and no core dump), with its
    // output thrown away: a write past the limit ends it with SIGXFSZ.
    CliRun runWithFileSizeLimit(const std::vector<std::string>& arguments, long bytes);
    // Runs with a terminal (a pseudo-terminal) as standard input, output and error, into which
    // `typed` is written as a person would type it; `out` holds all the terminal showed.
    CliRun runOnTerminal(const std::vector<std::string>& arguments, const std::string& typed,
                         int deadlineSeconds = kDeadline);
    // Starts a run that may dump core (its core file limit raised to the hard limit), working
    // in the runner's directory so that a core file lands there; finish() waits for it.
    pid_t startAllowingCoreDump(const std::vector<std::string>& arguments, int slot);

    std::map<std::string, std::string> environment;

private:
    std::vector<std::string> environmentList() const;
    // Forks and runs kysnap with `limits` set in the child; with `slot` >= 0 its output goes to
    // that slot's files and it works in the runner's directory, else its output is discarded.
    pid_t forkRun(const std::vector<std::string>& arguments, int slot,
                  const std::vector<std::pair<int, struct rlimit>>& limits);
    std::string directory_;
};

std::string readFile(const std::string& path);

}  // namespace kysnap_test
