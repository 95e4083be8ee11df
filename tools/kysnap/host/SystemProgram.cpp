// SPDX-License-Identifier: Apache-2.0
#include "SystemProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace kysnap {

namespace {

constexpr size_t kOutputLimit = 64 * 1024;

}  // namespace

bool runSystemProgram(const std::vector<std::string>& arguments, std::string& output) {
    output.clear();
    if (arguments.empty()) {
        return false;
    }
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        output = "cannot run " + arguments.front() + ": " + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        output = spawned == ENOENT
                     ? arguments.front() + " is not installed (not found in PATH)"
                     : "cannot run " + arguments.front() + ": " + std::strerror(spawned);
        return false;
    }
    char buffer[4096];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (output.size() < kOutputLimit) {
            output.append(buffer,
                          std::min<size_t>(static_cast<size_t>(got), kOutputLimit - output.size()));
        }
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    output.erase(output.find_last_not_of(" \t\r\n") + 1);  // npos + 1 clears blank output
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return true;
    }
    if (output.empty()) {
        output = arguments.front() +
                 (WIFEXITED(status) ? " exited with status " + std::to_string(WEXITSTATUS(status))
                                    : " was killed by signal " + std::to_string(WTERMSIG(status)));
    }
    return false;
}

}  // namespace kysnap
