// SPDX-License-Identifier: Apache-2.0
// The array password, and the base64 of the credentials that carry it, appear nowhere but in
// the password file: not in any output of kysnap or the plug-in (with --verbose, and with the
// plug-in's diagnostic logging off and on), not in the stored metadata, not in the catalog or
// any other file the CLI writes; and a run that holds it leaves no core file when it crashes.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>

#include <string>
#include <vector>

#include "KysnapSite.h"

namespace kysnap_test {
namespace {

std::string base64(const std::string& text) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < text.size(); i += 3) {
        const unsigned value =
            (static_cast<unsigned char>(text[i]) << 16) |
            (i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) << 8 : 0) |
            (i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0);
        out += kDigits[(value >> 18) & 63];
        out += kDigits[(value >> 12) & 63];
        out += i + 1 < text.size() ? kDigits[(value >> 6) & 63] : '=';
        out += i + 2 < text.size() ? kDigits[value & 63] : '=';
    }
    return out;
}

class Secrets : public KysnapSite {
protected:
    Secrets() { password = "Zq:7-secret:pW9x"; }

    // The [host] section of a linux host with no devices: a run contacts no array before it
    // checks the arrays, one after the other.
    std::string hostWithoutDevices() {
        mkdir(path("empty-root").c_str(), 0700);
        runner->environment["KYSNAP_LINUX_ROOT"] = path("empty-root");
        return "[host]\nbackend = linux\n";
    }

    // Every file in the test's directory but the password file itself.
    std::string everyOtherFile() {
        std::string all;
        DIR* dir = opendir(directory.c_str());
        while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name != "array.password") {
                all += readFile(path(name));
            }
        }
        if (dir != nullptr) {
            closedir(dir);
        }
        return all;
    }
};

TEST_F(Secrets, PasswordNeverLeavesItsFileWhateverTheLogging) {
    const std::vector<std::string> leaks = {password, base64(password),
                                            base64("admin:" + password)};
    for (const char* diagnostic : {"no", "yes"}) {
        SCOPED_TRACE(std::string("diagnostic logging ") + diagnostic);
        writeConfig(std::string("diagnostic-logging = ") + diagnostic + "\n");
        std::string shown;
        auto run = [&](std::vector<std::string> arguments, int expected = 0) {
            arguments.push_back("--verbose");
            const CliRun done = expectRun(arguments, expected);
            shown += done.out + done.err;
            return done;
        };
        run({"check"});
        run({"prepare", kOraData, kHomeShare});
        run({"snap", kOraData, kHomeShare});
        const CliRun listed = run({"list", "--json"});
        jsonxx::Object all;
        ASSERT_TRUE(all.parse(listed.out)) << listed.out;
        const jsonxx::Array& records = all.get<jsonxx::Array>("snapshots");
        std::vector<std::string> snapshots;
        for (size_t i = 0; i < records.size(); ++i) {
            snapshots.push_back(records.get<jsonxx::Object>(i).get<jsonxx::String>("name"));
        }
        // The catalog keeps the snapshots of both rounds; this round's are the last two.
        ASSERT_GE(snapshots.size(), 2u) << listed.out;
        snapshots.erase(snapshots.begin(), snapshots.end() - 2);
        std::vector<std::string> map = {"map"};
        map.insert(map.end(), snapshots.begin(), snapshots.end());
        run(map);
        for (const char* step : {"unmap", "reconcile", "delete"}) {
            std::vector<std::string> arguments = {step};
            arguments.insert(arguments.end(), snapshots.begin(), snapshots.end());
            run(arguments);
        }
        // A refused password is reported without being shown either.
        std::string wrong = password;
        wrong.back() = '0';
        std::ofstream(path("array.password")) << wrong << "\n";
        run({"prepare", kOraLogs}, 1);
        std::ofstream(path("array.password")) << password << "\n";

        // The audit log is among the files scanned, with the lifecycle's entries in it.
        const std::string audit = readFile(path("audit.log"));
        for (const char* operation : {"snap", "map", "unmap", "delete"}) {
            EXPECT_NE(audit.find(std::string("\"operation\":\"") + operation + "\""),
                      std::string::npos)
                << operation;
        }
        const std::string files = everyOtherFile();
        for (const std::string& leak : leaks) {
            EXPECT_EQ(shown.find(leak), std::string::npos) << leak;
            EXPECT_EQ(files.find(leak), std::string::npos) << leak;
        }
        EXPECT_EQ(shown.find(wrong), std::string::npos);
        EXPECT_NE(shown.find("hostPassword:******"), std::string::npos);
    }
}

// An array that takes connections and never answers: a kysnap run that reaches it waits there,
// in its TLS handshake, for as long as its time-out allows.
class SilentArray {
public:
    SilentArray() : listener_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(listener_, 4) == 0 &&
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~SilentArray() { close(listener_); }

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // Whether a connection arrived within `seconds`.
    bool reached(int seconds) const {
        pollfd connection{listener_, POLLIN, 0};
        return port_ != 0 && poll(&connection, 1, seconds * 1000) == 1;
    }

private:
    int listener_;
    int port_ = 0;
};

// Whether a process of this test that aborts, working in `directory`, gets a core file: the
// machine's core_pattern and hard limit decide.
bool coreDumpsAreWritten(const std::string& directory) {
    const pid_t child = fork();
    if (child == 0) {
        rlimit core{};
        getrlimit(RLIMIT_CORE, &core);
        core.rlim_cur = core.rlim_max;
        setrlimit(RLIMIT_CORE, &core);
        if (chdir(directory.c_str()) == 0) {
            abort();
        }
        _exit(1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFSIGNALED(status) &&
           WCOREDUMP(status);
}

// Every readable byte of the process's memory, region after region; empty when it may not be
// read (another user's non-dumpable process, without CAP_SYS_PTRACE).
std::string memoryOf(pid_t pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream maps(base + "/maps");
    const int memory = open((base + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    std::string all;
    std::string line;
    while (memory >= 0 && std::getline(maps, line)) {
        unsigned long start = 0, end = 0;
        char read = '-';
        if (std::sscanf(line.c_str(), "%lx-%lx %c", &start, &end, &read) != 3 || read != 'r') {
            continue;
        }
        // A sanitizer's shadow reserves terabytes that hold no text of the program's.
        constexpr unsigned long kLargestRegion = 1ul << 30;
        if (end - start > kLargestRegion) {
            continue;
        }
        std::vector<char> chunk(1 << 20);
        for (unsigned long at = start; at < end; at += chunk.size()) {
            const size_t want = std::min<unsigned long>(chunk.size(), end - at);
            const ssize_t got = pread(memory, chunk.data(), want, static_cast<off_t>(at));
            if (got > 0) {
                all.append(chunk.data(), static_cast<size_t>(got));
            }
        }
    }
    if (memory >= 0) {
        close(memory);
    }
    return all;
}

TEST_F(Secrets, RunHoldingThePasswordDumpsNoCoreWhenItCrashes) {
    if (!coreDumpsAreWritten(directory)) {
        GTEST_SKIP() << "this machine writes no core files (core_pattern or the hard limit)";
    }
    remove(path("core").c_str());
    const SilentArray silent;
    writeConfig("", hostWithoutDevices() + "[array arr]\naddress = " + silent.address() +
                        "\nuser = admin\npassword-file = " + path("array.password") + "\n");

    // kysnap has read the password and waits for the array when it is aborted.
    const pid_t run = runner->startAllowingCoreDump({"check"}, 1);
    const bool reached = silent.reached(30);
    kill(run, SIGABRT);
    const CliRun aborted = runner->finish(run, 1);
    ASSERT_TRUE(reached) << aborted.out << aborted.err;
    EXPECT_EQ(aborted.status, 128 + SIGABRT);
    EXPECT_FALSE(aborted.coreDumped)
        << "the core file holds the password: "
        << (readFile(path("core")).find(password) != std::string::npos ? "yes" : "no");
}

TEST_F(Secrets, PasswordIsZeroedOnceTheArrayIsDoneWith) {
    // check talks to the simulator with its password (connection, certificate, credentials,
    // API version, target groups), then waits on a second array that never answers: by then
    // nothing in kysnap, the plug-in, libkyplatform or libcurl holds the first password.
    const SilentArray silent;
    const std::string otherPassword = "Other-array-pw-31";
    std::ofstream(path("other.password")) << otherPassword << "\n";
    chmod(path("other.password").c_str(), 0600);
    writeConfig("", hostWithoutDevices() +
                        "[array arr]\naddress = 127.0.0.1:" + std::to_string(simulator->port()) +
                        "\nuser = admin\npassword-file = " + path("array.password") +
                        "\n[array silent]\naddress = " + silent.address() +
                        "\nuser = admin\npassword-file = " + path("other.password") + "\n");

    const pid_t run = runner->start({"check"}, 1);
    const bool reached = silent.reached(30);
    // Stopped while it waits, so that reading its memory (seconds under a sanitizer) cannot
    // outlast the probe's time-out and watch the password being let go.
    std::string memory;
    int stopped = 0;
    if (reached && kill(run, SIGSTOP) == 0 && waitpid(run, &stopped, WUNTRACED) == run &&
        WIFSTOPPED(stopped)) {
        memory = memoryOf(run);
    }
    kill(run, SIGKILL);
    const CliRun killed = runner->finish(run, 1);
    ASSERT_TRUE(reached) << killed.out << killed.err;
    if (memory.empty()) {
        GTEST_SKIP() << "this test may not read kysnap's memory (it needs CAP_SYS_PTRACE)";
    }
    // The first array was asked with the password before the second was reached.
    EXPECT_GT(simulator->counters().get<jsonxx::Number>("requests"), 0);
    ASSERT_NE(memory.find(otherPassword), std::string::npos) << "the memory read is not kysnap's";
    for (const std::string& leak : {password, base64(password), base64("admin:" + password)}) {
        EXPECT_EQ(memory.find(leak), std::string::npos) << leak;
    }
}

}  // namespace
}  // namespace kysnap_test
