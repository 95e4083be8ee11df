// SPDX-License-Identifier: Apache-2.0
// Clients that hold connections without finishing a request: idle ones (connected without a
// TLS handshake, or kept alive after an answer) and slowloris ones that trickle the head of a
// request a byte at a time. However many there are, another client is answered at once; and
// a trickling client is cut when its request's deadline passes, however steadily it sends.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "SimHarness.h"

namespace arraysim_test {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Raises the soft limit on open descriptors to `wanted`, as far as the hard limit allows.
bool raiseDescriptorLimit(rlim_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return false;
    }
    if (limit.rlim_cur >= wanted) {
        return true;
    }
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) {
        return false;
    }
    limit.rlim_cur = wanted;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::unique_ptr<arraysim::ArraySimulator> startSimulator(int readTimeoutSeconds,
                                                         int keepAliveSeconds) {
    arraysim::SimulatorOptions options;
    options.seedText = sampleSeedText();
    options.certDirectory = certDirectory();
    options.readTimeoutSeconds = readTimeoutSeconds;
    options.keepAliveSeconds = keepAliveSeconds;
    auto simulator = std::make_unique<arraysim::ArraySimulator>(options);
    std::string error;
    EXPECT_TRUE(simulator->start(error)) << error;
    return simulator;
}

const std::string kListing = rawApiPost("listFCTargetGroups", "[]");

// Sends the bytes of `head` to every connection in turn, one byte each per round, a round
// every `interval`, until stopped.
class Trickle {
public:
    Trickle(std::vector<std::unique_ptr<TlsConnection>>& connections, std::string head,
            std::chrono::milliseconds interval)
        : thread_([&connections, head, interval, this] {
              for (size_t at = 0; !stop_; at = (at + 1) % head.size()) {
                  for (auto& connection : connections) {
                      connection->send(head.substr(at, 1));
                  }
                  std::this_thread::sleep_for(interval);
              }
          }) {}
    ~Trickle() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Latencies {
    std::vector<double> ms;
    double median() {
        std::sort(ms.begin(), ms.end());
        return ms[ms.size() / 2];
    }
    double slowest() { return *std::max_element(ms.begin(), ms.end()); }
};

TEST(ArraySimSlowClientTest, RequestIsAnsweredWithin100msBesideIdleAndTricklingConnections) {
    constexpr int kPlainIdle = 1000;
    constexpr int kKeptAlive = 100;
    constexpr int kTrickling = 100;
    constexpr int kMeasured = 10;
    // Client and simulator side of every connection, in this one process.
    if (!raiseDescriptorLimit(4096)) {
        GTEST_SKIP() << "needs 4096 open descriptors (RLIMIT_NOFILE) and cannot raise the limit";
    }
    // Deadlines long enough that no connection is cut while the test runs.
    auto simulator = startSimulator(20, 60);
    ASSERT_TRUE(simulator);
    const int port = simulator->port();
    const std::string ca = simulator->caFile();

    std::vector<int> plain;
    for (int i = 0; i < kPlainIdle; ++i) {
        plain.push_back(plainConnection(port));
        ASSERT_GE(plain.back(), 0) << "connection " << i;
    }
    std::vector<std::unique_ptr<TlsConnection>> keptAlive;
    for (int i = 0; i < kKeptAlive; ++i) {
        keptAlive.push_back(std::make_unique<TlsConnection>(port, ca));
        ASSERT_TRUE(keptAlive.back()->ready());
        ASSERT_TRUE(keptAlive.back()->send(kListing));
        ASSERT_EQ(200, keptAlive.back()->readAnswer(3000, false).status);
    }
    std::vector<std::unique_ptr<TlsConnection>> trickling;
    for (int i = 0; i < kTrickling; ++i) {
        trickling.push_back(std::make_unique<TlsConnection>(port, ca));
        ASSERT_TRUE(trickling.back()->ready());
    }
    // A head of 300 bytes at 20 bytes a second: it would take 15 s.
    const std::string head =
        "POST /zebi/api/v2/listFCTargetGroups HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
        std::string(230, 'X') + "\r\n\r\n";
    Trickle trickle(trickling, head, std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    Latencies fresh;
    Latencies reused;
    TlsConnection client(port, ca);
    ASSERT_TRUE(client.ready());
    for (int i = 0; i < kMeasured; ++i) {
        // Connect, TLS handshake, request, whole answer.
        auto start = Clock::now();
        TlsConnection connection(port, ca);
        ASSERT_TRUE(connection.ready());
        ASSERT_TRUE(connection.send(kListing));
        EXPECT_EQ(200, connection.readAnswer(3000, false).status);
        fresh.ms.push_back(msSince(start));
        // Request and whole answer on a connection kept alive.
        start = Clock::now();
        ASSERT_TRUE(client.send(kListing));
        EXPECT_EQ(200, client.readAnswer(3000, false).status);
        reused.ms.push_back(msSince(start));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf(
        "beside %d idle TCP, %d kept-alive TLS and %d trickling TLS connections, %d requests "
        "each:\n  new connection (connect, handshake, request, answer): median %.2f ms, slowest "
        "%.2f ms\n  kept-alive connection (request, answer): median %.2f ms, slowest %.2f ms\n",
        kPlainIdle, kKeptAlive, kTrickling, kMeasured, fresh.median(), fresh.slowest(),
        reused.median(), reused.slowest());
    EXPECT_LT(fresh.slowest(), 100.0);
    EXPECT_LT(reused.slowest(), 100.0);
    // The idle and trickling connections were all accepted, none left waiting in the backlog.
    const jsonxx::Object counters = simulator->counters();
    EXPECT_GE(numberOf(counters, "connections", 0),
              kPlainIdle + kKeptAlive + kTrickling + kMeasured + 1);
    for (int fd : plain) {
        close(fd);
    }
}

TEST(ArraySimSlowClientTest, TricklingClientIsCutAtTheRequestDeadlineWhateverItSends) {
    auto simulator = startSimulator(1, 1);
    ASSERT_TRUE(simulator);
    const int port = simulator->port();
    const std::string ca = simulator->caFile();

    // Within the deadline, a request that trickles in is answered.
    TlsConnection patient(port, ca);
    ASSERT_TRUE(patient.ready());
    for (char c : kListing) {
        ASSERT_TRUE(patient.send(std::string(1, c)));
        std::this_thread::sleep_for(std::chrono::microseconds(1500));
    }
    EXPECT_EQ(200, patient.readAnswer(3000, false).status);

    // A byte every 100 ms, never the end of the head: cut after the 1 s deadline, not kept
    // alive by each byte.
    TlsConnection slow(port, ca);
    ASSERT_TRUE(slow.ready());
    const int idle = plainConnection(port);  // and one that never starts its handshake
    ASSERT_GE(idle, 0);
    const auto start = Clock::now();
    double slowCut = -1;
    double idleCut = -1;
    for (int i = 0; i < 40 && (slowCut < 0 || idleCut < 0); ++i) {
        if (slowCut < 0) {
            slow.send("X");
            if (slow.closedBySimulator(100)) {
                slowCut = msSince(start);
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        char byte;
        if (idleCut < 0 && recv(idle, &byte, 1, MSG_DONTWAIT) == 0) {
            idleCut = msSince(start);
        }
    }
    std::printf("trickling client cut after %.0f ms, idle TCP connection after %.0f ms\n", slowCut,
                idleCut);
    EXPECT_GT(slowCut, 900);
    EXPECT_LT(slowCut, 2000);
    EXPECT_GT(idleCut, 900);
    EXPECT_LT(idleCut, 2000);
    close(idle);
}

}  // namespace
}  // namespace arraysim_test
