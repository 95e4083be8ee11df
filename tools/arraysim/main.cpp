// arraysim: runs the simulated IntelliFlash array until SIGINT, SIGTERM or
// POST /control/shutdown, then prints what it counted.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "ArraySimulator.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: arraysim --seed FILE [options]\n"
                 "  --seed FILE              initial state of the array (JSON)\n"
                 "  --address ADDR           loopback address to listen on (127.0.0.1)\n"
                 "  --port N                 port; 0 picks a free one (0)\n"
                 "  --api-version V          API version to report, e.g. 2.0 or 2.1\n"
                 "  --cert-dir DIR           keep generated TLS certificates here\n"
                 "  --cert FILE --key FILE   use this certificate and key instead\n"
                 "  --ca FILE                CA file clients trust (with --cert)\n"
                 "  --threads N              worker threads (8)\n"
                 "  --keep-alive-seconds N   idle time before a connection is closed (5)\n"
                 "  --port-file FILE         write the port number to FILE\n"
                 "  --counters-file FILE     write the counters (JSON) to FILE on exit\n");
    return 2;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    arraysim::SimulatorOptions options;
    std::string portFile;
    std::string countersFile;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string number;
        bool ok = true;
        if (arg == "--seed") {
            ok = value(options.seedFile);
        } else if (arg == "--address") {
            ok = value(options.address);
        } else if (arg == "--port") {
            ok = value(number);
            options.port = std::atoi(number.c_str());
        } else if (arg == "--api-version") {
            ok = value(options.apiVersion);
        } else if (arg == "--cert-dir") {
            ok = value(options.certDirectory);
        } else if (arg == "--cert") {
            ok = value(options.certFile);
        } else if (arg == "--key") {
            ok = value(options.keyFile);
        } else if (arg == "--ca") {
            ok = value(options.caFile);
        } else if (arg == "--threads") {
            ok = value(number);
            options.threads = std::atoi(number.c_str());
        } else if (arg == "--keep-alive-seconds") {
            ok = value(number);
            options.keepAliveSeconds = std::atoi(number.c_str());
        } else if (arg == "--port-file") {
            ok = value(portFile);
        } else if (arg == "--counters-file") {
            ok = value(countersFile);
        } else {
            ok = false;
        }
        if (!ok) {
            return usage();
        }
    }
    if (options.seedFile.empty() || options.port < 0 || options.port > 65535) {
        return usage();
    }

    // Every thread inherits the blocked signals; only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    options.onShutdownRequest = [] { kill(getpid(), SIGTERM); };

    arraysim::ArraySimulator simulator(options);
    std::string error;
    if (!simulator.start(error)) {
        std::fprintf(stderr, "arraysim: %s\n", error.c_str());
        return 1;
    }
    if (!portFile.empty() && !writeFile(portFile, std::to_string(simulator.port()) + "\n")) {
        std::fprintf(stderr, "arraysim: cannot write %s\n", portFile.c_str());
    }
    std::printf("arraysim: serving %s/zebi/api/v2/\nport: %d\nca-file: %s\n",
                simulator.url().c_str(), simulator.port(), simulator.caFile().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    simulator.stop();

    std::string counters = simulator.counters().json();
    std::printf("arraysim: stopped (%s)\ncounters: %s\n", strsignal(received), counters.c_str());
    if (!countersFile.empty() && !writeFile(countersFile, counters + "\n")) {
        std::fprintf(stderr, "arraysim: cannot write %s\n", countersFile.c_str());
        return 1;
    }
    return 0;
}
