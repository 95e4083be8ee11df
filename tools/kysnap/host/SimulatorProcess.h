// SPDX-License-Identifier: Apache-2.0
// SimulatorProcess: the arraysim program run as a child of kysnap on a free loopback port, so
// that kysnap itself never links the simulator. The child gets SIGKILL when the thread that
// started it ends (kysnap killed outright included), so it never outlives kysnap; otherwise
// stop() or kill() ends it and reaps it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace kysnap {

// How to run arraysim. Everything it writes (certificates, port, output, counters) goes into
// `directory`, which must be private to this user and is not cleaned here.
struct SimulatorLaunch {
    std::string program;  // the arraysim program (defaultArraysimPath())
    std::string seedFile;
    std::string directory;
    int startSeconds = 30;  // longest wait for the port; the first start makes a CA and key
    int stopSeconds = 5;    // longest wait after SIGTERM before SIGKILL
};

class SimulatorProcess {
public:
    explicit SimulatorProcess(SimulatorLaunch launch);
    // kill(): a simulator still running is never left behind.
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Runs the program and waits until it has written its port. False with `error` set (the
    // child then killed and reaped) when it cannot be run (with the system's reason), exits
    // before it listens (with its status and the last line it wrote on standard error), or has
    // not listened within startSeconds. May be called once.
    bool start(std::string& error);

    // Asks the simulator to stop (SIGTERM) and reaps it; SIGKILL after stopSeconds. True with
    // `counters` set to what it counted when it ran until asked and then stopped normally.
    // False with `error` set when it had ended before (its status and last error line), did
    // not stop in time, or its counters file is not one JSON object to the strict reader
    // (with the reader's reason); it is reaped in every case.
    bool stop(nlohmann::json& counters, std::string& error);

    // Ends a running simulator with SIGKILL and reaps it; nothing when none is running. Safe
    // from another thread while start() or stop() runs (an interrupt's handler).
    void kill();

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    const std::string& program() const { return launch_.program; }
    const std::string& seedFile() const { return launch_.seedFile; }
    // The CA it made for its certificate: what a client must trust.
    std::string caFile() const { return certDirectory() + "/ca.pem"; }

private:
    std::string certDirectory() const { return launch_.directory + "/tls"; }
    std::string path(const char* name) const { return launch_.directory + "/" + name; }
    // Runs the program with its output in files; false with `error` when it cannot be run.
    bool spawn(std::string& error);
    // The port once the port file holds a whole line, else 0.
    int portWritten() const;
    // Reaps the child without waiting; true (with `status`) once it has ended.
    bool reaped(int& status);
    // "exited with status 1: arraysim: <its last error line>", or "killed by signal ...".
    std::string ending(int status) const;

    SimulatorLaunch launch_;
    std::mutex mutex_;           // guards pid_ between the caller and an interrupt's thread
    std::atomic<pid_t> pid_{0};  // 0: not running (never started, or reaped)
    int port_ = 0;
};

// Where arraysim is: $KYSNAP_ARRAYSIM, else the installed program beside this one, else the one
// built with this program, found where the build tree put it relative to this program.
std::string defaultArraysimPath();

}  // namespace kysnap
