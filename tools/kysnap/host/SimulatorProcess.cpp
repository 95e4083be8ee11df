// SPDX-License-Identifier: Apache-2.0
#include "SimulatorProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "PluginLibrary.h"
#include "StrictJson.h"

namespace kysnap {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(10);

std::string readWhole(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The last line of `text` that is not empty, "" when there is none.
std::string lastLine(const std::string& text) {
    size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) {
        return "";
    }
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
}

// The child's side of spawning, between fork and exec: only async-signal-safe calls. On a
// failure it writes errno to `report` and ends.
[[noreturn]] void runChild(const std::vector<char*>& argv, int out, int err, int report,
                           pid_t parent) {
    // The parent's death (its thread that forked, which is kysnap's main thread) kills it; a
    // parent already gone before this took effect is caught by the pid check.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
        _exit(127);
    }
    // Its own process group: a Ctrl-C on the terminal reaches kysnap alone, which stops it.
    setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
        const int why = errno;
        (void)!write(report, &why, sizeof why);
        _exit(127);
    }
    execv(argv[0], argv.data());
    const int why = errno;
    (void)!write(report, &why, sizeof why);
    _exit(127);
}

}  // namespace

SimulatorProcess::SimulatorProcess(SimulatorLaunch launch) : launch_(std::move(launch)) {}

SimulatorProcess::~SimulatorProcess() {
    kill();
}

bool SimulatorProcess::spawn(std::string& error) {
    std::vector<std::string> words = {launch_.program,
                                      "--seed",
                                      launch_.seedFile,
                                      "--address",
                                      "127.0.0.1",
                                      "--port",
                                      "0",
                                      "--port-file",
                                      path("arraysim.port"),
                                      "--cert-dir",
                                      certDirectory(),
                                      "--counters-file",
                                      path("arraysim.counters")};
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    // Files of an earlier run would be taken for this one's port and counters.
    unlink(path("arraysim.port").c_str());
    unlink(path("arraysim.counters").c_str());
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
    const int out = open(path("arraysim.out").c_str(), flags, 0600);
    const int err = open(path("arraysim.err").c_str(), flags, 0600);
    int report[2] = {-1, -1};
    if (out < 0 || err < 0 || pipe2(report, O_CLOEXEC) != 0) {
        error = std::string("cannot make the files of arraysim in ") + launch_.directory + ": " +
                std::strerror(errno);
        for (int fd : {out, err, report[0], report[1]}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        return false;
    }
    const pid_t parent = getpid();
    int forkErrno = 0;
    {
        // Held across fork, so that kill() from an interrupt sees either no child or its pid.
        std::lock_guard<std::mutex> lock(mutex_);
        const pid_t child = fork();
        if (child == 0) {
            runChild(argv, out, err, report[1], parent);
        }
        forkErrno = errno;
        pid_ = child > 0 ? child : 0;
    }
    close(out);
    close(err);
    close(report[1]);
    if (pid_ == 0) {
        close(report[0]);
        error = std::string("cannot start arraysim: ") + std::strerror(forkErrno);
        return false;
    }
    // The report pipe closes at a successful exec; an errno in it means the child failed.
    int why = 0;
    ssize_t got;
    do {
        got = read(report[0], &why, sizeof why);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof why)) {
        kill();
        error = "cannot run " + launch_.program + ": " + std::strerror(why) +
                " (KYSNAP_ARRAYSIM names the arraysim program)";
        return false;
    }
    return true;
}

int SimulatorProcess::portWritten() const {
    const std::string text = readWhole(path("arraysim.port"));
    // arraysim writes the number and then a line break: a file without it is still being
    // written.
    if (text.empty() || text.back() != '\n' || text.size() > 7) {
        return 0;
    }
    const std::string number = text.substr(0, text.size() - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    const int port = std::atoi(number.c_str());
    return port > 0 && port <= 65535 ? port : 0;
}

bool SimulatorProcess::reaped(int& status) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pid_ == 0) {
        status = -1;  // reaped already, by kill()
        return true;
    }
    pid_t done;
    do {
        done = waitpid(pid_, &status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == 0) {
        return false;
    }
    pid_ = 0;
    return true;
}

std::string SimulatorProcess::ending(int status) const {
    std::string how =
        status == -1          ? "was killed"
        : WIFEXITED(status)   ? "exited with status " + std::to_string(WEXITSTATUS(status))
        : WIFSIGNALED(status) ? std::string("was killed by signal ") + strsignal(WTERMSIG(status))
                              : "ended";
    const std::string said = lastLine(readWhole(path("arraysim.err")));
    return said.empty() ? how : how + ": " + said;
}

bool SimulatorProcess::start(std::string& error) {
    if (!spawn(error)) {
        return false;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(launch_.startSeconds);
    for (;;) {
        int status = 0;
        if (reaped(status)) {
            error = launch_.program + " " + ending(status) + ", before it listened";
            return false;
        }
        port_ = portWritten();
        if (port_ != 0) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill();
            error = launch_.program + " did not write its port within " +
                    std::to_string(launch_.startSeconds) + " s; it was stopped";
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

bool SimulatorProcess::stop(nlohmann::json& counters, std::string& error) {
    int status = 0;
    if (reaped(status)) {
        error = "arraysim had ended before it was asked to stop: it " + ending(status);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pid_ != 0) {
            ::kill(pid_, SIGTERM);
        }
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(launch_.stopSeconds);
    while (!reaped(status)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill();
            error = "arraysim did not stop within " + std::to_string(launch_.stopSeconds) +
                    " s of SIGTERM; it was killed";
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "arraysim " + ending(status) + " when asked to stop";
        return false;
    }
    std::string why;
    if (!strictjson::parseObject(readWhole(path("arraysim.counters")), counters, why)) {
        error = "arraysim wrote no readable counters in " + path("arraysim.counters") + ": " + why;
        return false;
    }
    return true;
}

void SimulatorProcess::kill() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pid_ == 0) {
        return;
    }
    ::kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
}

std::string defaultArraysimPath() {
    if (const char* chosen = std::getenv("KYSNAP_ARRAYSIM"); chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    char resolved[PATH_MAX];
    const std::string installed = programDirectory() + "/arraysim";
    if (realpath(installed.c_str(), resolved) != nullptr) {
        return resolved;
    }
    // Run from the build tree; a path that does not resolve is kept for the error to name.
    const std::string built = programDirectory() + "/" + KYSNAP_BUILT_ARRAYSIM;
    return realpath(built.c_str(), resolved) != nullptr ? resolved : built;
}

}  // namespace kysnap
