// SPDX-License-Identifier: Apache-2.0
#include "KysnapRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kysnap_test {

std::string readFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

KysnapRunner::KysnapRunner(std::string directory, std::map<std::string, std::string> env)
    : environment(std::move(env)), directory_(std::move(directory)) {}

std::vector<std::string> KysnapRunner::environmentList() const {
    std::vector<std::string> list;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (environment.count(text.substr(0, text.find('='))) == 0) {
            list.push_back(text);
        }
    }
    for (const auto& [name, value] : environment) {
        if (!value.empty()) {
            list.push_back(name + "=" + value);
        }
    }
    return list;
}

namespace {

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (std::string& text : texts) {
        list.push_back(text.data());
    }
    list.push_back(nullptr);
    return list;
}

}  // namespace

pid_t KysnapRunner::start(const std::vector<std::string>& arguments, int slot) {
    std::vector<std::string> argv = {KYSNAP_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args = pointers(argv);
    std::vector<std::string> env = environmentList();
    std::vector<char*> envp = pointers(env);
    const std::string out = directory_ + "/out." + std::to_string(slot);
    const std::string err = directory_ + "/err." + std::to_string(slot);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, KYSNAP_PROGRAM, &actions, nullptr, args.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

CliRun KysnapRunner::finish(pid_t pid, int slot, int deadlineSeconds) {
    CliRun result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds);
    pid_t waited = 0;
    while (pid > 0 && (waited = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool hung = pid > 0 && waited == 0;
    if (hung) {
        kill(pid, SIGKILL);
        waited = waitpid(pid, &status, 0);
    }
    if (pid > 0 && waited == pid) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.coreDumped = WIFSIGNALED(status) && WCOREDUMP(status);
    }
    result.out = readFile(directory_ + "/out." + std::to_string(slot));
    result.err = readFile(directory_ + "/err." + std::to_string(slot));
    if (hung) {
        result.err += "(killed: still running after " + std::to_string(deadlineSeconds) + " s)\n";
    }
    return result;
}

CliRun KysnapRunner::runOnTerminal(const std::vector<std::string>& arguments,
                                   const std::string& typed, int deadlineSeconds) {
    std::vector<std::string> argv = {KYSNAP_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args = pointers(argv);
    std::vector<std::string> env = environmentList();
    std::vector<char*> envp = pointers(env);
    CliRun result;
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (chdir(directory_.c_str()) == 0) {
            execve(KYSNAP_PROGRAM, args.data(), envp.data());
        }
        _exit(127);
    }
    if (pid < 0) {
        return result;
    }
    if (!typed.empty() && write(terminal, typed.data(), typed.size()) < 0) {
        result.err = "cannot type on the terminal\n";
    }
    // Read until the program has closed its side; a run past the deadline is killed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds);
    char buffer[4096];
    for (;;) {
        pollfd ready{terminal, POLLIN, 0};
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            result.err +=
                "(killed: still running after " + std::to_string(deadlineSeconds) + " s)\n";
            break;
        }
        if (poll(&ready, 1, 100) <= 0) {
            continue;
        }
        const ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got <= 0) {
            break;  // EIO: no process holds the terminal any more
        }
        result.out.append(buffer, static_cast<size_t>(got));
    }
    close(terminal);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return result;
}

pid_t KysnapRunner::forkRun(const std::vector<std::string>& arguments, int slot,
                            const std::vector<std::pair<int, struct rlimit>>& limits) {
    std::vector<std::string> argv = {KYSNAP_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args = pointers(argv);
    std::vector<std::string> env = environmentList();
    std::vector<char*> envp = pointers(env);
    const bool kept = slot >= 0;
    const std::string out = kept ? directory_ + "/out." + std::to_string(slot) : "/dev/null";
    const std::string err = kept ? directory_ + "/err." + std::to_string(slot) : "/dev/null";
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec: the test process has threads.
        for (const auto& [resource, limit] : limits) {
            setrlimit(resource, &limit);
        }
        if (kept && chdir(directory_.c_str()) != 0) {
            _exit(127);
        }
        const int input = open("/dev/null", O_RDONLY);
        const int output = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errors = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(input, 0);
        dup2(output, 1);
        dup2(errors, 2);
        execve(KYSNAP_PROGRAM, args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

CliRun KysnapRunner::runWithFileSizeLimit(const std::vector<std::string>& arguments, long bytes) {
    const rlimit size{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    const rlimit core{0, 0};
    const pid_t pid = forkRun(arguments, -1, {{RLIMIT_FSIZE, size}, {RLIMIT_CORE, core}});
    CliRun result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return result;
}

pid_t KysnapRunner::startAllowingCoreDump(const std::vector<std::string>& arguments, int slot) {
    rlimit core{};
    getrlimit(RLIMIT_CORE, &core);
    core.rlim_cur = core.rlim_max;
    return forkRun(arguments, slot, {{RLIMIT_CORE, core}});
}

CliRun KysnapRunner::run(const std::vector<std::string>& arguments, int deadlineSeconds) {
    return finish(start(arguments, 0), 0, deadlineSeconds);
}

}  // namespace kysnap_test
