// SPDX-License-Identifier: Apache-2.0
// Clients that send what no array client should: patterns built to crash or freeze a regular
// expression engine, bodies over the bound or without a usable length, encodings the array does
// not speak, over-long request lines, framing two readers could take apart differently (two
// lengths, a length and a chunked body, control bytes in headers), bytes that are not UTF-8,
// junk on the control routes, idle connections, and a certificate directory others could
// write to. Every one gets a prompt, accurate, valid answer, and the simulator goes on serving.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "CertDirectory.h"
#include "SimHarness.h"

namespace arraysim_test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::string_literals;

struct Hostile {
    std::string what;
    std::string request;
    int status;
    std::string fragment;  // in the answer's body
    bool closes;           // the connection ends after the answer (its body was not read)
};

std::string rawControlPost(const std::string& route, const std::string& body) {
    return "POST /control/" + route +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::string withHeaders(const std::string& requestLine, const std::string& headers,
                        bool credentials = true) {
    std::string auth;
    if (credentials) {
        auto header = httplib::make_basic_authentication_header("admin", "tegile");
        auth = header.first + ": " + header.second + "\r\n";
    }
    return requestLine + "\r\nHost: 127.0.0.1\r\n" + auth + headers + "\r\n";
}

std::string chunked(size_t total) {
    std::string out;
    const std::string chunk(65536, 'x');
    char size[16];
    for (size_t sent = 0; sent < total; sent += chunk.size()) {
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        out += size + chunk + "\r\n";
    }
    return out + "0\r\n\r\n";
}

std::string repeated(const std::string& text, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

const std::string kLogs = "pool-a/Local/oracle/ora-logs";
const std::string kPost = "POST /zebi/api/v2/listVolumes HTTP/1.1";
// A listing that answers 200 to the body "[]", so that only the framing can refuse it.
const std::string kPostGroups = "POST /zebi/api/v2/listFCTargetGroups HTTP/1.1";

std::vector<Hostile> hostileRequests() {
    const std::string nested = std::string(50000, '(') + "a" + std::string(50000, ')');
    return {
        {"pattern of 50,000 nested groups",
         rawApiPost("listSnapshots", "[\"" + kLogs + "\",\"" + nested + "\"]"), 400, "at most 1024",
         false},
        {"(a+)+b against a 45-character name",
         rawApiPost("listSnapshots", "[\"" + kLogs + "\",\"(a+)+b\"]"), 200, "[", false},
        {"pattern that does not compile", rawApiPost("listSnapshots", "[\"" + kLogs + "\",\"(\"]"),
         400, "invalid name pattern", false},
        {"body over the bound", withHeaders(kPost, "Content-Length: 1048577\r\n"), 413,
         "at most 1048576", true},
        {"body over the bound, wrong credentials",
         withHeaders(kPost, "Content-Length: 1048577\r\n", false), 401, "Access Denied", true},
        {"chunked body over the bound",
         withHeaders(kPost, "Transfer-Encoding: chunked\r\n") + chunked(1100000), 413,
         "larger than 1048576", true},
        {"request line over 8192 bytes",
         "GET /zebi/api/v2/" + std::string(9000, 'x') + " HTTP/1.1\r\n\r\n", 414,
         "longer than 8192", false},
        {"compressed body",
         withHeaders(kPost, "Content-Encoding: gzip\r\nContent-Length: 4\r\n") + "\x1f\x8b\x08\x00",
         415, "Content-Encoding gzip", true},
        {"unknown transfer coding", withHeaders(kPost, "Transfer-Encoding: gzip\r\n"), 501,
         "Transfer-Encoding gzip", true},
        {"POST without a length", withHeaders(kPost, ""), 411, "Content-Length", true},
        {"length that is no number", withHeaders(kPost, "Content-Length: 12x\r\n"), 400,
         "not a decimal number", true},
        {"PUT", withHeaders("PUT /zebi/api/v2/listVolumes HTTP/1.1", "Content-Length: 0\r\n"), 405,
         "PUT is not answered", false},
        {"another path", withHeaders("GET /zebi/api/v1/listVolumes HTTP/1.1", ""), 404, "No route",
         false},
        {"malformed request line", "NONSENSE\r\n\r\n", 400, "could not be read", false},
        {"head that does not end within 64 KiB",
         kPostGroups + "\r\nHost: 127.0.0.1\r\n" + repeated("X-Pad: 0123456789\r\n", 5000), 400,
         "could not be read", true},
        // Framing two readers of the same bytes could disagree on is refused, not guessed.
        {"Content-Length headers with different values",
         withHeaders(kPostGroups, "Content-Length: 2\r\nContent-Length: 40\r\n") + "[]", 400,
         "Content-Length headers with different values", true},
        {"Content-Length repeated with the same value",
         withHeaders(kPostGroups, "Content-Length: 2\r\ncontent-length: 2\r\n") + "[]", 200,
         "default-fc-target-group", false},
        {"Content-Length with a chunked body",
         withHeaders(kPostGroups, "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n") +
             "2\r\n[]\r\n0\r\n\r\n",
         400, "both a Content-Length and a Transfer-Encoding", true},
        {"NUL byte in a header value",
         withHeaders(kPostGroups, "X-Note: a\0b\r\nContent-Length: 2\r\n"s) + "[]", 400,
         "control character", true},
        {"NUL byte in a header name",
         withHeaders(kPostGroups, "X-\0Note: a\r\nContent-Length: 2\r\n"s) + "[]", 400,
         "control character", true},
        {"escape byte in a header value",
         withHeaders(kPostGroups, "X-Note: a\x1b[2Jb\r\nContent-Length: 2\r\n") + "[]", 400,
         "control character", true},
        {"tab in a header value",
         withHeaders(kPostGroups, "X-Note: a\tb\r\nContent-Length: 2\r\n") + "[]", 200,
         "default-fc-target-group", false},
        {"bytes that are not UTF-8, echoed",
         rawApiPost("listVolumes", "[\"pool-\xff\xfe\",\"x\",true]"), 404, "pool-\\\\xFF\\\\xFE",
         false},
        {"method name that is not UTF-8", rawApiPost("list%C0%AF", "[]"), 404, "list\\\\xC0\\\\xAF",
         false},
        {"control: a number for a text", rawControlPost("config", "{\"apiVersion\": 5}"), 400,
         "must be a text", false},
        {"control: over-long initiator",
         rawControlPost("initiators", "{\"initiators\": [\"iqn." + std::string(300, 'a') + "\"]}"),
         400, "\\\"initiators\\\" must be a list", false},
        {"control: unknown fault member",
         rawControlPost("faults", "{\"action\": \"fail\", \"mesage\": \"typo\"}"), 400,
         "unknown fault member", false},
        {"control: latency beyond the bound",
         rawControlPost("faults", "{\"action\": \"latency\", \"ms\": 99999999}"), 400,
         "from 0 to 600000", false},
        {"control: header breaking content type",
         rawControlPost("faults", "{\"action\": \"respond\", \"contentType\": \"a\\r\\nX: y\"}"),
         400, "without control characters", false},
    };
}

TEST(ArraySimHostileInputTest, EachHostileRequestGetsAPromptAccurateAnswer) {
    SimHarness sim;
    ASSERT_TRUE(sim.started()) << sim.startError();
    ASSERT_EQ(200, sim.call("createVolumeSnapshot",
                            "[{\"poolName\":\"pool-a\",\"projectName\":\"oracle\",\"name\":"
                            "\"ora-logs\",\"local\":\"true\"},\"" +
                                std::string(45, 'a') + "\",false]")
                       .status);
    for (const Hostile& hostile : hostileRequests()) {
        SCOPED_TRACE(hostile.what);
        const auto start = Clock::now();
        RawAnswer answer = sim.raw(hostile.request);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(hostile.status, answer.status) << answer.headers << "\n" << answer.body;
        EXPECT_TRUE(contains(answer.body, hostile.fragment)) << answer.body;
        EXPECT_EQ(hostile.closes, answer.closed);
        for (char c : answer.body) {
            ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "not plain ASCII: " << answer.body;
        }
        // Still serving.
        EXPECT_EQ(200, sim.call("listFCTargetGroups", "").status);
    }
}

TEST(ArraySimHostileInputTest, IdleConnectionsDoNotDelayOtherClients) {
    SimHarness sim;
    ASSERT_TRUE(sim.started()) << sim.startError();
    std::vector<int> idle;
    for (int i = 0; i < 16; ++i) {
        idle.push_back(plainConnection(sim.simulator().port()));
        ASSERT_GE(idle.back(), 0);
    }
    auto client = sim.newClient();
    const auto start = Clock::now();
    auto answer = client->Get("/control/counters");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    ASSERT_TRUE(answer);
    EXPECT_EQ(200, answer->status);
    for (int fd : idle) {
        close(fd);
    }
}

TEST(ArraySimHostileInputTest, ASecondSimulatorCannotTakeAPortInUse) {
    SimHarness sim;
    ASSERT_TRUE(sim.started()) << sim.startError();
    arraysim::SimulatorOptions options;
    options.seedText = sampleSeedText();
    options.certDirectory = certDirectory();
    options.port = sim.simulator().port();
    arraysim::ArraySimulator second(options);
    std::string error;
    EXPECT_FALSE(second.start(error));
    EXPECT_TRUE(contains(error, "cannot listen")) << error;
}

// The default certificate directory is the user's own, never a name in a shared directory
// that another user could create first.
TEST(ArraySimHostileInputTest, DefaultCertificateDirectoryIsUnderTheUsersOwnDirectories) {
    struct Case {
        const char* name;
        const char* stateHome;
        const char* home;
        const char* runtimeDir;
        std::string expected;
    };
    const std::string temp = "/tmp/arraysim-tls-" + std::to_string(geteuid());
    const Case cases[] = {
        {"state home first", "/s", "/h", "/r", "/s/arraysim/tls"},
        {"home's state directory", nullptr, "/h", "/r", "/h/.local/state/arraysim/tls"},
        {"relative state home ignored", "rel", "/h", nullptr, "/h/.local/state/arraysim/tls"},
        {"runtime directory without home", nullptr, nullptr, "/r", "/r/arraysim/tls"},
        {"temporary directory as a last resort", nullptr, "", nullptr, temp},
    };
    const char* names[] = {"XDG_STATE_HOME", "HOME", "XDG_RUNTIME_DIR", "TMPDIR"};
    std::vector<std::pair<std::string, const char*>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.emplace_back(name, value != nullptr ? strdup(value) : nullptr);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const char* values[] = {c.stateHome, c.home, c.runtimeDir, nullptr};
        for (size_t i = 0; i < std::size(names); ++i) {
            if (values[i] != nullptr) {
                setenv(names[i], values[i], 1);
            } else {
                unsetenv(names[i]);
            }
        }
        EXPECT_EQ(c.expected, arraysim::defaultCertDirectory());
    }
    for (auto& [name, value] : saved) {
        if (value != nullptr) {
            setenv(name.c_str(), value, 1);
            free(const_cast<char*>(value));
        } else {
            unsetenv(name.c_str());
        }
    }
}

TEST(ArraySimHostileInputTest, CertificateDirectoryMustBeTheUsersOwn) {
    namespace fs = std::filesystem;
    const fs::path base = fs::path(certDirectory()).parent_path() / "cert-dir-checks";
    fs::remove_all(base);
    fs::create_directories(base);
    struct Case {
        std::string name;
        std::function<void(const fs::path&)> make;
        std::string fragment;
    };
    std::vector<Case> cases = {
        {"group-writable",
         [](const fs::path& p) {
             fs::create_directory(p);
             chmod(p.c_str(), 0770);
         },
         "writable by its group or by others (mode 0770)"},
        {"world-writable",
         [](const fs::path& p) {
             fs::create_directory(p);
             chmod(p.c_str(), 0707);
         },
         "writable by its group or by others (mode 0707)"},
        {"symbolic link", [](const fs::path& p) { fs::create_directory_symlink("/tmp", p); },
         "is a symbolic link"},
        {"a file", [](const fs::path& p) { std::ofstream(p.string()) << "x"; },
         "is not a directory"},
    };
    if (geteuid() == 0) {
        cases.push_back({"another user's",
                         [](const fs::path& p) {
                             fs::create_directory(p);
                             chmod(p.c_str(), 0700);
                             EXPECT_EQ(0, chown(p.c_str(), 65534, 65534));
                         },
                         "belongs to user id 65534"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path directory = base / ("d-" + std::to_string(&c - cases.data()));
        c.make(directory);
        arraysim::SimulatorOptions options;
        options.seedText = sampleSeedText();
        options.certDirectory = directory.string();
        arraysim::ArraySimulator simulator(options);
        std::string error;
        EXPECT_FALSE(simulator.start(error));
        EXPECT_TRUE(contains(error, c.fragment)) << error;
    }
    const fs::path fresh = base / "fresh";
    arraysim::SimulatorOptions options;
    options.seedText = sampleSeedText();
    options.certDirectory = fresh.string();
    arraysim::ArraySimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.start(error)) << error;
    EXPECT_EQ(fs::perms::owner_all, fs::status(fresh).permissions());
    simulator.stop();
    fs::remove_all(base);
}

}  // namespace
}  // namespace arraysim_test
