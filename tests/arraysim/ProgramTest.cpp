// SPDX-License-Identifier: Apache-2.0
// The arraysim program: starts on a free port, says where it is and which CA to trust, serves,
// and stops on SIGTERM or SIGINT with its counters, promptly even while a worker waits.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "SimHarness.h"

extern char** environ;

namespace arraysim_test {
namespace {

struct Program {
    pid_t pid = -1;
    FILE* out = nullptr;
};

Program launch(const std::vector<std::string>& args) {
    int pipeFds[2];
    EXPECT_EQ(0, pipe(pipeFds));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv;
    std::string program = ARRAYSIM_PROGRAM;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    Program p;
    EXPECT_EQ(0, posix_spawn(&p.pid, program.c_str(), &actions, nullptr, argv.data(), environ));
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    p.out = fdopen(pipeFds[0], "r");
    return p;
}

std::string readLine(FILE* in) {
    char buffer[1024];
    return fgets(buffer, sizeof buffer, in) != nullptr ? std::string(buffer) : std::string();
}

int waitExit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ArraySimProgramTest, PrintsPortAndCaFileServesAndStopsOnSigterm) {
    const std::string countersFile = certDirectory() + "/../program-counters.json";
    Program p = launch({"--seed", ARRAYSIM_SAMPLE_SEED, "--port", "0", "--cert-dir",
                        certDirectory(), "--counters-file", countersFile});
    ASSERT_NE(nullptr, p.out);
    EXPECT_TRUE(contains(readLine(p.out), "arraysim: serving https://127.0.0.1:"));
    int port = 0;
    char caFile[512] = {0};
    ASSERT_EQ(1, std::sscanf(readLine(p.out).c_str(), "port: %d", &port));
    ASSERT_EQ(1, std::sscanf(readLine(p.out).c_str(), "ca-file: %511s", caFile));

    httplib::SSLClient client("127.0.0.1", port);
    client.set_ca_cert_path(caFile);
    client.enable_server_certificate_verification(true);
    client.set_basic_auth("admin", "tegile");
    auto r = client.Post("/zebi/api/v2/listSystemProperties", "[[\"ZEBI_API_VERSION\"]]",
                         "application/json");
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_EQ(200, r->status);
    EXPECT_EQ(std::vector<std::string>{"2.1"}, asNames(r->body));

    kill(p.pid, SIGTERM);
    std::string rest;
    for (std::string line = readLine(p.out); !line.empty(); line = readLine(p.out)) {
        rest += line;
    }
    fclose(p.out);
    EXPECT_EQ(0, waitExit(p.pid)) << rest;
    EXPECT_TRUE(contains(rest, "stopped")) << rest;
    std::ifstream in(countersFile);
    std::stringstream counters;
    counters << in.rdbuf();
    EXPECT_EQ(1, asObject(counters.str())
                     .get<jsonxx::Object>("methods")
                     .get<jsonxx::Number>("listSystemProperties"));
}

// Reads the port and CA file the program prints first.
bool readAddress(FILE* out, int& port, std::string& caFile) {
    char ca[512] = {0};
    readLine(out);
    bool ok = std::sscanf(readLine(out).c_str(), "port: %d", &port) == 1 &&
              std::sscanf(readLine(out).c_str(), "ca-file: %511s", ca) == 1;
    caFile = ca;
    return ok;
}

std::string readRest(FILE* out) {
    std::string rest;
    for (std::string line = readLine(out); !line.empty(); line = readLine(out)) {
        rest += line;
    }
    return rest;
}

TEST(ArraySimProgramTest, StopSignalEndsItPromptlyWhileAWorkerWaits) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        Program p = launch({"--seed", ARRAYSIM_SAMPLE_SEED, "--cert-dir", certDirectory()});
        ASSERT_NE(nullptr, p.out);
        int port = 0;
        std::string caFile;
        ASSERT_TRUE(readAddress(p.out, port, caFile));
        auto client = [&] {
            auto c = std::make_unique<httplib::SSLClient>("127.0.0.1", port);
            c->set_ca_cert_path(caFile.c_str());
            c->enable_server_certificate_verification(true);
            c->set_basic_auth("admin", "tegile");
            c->set_read_timeout(30, 0);
            return c;
        };
        ASSERT_TRUE(client()->Post("/control/faults",
                                   "{\"method\": \"listFCTargetGroups\", \"action\": "
                                   "\"latency\", \"ms\": 60000}",
                                   "application/json"));
        std::thread waiting(
            [&] { client()->Post("/zebi/api/v2/listFCTargetGroups", "", "application/json"); });
        auto counters = client();
        for (int i = 0; i < 200; ++i) {
            auto r = counters->Get("/control/counters");
            if (r && contains(r->body, "\"listFCTargetGroups\": 1")) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        int idle = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(0, connect(idle, reinterpret_cast<sockaddr*>(&address), sizeof address));

        const auto start = std::chrono::steady_clock::now();
        kill(p.pid, signal);
        std::string rest = readRest(p.out);
        fclose(p.out);
        EXPECT_EQ(0, waitExit(p.pid)) << rest;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << rest;
        EXPECT_TRUE(contains(rest, std::string("stopped (") + strsignal(signal) + ")")) << rest;
        waiting.join();
        close(idle);
    }
}

TEST(ArraySimProgramTest, RefusesAnInvalidSeedWithAReason) {
    Program p = launch({"--seed", "/nonexistent/seed.json", "--cert-dir", certDirectory()});
    ASSERT_NE(nullptr, p.out);
    std::string line = readLine(p.out);
    fclose(p.out);
    EXPECT_EQ(1, waitExit(p.pid));
    EXPECT_TRUE(contains(line, "cannot read /nonexistent/seed.json")) << line;
}

TEST(ArraySimProgramTest, CommandLineFollowsTheUsualConventions) {
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        int exit;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"--help", {"--help"}, 0, "usage: arraysim --seed FILE [OPTIONS]\n"},
        {"-h", {"-h"}, 0, "  -p, --port N "},
        {"--version", {"--version"}, 0, "arraysim 1."},
        {"--opt=value",
         {"--seed=/nonexistent/seed.json", "--port=0"},
         1,
         "cannot read /nonexistent/seed.json"},
        {"short option with its value",
         {"-s", "/nonexistent/seed.json"},
         1,
         "cannot read /nonexistent/seed.json"},
        {"value out of range",
         {"--seed", "x", "--port=99999"},
         2,
         "arraysim: '99999' is not a valid value of --port (arraysim --help)\n"},
        {"missing value", {"--seed", "x", "--threads"}, 2, "--threads needs a value"},
        {"unknown option", {"--seed", "x", "--colour"}, 2, "unknown option --colour"},
        {"no seed", {"--port", "0"}, 2, "--seed FILE is needed"},
        {"stray argument", {"--seed", "x", "extra"}, 2, "unexpected argument 'extra'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Program p = launch(c.arguments);
        ASSERT_NE(nullptr, p.out);
        std::string output;
        for (std::string line; !(line = readLine(p.out)).empty();) {
            output += line;
        }
        fclose(p.out);
        EXPECT_EQ(c.exit, waitExit(p.pid)) << output;
        EXPECT_TRUE(contains(output, c.says)) << output;
    }
}

}  // namespace
}  // namespace arraysim_test
