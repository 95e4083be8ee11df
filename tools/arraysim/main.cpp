// arraysim: runs the simulated IntelliFlash array until SIGINT, SIGTERM or
// POST /control/shutdown, then prints what it counted. Stopping cuts every connection and
// every injected wait; should a worker still not have finished after a grace period, or a
// second signal arrive, the program ends at once all the same.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>

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
                 "  --self-signed NAME[,NAME] present a self-signed certificate for these\n"
                 "                           names, as an array that made its own does\n"
                 "  --expired                make that certificate one that has expired\n"
                 "  --threads N              most connections served at once (64)\n"
                 "  --keep-alive-seconds N   idle time before a connection is closed (5)\n"
                 "  --read-timeout-seconds N time a stalled handshake or request is given (5)\n"
                 "  --max-body-bytes N       largest request body accepted (1048576)\n"
                 "  --port-file FILE         write the port number to FILE\n"
                 "  --counters-file FILE     write the counters (JSON) to FILE on exit\n");
    return 2;
}

constexpr int kStopGraceMs = 3000;

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// A whole decimal number in [min, max].
bool parseNumber(const std::string& text, long long min, long long max, long long& out) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    out = std::stoll(text);
    return out >= min && out <= max;
}

// Prints the counters and writes them to `countersFile`; false when that fails.
bool report(const arraysim::ArraySimulator& simulator, int received, const char* how,
            const std::string& countersFile) {
    std::string counters = simulator.counters().json();
    std::printf("arraysim: stopped (%s%s)\ncounters: %s\n", strsignal(received), how,
                counters.c_str());
    std::fflush(stdout);
    if (!countersFile.empty() && !writeFile(countersFile, counters + "\n")) {
        std::fprintf(stderr, "arraysim: cannot write %s\n", countersFile.c_str());
        return false;
    }
    return true;
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
        std::string text;
        long long number = 0;
        auto numberIn = [&](long long min, long long max) {
            return value(text) && parseNumber(text, min, max, number);
        };
        bool ok = true;
        if (arg == "--seed") {
            ok = value(options.seedFile);
        } else if (arg == "--address") {
            ok = value(options.address);
        } else if (arg == "--port") {
            ok = numberIn(0, 65535);
            options.port = static_cast<int>(number);
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
        } else if (arg == "--self-signed") {
            ok = value(text) && !text.empty();
            for (size_t at = 0; ok && at <= text.size();) {
                const size_t comma = std::min(text.find(',', at), text.size());
                options.selfSignedNames.push_back(text.substr(at, comma - at));
                at = comma + 1;
            }
        } else if (arg == "--expired") {
            options.expiredCertificate = true;
        } else if (arg == "--threads") {
            ok = numberIn(1, 4096);
            options.threads = static_cast<int>(number);
        } else if (arg == "--keep-alive-seconds") {
            ok = numberIn(1, 3600);
            options.keepAliveSeconds = static_cast<int>(number);
        } else if (arg == "--read-timeout-seconds") {
            ok = numberIn(1, 3600);
            options.readTimeoutSeconds = static_cast<int>(number);
        } else if (arg == "--max-body-bytes") {
            ok = numberIn(1024, 1LL << 30);
            options.maxBodyBytes = static_cast<size_t>(number);
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
    if (options.seedFile.empty()) {
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

    // Stopping waits for the workers; a second signal or an overlong wait ends the program
    // without them.
    std::atomic<bool> stopped{false};
    std::thread watchdog([&] {
        const timespec slice{0, 100 * 1000 * 1000};
        for (int waited = 0; !stopped; waited += 100) {
            int again = sigtimedwait(&stopSignals, nullptr, &slice);
            if (again > 0 || waited >= kStopGraceMs) {
                bool written = report(simulator, received,
                                      again > 0 ? "; second signal, not waiting for the workers"
                                                : "; workers did not finish, not waiting",
                                      countersFile);
                _exit(written ? 0 : 1);
            }
        }
    });
    simulator.stop();
    stopped = true;
    watchdog.join();
    return report(simulator, received, "", countersFile) ? 0 : 1;
}
