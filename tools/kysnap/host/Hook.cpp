// SPDX-License-Identifier: Apache-2.0
#include "Hook.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

extern char** environ;

namespace kysnap {

namespace {

constexpr std::chrono::milliseconds kWaitStep{10};

std::string limitText(std::chrono::milliseconds limit) {
    return limit.count() % 1000 == 0 ? std::to_string(limit.count() / 1000) + " s"
                                     : std::to_string(limit.count()) + " ms";
}

std::string endText(int status) {
    if (WIFEXITED(status)) {
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    }
    return "was killed by signal " + std::to_string(WTERMSIG(status));
}

}  // namespace

bool runHook(const std::string& command, std::chrono::milliseconds limit,
             const std::vector<std::pair<std::string, std::string>>& environment,
             std::string& failure) {
    // Everything the child needs is made before the fork: after it, only system calls.
    std::vector<std::string> texts;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const auto& [name, value] : environment) {
            replaced = replaced || text.rfind(name + "=", 0) == 0;
        }
        if (!replaced) {
            texts.push_back(text);
        }
    }
    for (const auto& [name, value] : environment) {
        if (!value.empty()) {
            texts.push_back(name + "=" + value);
        }
    }
    std::vector<char*> envp;
    for (std::string& text : texts) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};

    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0) {
        failure = std::string("cannot start /bin/sh: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        setpgid(0, 0);
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
        }
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execve("/bin/sh", const_cast<char* const*>(argv), envp.data());
        _exit(127);
    }
    setpgid(pid, pid);  // also here, so that the group exists whichever runs first
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            failure = std::string("cannot wait for it: ") + std::strerror(errno);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            failure = "took longer than " + limitText(limit) + " and was killed";
            return false;
        }
        std::this_thread::sleep_for(kWaitStep);
    }
    // What the hook left running in the background stays: a pre-hook may hold a lock until
    // the post-hook releases it.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return true;
    }
    failure = endText(status);
    return false;
}

}  // namespace kysnap
