// SPDX-License-Identifier: Apache-2.0
// arraysim: runs the simulated IntelliFlash array until SIGINT, SIGTERM or
// POST /control/shutdown, then prints what it counted. Stopping cuts every connection and
// every injected wait; should a worker still not have finished after a grace period, or a
// second signal arrive, the program ends at once all the same.
#include <getopt.h>
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

const char kUsage[] =
    "usage: arraysim --seed FILE [OPTIONS]\n"
    "       arraysim --help | --version\n"
    "\n"
    "Runs a simulated IntelliFlash array (its REST API over HTTPS on loopback) until SIGINT,\n"
    "SIGTERM or POST /control/shutdown, then prints what it counted.\n"
    "\n"
    "Options (--opt=VALUE works as well as --opt VALUE):\n"
    "  -s, --seed FILE              initial state of the array (JSON)\n"
    "  -a, --address ADDR           loopback address to listen on (127.0.0.1)\n"
    "  -p, --port N                 port; 0 picks a free one (0)\n"
    "      --api-version V          API version to report, e.g. 2.0 or 2.1\n"
    "      --cert-dir DIR           keep generated TLS certificates here\n"
    "      --cert FILE --key FILE   use this certificate and key instead\n"
    "      --ca FILE                CA file clients trust (with --cert)\n"
    "      --self-signed NAMES      present a self-signed certificate for these names\n"
    "                               (comma-separated), as an array that made its own does\n"
    "      --expired                make that certificate one that has expired\n"
    "      --threads N              most requests answered at once (64)\n"
    "      --keep-alive-seconds N   idle time before a connection is closed (5)\n"
    "      --read-timeout-seconds N time for the TLS handshake and each whole request (5)\n"
    "      --max-body-bytes N       largest request body accepted (1048576)\n"
    "      --port-file FILE         write the port number to FILE\n"
    "      --counters-file FILE     write the counters (JSON) to FILE on exit\n"
    "      --data-dir DIR           keep the array's bytes in DIR: an image file per volume,\n"
    "                               snapshot and clone, a directory tree per share\n"
    "      --data-size BYTES        largest image made for a volume, a multiple of 512\n"
    "                               from 1 MiB to 1 TiB (67108864)\n"
    "  -h, --help                   this text\n"
    "  -V, --version                the simulator's version\n"
    "\n"
    "Exit status: 0 stopped normally, 1 it could not start or write a file it was asked\n"
    "to, 2 usage.\n";

// A usage error: what is wrong, then how to get help, on standard error.
int usage(const std::string& problem) {
    std::fprintf(stderr, "arraysim: %s (arraysim --help)\n", problem.c_str());
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
    enum LongOnly {
        kApiVersion = 256,
        kCertDir,
        kCert,
        kKey,
        kCa,
        kSelfSigned,
        kExpired,
        kThreads,
        kKeepAlive,
        kReadTimeout,
        kMaxBody,
        kPortFile,
        kCountersFile,
        kDataDir,
        kDataSize
    };
    const option longOptions[] = {
        {"seed", required_argument, nullptr, 's'},
        {"address", required_argument, nullptr, 'a'},
        {"port", required_argument, nullptr, 'p'},
        {"api-version", required_argument, nullptr, kApiVersion},
        {"cert-dir", required_argument, nullptr, kCertDir},
        {"cert", required_argument, nullptr, kCert},
        {"key", required_argument, nullptr, kKey},
        {"ca", required_argument, nullptr, kCa},
        {"self-signed", required_argument, nullptr, kSelfSigned},
        {"expired", no_argument, nullptr, kExpired},
        {"threads", required_argument, nullptr, kThreads},
        {"keep-alive-seconds", required_argument, nullptr, kKeepAlive},
        {"read-timeout-seconds", required_argument, nullptr, kReadTimeout},
        {"max-body-bytes", required_argument, nullptr, kMaxBody},
        {"port-file", required_argument, nullptr, kPortFile},
        {"counters-file", required_argument, nullptr, kCountersFile},
        {"data-dir", required_argument, nullptr, kDataDir},
        {"data-size", required_argument, nullptr, kDataSize},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":s:a:p:hV", longOptions, nullptr)) != -1;) {
        // The option by its long name, for messages.
        std::string name;
        for (const option& known : longOptions) {
            if (known.name != nullptr && known.val == (c == ':' ? optopt : c)) {
                name = std::string("--") + known.name;
            }
        }
        const std::string word = argv[optind - 1];
        long long number = 0;
        auto numberIn = [&](int& out, long long min, long long max) {
            if (!parseNumber(optarg, min, max, number)) {
                return false;
            }
            out = static_cast<int>(number);
            return true;
        };
        bool ok = true;
        switch (c) {
            case 's':
                options.seedFile = optarg;
                break;
            case 'a':
                options.address = optarg;
                break;
            case 'p':
                ok = numberIn(options.port, 0, 65535);
                break;
            case kApiVersion:
                options.apiVersion = optarg;
                break;
            case kCertDir:
                options.certDirectory = optarg;
                break;
            case kCert:
                options.certFile = optarg;
                break;
            case kKey:
                options.keyFile = optarg;
                break;
            case kCa:
                options.caFile = optarg;
                break;
            case kSelfSigned: {
                const std::string text = optarg;
                ok = !text.empty();
                for (size_t at = 0; ok && at <= text.size();) {
                    const size_t comma = std::min(text.find(',', at), text.size());
                    options.selfSignedNames.push_back(text.substr(at, comma - at));
                    at = comma + 1;
                }
                break;
            }
            case kExpired:
                options.expiredCertificate = true;
                break;
            case kThreads:
                ok = numberIn(options.threads, 1, 4096);
                break;
            case kKeepAlive:
                ok = numberIn(options.keepAliveSeconds, 1, 3600);
                break;
            case kReadTimeout:
                ok = numberIn(options.readTimeoutSeconds, 1, 3600);
                break;
            case kMaxBody:
                ok = parseNumber(optarg, 1024, 1LL << 30, number);
                options.maxBodyBytes = static_cast<size_t>(number);
                break;
            case kPortFile:
                portFile = optarg;
                break;
            case kCountersFile:
                countersFile = optarg;
                break;
            case kDataDir:
                options.dataDirectory = optarg;
                ok = !options.dataDirectory.empty();
                break;
            case kDataSize:
                ok = parseNumber(optarg, 1LL << 20, 1LL << 40, number) && number % 512 == 0;
                options.dataImageCap = static_cast<uint64_t>(number);
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case 'V':
                std::printf("arraysim %s\n", ARRAYSIM_VERSION);
                return 0;
            case ':':
                return usage(name + " needs a value");
            default:
                return usage("unknown option " + (optopt != 0 && word.rfind("--", 0) != 0
                                                      ? std::string("-") + static_cast<char>(optopt)
                                                      : word));
        }
        if (!ok) {
            return usage("'" + std::string(optarg) + "' is not a valid value of " + name);
        }
    }
    if (optind < argc) {
        return usage(std::string("unexpected argument '") + argv[optind] + "'");
    }
    if (options.seedFile.empty()) {
        return usage("--seed FILE is needed");
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
