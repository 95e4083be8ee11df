// The arraysim program: starts on a free port, says where it is and which CA to trust, serves,
// and stops on SIGTERM with its counters.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

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

TEST(ArraySimProgramTest, RefusesAnInvalidSeedWithAReason) {
    Program p = launch({"--seed", "/nonexistent/seed.json", "--cert-dir", certDirectory()});
    ASSERT_NE(nullptr, p.out);
    std::string line = readLine(p.out);
    fclose(p.out);
    EXPECT_EQ(1, waitExit(p.pid));
    EXPECT_TRUE(contains(line, "cannot read /nonexistent/seed.json")) << line;
}

}  // namespace
}  // namespace arraysim_test
