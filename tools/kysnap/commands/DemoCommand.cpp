// SPDX-License-Identifier: Apache-2.0
#include "DemoCommand.h"

#include <ftw.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "CannotRun.h"
#include "CatalogStore.h"
#include "CommandTable.h"
#include "DemoCounters.h"
#include "JsonOutput.h"
#include "PluginLibrary.h"
#include "SimulatorProcess.h"
#include "StdoutCapture.h"
#include "StrictJson.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// The sample array's two Oracle volumes, as the simulated host names their devices, and its
// home share as an NFS datastore; the host port is in the array's group db-host-fc.
const char* const kVolumes[] = {"/dev/sim/600144F0C8A7B3D1E45F4A2B00010001",
                                "/dev/sim/600144F0C8A7B3D1E45F4A2B00010002"};
const char kShare[] = "nfs:127.0.0.1:/export/files/home";
const char kHostPorts[] = "21:00:00:24:ff:3d:2a:10, 21:00:00:24:ff:3d:2a:11";
const char kArrayUser[] = "admin";
const char kArrayPassword[] = "tegile";  // the sample seed's user

std::string seedFile() {
    char installed[PATH_MAX];
    const std::string beside = programDirectory() + "/../share/kysnap/seed/sample.json";
    return realpath(beside.c_str(), installed) != nullptr
               ? installed
               : programDirectory() + "/" + KYSNAP_SOURCE_SEED;  // run from the build tree
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

void removeTree(const std::string& directory) {
    nftw(directory.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// Ends the process cleanly on Ctrl-C: `stop` ends the simulator, then the demo's files go.
// Signals are blocked in every thread but the watcher's.
class InterruptWatch {
public:
    InterruptWatch(std::string directory, std::function<void()> stop)
        : directory_(std::move(directory)), stop_(std::move(stop)) {
        sigemptyset(&signals_);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
            sigaddset(&signals_, signal);
        }
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
        watcher_ = std::thread([this] {
            int signal = 0;
            sigwait(&signals_, &signal);
            if (signal == SIGUSR1) {
                return;  // the demo ended by itself
            }
            static const char kMessage[] = "\nkysnap demo: interrupted; stopping the simulator\n";
            (void)!write(2, kMessage, sizeof kMessage - 1);
            stop_();
            removeTree(directory_);
            _exit(130);
        });
    }
    ~InterruptWatch() {
        pthread_kill(watcher_.native_handle(), SIGUSR1);
        watcher_.join();
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    std::string directory_;
    std::function<void()> stop_;
    sigset_t signals_{};
    sigset_t previous_{};
    std::thread watcher_;
};

bool writeFile(const std::string& path, const std::string& text, mode_t mode) {
    std::ofstream file(path);
    file << text;
    file.close();
    return file.good() && chmod(path.c_str(), mode) == 0;
}

// The lifecycle, step by step. For a person everything goes to standard output; with --json
// the same words go to standard error, each step runs with --json, and standard output gets
// one document holding the steps' documents, printed at the end.
class Demo {
public:
    Demo(const Options& options, std::string directory, SimulatorProcess& simulator)
        : given_(options),
          directory_(std::move(directory)),
          simulator_(simulator),
          text_(options.json ? stderr : stdout),
          document_(jsonDocument("demo")) {
        document_["steps"] = JsonDocument::array();
    }

    int run() {
        const auto start = std::chrono::steady_clock::now();
        std::string error;
        if (!simulator_.start(error)) {
            return cannotRun(given_, "demo: the array simulator did not start: " + error);
        }
        const std::string address = "127.0.0.1:" + std::to_string(simulator_.port());
        if (!writeSetup(address)) {
            return cannotRun(given_, "demo: cannot write its files in " + directory_);
        }
        std::fprintf(text_,
                     "kysnap demo: array simulator on https://%s (seed %s)\n"
                     "             %s, process %d; its CA %s is the array's ca-file\n"
                     "             host configuration %s, catalog %s\n",
                     address.c_str(), simulator_.seedFile().c_str(), simulator_.program().c_str(),
                     static_cast<int>(simulator_.pid()), simulator_.caFile().c_str(),
                     configPath().c_str(), statePath().c_str());
        std::fflush(text_);

        const std::vector<std::string> devices = {kVolumes[0], kVolumes[1], kShare};
        bool ok = step("check", "is everything in place?", {}) &&
                  step("prepare", "find the volumes and the share on the array", devices) &&
                  step("snap", "snapshot all three in one batch", devices);
        const std::vector<std::string> snapshots =
            ok ? snapshotNames() : std::vector<std::string>{};
        ok = ok && step("map", "clone each snapshot and show it to this host", snapshots) &&
             step("list", "the host's catalog", {}) &&
             step("unmap", "remove the clones and their devices", snapshots) &&
             step("reconcile", "are the snapshots still on the array?", {}) &&
             step("delete", "delete the snapshots", snapshots) &&
             step("list", "the catalog afterwards", {});
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The counters are complete once the simulator has stopped and written them.
        nlohmann::json counters;
        const bool stopped = simulator_.stop(counters, error);
        std::fprintf(text_, "\n== summary: %s in %.1f s\n", ok ? "lifecycle complete" : "FAILED",
                     seconds);
        if (stopped) {
            printCounters(text_, readCounters(counters));
        } else {
            std::fprintf(text_, "the simulator's counters are not available\n");
            std::fflush(text_);
            std::fprintf(stderr, "kysnap demo: %s\n", visibleText(error).c_str());
        }
        const int status = ok && stopped ? kExitSuccess : kExitFailure;
        if (given_.json) {
            document_["result"] = ok ? "lifecycle complete" : "failed";
            document_["seconds"] = seconds;
            document_["counters"] = stopped ? countersJson(readCounters(counters)) : nullptr;
            if (!stopped) {
                document_["countersError"] = visibleText(error);
            }
            document_["exitStatus"] = status;
            printJsonDocument(document_);
        }
        return status;
    }

private:
    std::string configPath() const { return directory_ + "/kysnap.conf"; }
    std::string statePath() const { return directory_ + "/catalog.json"; }

    bool writeSetup(const std::string& address) {
        const std::string passwordFile = directory_ + "/demo-array.password";
        const std::string config =
            "# written by kysnap demo\n"
            "[host]\n"
            "backend = sim\n"
            "name = demo-host\n"
            "fc-initiators = " +
            std::string(kHostPorts) +
            "\n"
            "esx-name = esx01\n"
            "retry-count = 3\n"
            "retry-interval = 1\n"
            "\n"
            "[array demo-array]\n"
            "address = " +
            address +
            "\n"
            "user = " +
            kArrayUser +
            "\n"
            "password-file = " +
            passwordFile +
            "\n"
            "ca-file = " +
            simulator_.caFile() + "\n";
        return writeFile(passwordFile, std::string(kArrayPassword) + "\n", 0600) &&
               writeFile(configPath(), config, 0600);
    }

    // Runs `command` as its row in the command table says; with --json it runs with --json
    // too and its document joins the demo's. Whether it succeeded (and, with --json, printed
    // one document).
    bool step(const std::string& command, const std::string& purpose,
              const std::vector<std::string>& arguments) {
        ++number_;
        std::string shown = "kysnap " + command;
        for (const std::string& argument : arguments) {
            shown += " " + argument;
        }
        std::fprintf(text_, "\n== %d. %s: %s\n", number_, purpose.c_str(), shown.c_str());
        std::fflush(text_);
        Options options;
        options.command = command;
        options.arguments = arguments;
        options.config = configPath();
        options.state = statePath();
        options.plugin = given_.plugin;
        options.verbose = given_.verbose;
        options.json = given_.json;
        const Command* row = findCommand(command);
        const auto runRow = [&] {
            return row != nullptr ? row->run(options, row->session.value_or(Session::Needs()))
                                  : kExitFailure;
        };
        int status = kExitFailure;
        bool documented = true;
        nlohmann::json checked;
        JsonDocument stepDocument;  // read again to keep its members' order
        if (given_.json) {
            std::string printed;
            std::string error;
            documented =
                runCapturingStdout(directory_ + "/step.json", runRow, status, printed, error) &&
                strictjson::parseObject(printed, checked, error);
            if (documented) {
                stepDocument = JsonDocument::parse(printed);
            } else {
                std::fprintf(stderr, "kysnap demo: step %d (%s) gave no JSON document: %s\n",
                             number_, command.c_str(), visibleText(error).c_str());
            }
            document_["steps"].push_back({{"step", number_},
                                          {"command", command},
                                          {"arguments", arguments},
                                          {"purpose", purpose},
                                          {"exitStatus", status},
                                          {"document", documented ? stepDocument : nullptr}});
        } else {
            status = runRow();
        }
        std::fflush(stdout);
        if (status != 0) {
            std::fprintf(text_, "kysnap demo: step %d (%s) ended with status %d\n", number_,
                         command.c_str(), status);
            return false;
        }
        return documented;
    }

    std::vector<std::string> snapshotNames() const {
        std::vector<std::string> names;
        std::string error;
        auto store = CatalogStore::open(statePath(), CatalogStore::Access::Read, {}, error);
        Catalog catalog;
        if (store && store->load(catalog, error)) {
            for (const SnapshotRecord& record : catalog.snapshots) {
                names.push_back(record.name);
            }
        }
        return names;
    }

    const Options& given_;
    std::string directory_;
    SimulatorProcess& simulator_;
    FILE* text_;  // where a person reads the steps
    JsonDocument document_;
    int number_ = 0;
};

}  // namespace

int runDemo(const Options& options) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/kysnap-demo-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        const int why = errno;
        printErrorDocument(
            options, kExitFailure,
            "demo: cannot make a temporary directory: " + std::string(std::strerror(why)));
        errno = why;
        std::perror("kysnap demo: cannot make a temporary directory");
        return kExitFailure;
    }
    SimulatorLaunch launch;
    launch.program = defaultArraysimPath();
    launch.seedFile = seedFile();
    launch.directory = pattern;
    SimulatorProcess simulator(launch);
    int status = 1;
    {
        InterruptWatch watch(pattern, [&simulator] { simulator.kill(); });
        status = Demo(options, pattern, simulator).run();
    }
    simulator.kill();
    removeTree(pattern);
    return status;
}

}  // namespace kysnap
