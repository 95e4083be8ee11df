// SPDX-License-Identifier: Apache-2.0
// The settings seam and the TLS probe over real HTTPS on loopback: installed settings replace
// the environment, each array may trust its own CA file, and probeTls judges a certificate as
// the HTTP client's requests do.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CertificatePin.h"
#include "KYLibCurl.h"
#include "PlatformSettings.h"
#include "ScriptedHttpsServer.h"
#include "TlsProbe.h"
#include "TransportTestSupport.h"

using transporttest::CleanHttpEnvironment;
using transporttest::EvDebugRecorder;
using transporttest::ScopedEnv;

namespace {

const std::string kPath = "/zebi/api/v2/listSystemProperties";

// Installs settings for the length of a test and puts back what was there.
class Installed {
public:
    explicit Installed(kyplatform::PlatformSettings settings)
        : previous_(kyplatform::setPlatformSettings(std::move(settings))) {}
    ~Installed() { kyplatform::setPlatformSettings(previous_); }

private:
    std::optional<kyplatform::PlatformSettings> previous_;
};

// Whether a client set up now gets an answer from `server`; `why` is its reason when not.
bool clientReaches(const test::ScriptedHttpsServer& server, std::string& why) {
    KYLibCurl client;
    if (!client.KYLibCurlInit("application/json", false, false, nullptr)) {
        why = "no client";
        return false;
    }
    const std::string url = server.baseUrl() + kPath;
    const bool answered = client.KYLibCurlSendHttpReq(0, url.c_str(), nullptr, 0, false, nullptr) ||
                          client.GetHttpErrorCode() != 0;
    why = client.GetLastError();
    return answered;
}

class PlatformSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(first.ok()) << first.error();
        ASSERT_TRUE(second.ok()) << second.error();
        first.always(kPath, test::Reply(200, "[]"));
        second.always(kPath, test::Reply(200, "[]"));
        directory = ::testing::TempDir() + "platform-settings-XXXXXX";
        ASSERT_NE(mkdtemp(directory.data()), nullptr);
    }
    void TearDown() override {
        unlink((directory + "/kysnap.pins").c_str());
        unlink((directory + "/fifo").c_str());
        rmdir(directory.c_str());
    }

    // A pins file in the test's directory pinning `pin` for `server`.
    std::string pinsFile(const test::ScriptedHttpsServer& server, const std::string& pin) {
        const std::string path = directory + "/kysnap.pins";
        std::ofstream(path) << server.host() << " " << pin << "\n";
        chmod(path.c_str(), 0644);
        return path;
    }

    CleanHttpEnvironment environment;
    EvDebugRecorder evDebug;
    // Each server has a CA of its own.
    test::ScriptedHttpsServer first;
    test::ScriptedHttpsServer second;
    std::string directory;
};

TEST_F(PlatformSettingsTest, InstalledSettingsReplaceTheEnvironmentUntilTakenBack) {
    ScopedEnv ca("KYSNAP_TLS_CA_FILE", second.caFile().c_str());
    std::string why;
    EXPECT_FALSE(clientReaches(first, why));

    kyplatform::PlatformSettings settings;
    settings.caFile = first.caFile();
    EXPECT_FALSE(kyplatform::setPlatformSettings(settings).has_value());
    EXPECT_TRUE(clientReaches(first, why)) << why;
    EXPECT_EQ(kyplatform::platformSettings().caFile, first.caFile());

    const std::optional<kyplatform::PlatformSettings> previous =
        kyplatform::setPlatformSettings(std::nullopt);
    ASSERT_TRUE(previous.has_value());
    EXPECT_EQ(previous->caFile, first.caFile());
    EXPECT_FALSE(clientReaches(first, why));
    EXPECT_EQ(kyplatform::platformSettings().caFile, second.caFile());
}

// Each array trusts its own CA file; an array without one trusts the general CA file.
TEST_F(PlatformSettingsTest, EachArrayTrustsItsOwnCaFile) {
    struct Case {
        const char* what;
        std::string caFile;
        std::vector<kyplatform::ArraySettings> arrays;
        bool firstReached;
        bool secondReached;
    };
    const Case cases[] = {
        {"each its own",
         "",
         {{first.host(), first.caFile()}, {second.host(), second.caFile()}},
         true,
         true},
        {"each the other's",
         "",
         {{first.host(), second.caFile()}, {second.host(), first.caFile()}},
         false,
         false},
        {"one its own, the other the general one",
         second.caFile(),
         {{first.host(), first.caFile()}},
         true,
         true},
        {"its own in place of the general one",
         first.caFile(),
         {{first.host(), second.caFile()}},
         false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kyplatform::PlatformSettings settings;
        settings.caFile = c.caFile;
        settings.arrays = c.arrays;
        const Installed installed(settings);
        std::string why;
        EXPECT_EQ(clientReaches(first, why), c.firstReached) << why;
        EXPECT_EQ(clientReaches(second, why), c.secondReached) << why;
        if (!c.secondReached) {
            EXPECT_NE(why.find("SSL certificate problem"), std::string::npos) << why;
        }
    }
}

TEST_F(PlatformSettingsTest, ATimeOutNamesTheSettingThatSetsIt) {
    first.always(kPath, test::Reply(200, "[]").after(std::chrono::milliseconds(2500)));
    kyplatform::PlatformSettings settings;
    settings.caFile = first.caFile();
    settings.totalTimeout = {1, "timeout in [host] of kysnap.conf"};
    const Installed installed(settings);
    std::string why;
    EXPECT_FALSE(clientReaches(first, why));
    EXPECT_NE(why.find("no complete answer within 1 seconds (timeout in [host] of kysnap.conf)"),
              std::string::npos)
        << why;
}

TEST_F(PlatformSettingsTest, InstalledCheckingOffAndOutOfRangeTimeOutsAreWarnedOfInEveryClient) {
    kyplatform::PlatformSettings settings;
    settings.tlsChecks = kyplatform::TlsChecks::Off;
    settings.tlsChecksOffBy = "insecure = yes";
    settings.connectTimeout = {0, "connect-timeout"};
    const Installed installed(settings);
    std::string why;
    EXPECT_TRUE(clientReaches(first, why)) << why;
    EXPECT_TRUE(clientReaches(second, why)) << why;
    EXPECT_EQ(evDebug.count("warning: insecure = yes: TLS certificate and host name verification "
                            "is OFF"),
              2)
        << evDebug.text();
    EXPECT_EQ(evDebug.count("a time-out of 0 seconds (connect-timeout) is not between 1 and 86400; "
                            "using the default of 30 seconds"),
              2)
        << evDebug.text();
}

TEST_F(PlatformSettingsTest, EnvironmentSettingsSayWhichLimitsWereGiven) {
    ScopedEnv total("KYSNAP_HTTP_TIMEOUT", "45");
    ScopedEnv connect("KYSNAP_HTTP_CONNECT_TIMEOUT", "soon");
    const kyplatform::PlatformSettings settings = kyplatform::environmentSettings();
    EXPECT_EQ(settings.totalTimeout.seconds, 45);
    EXPECT_EQ(settings.totalTimeout.origin, kyplatform::TimeLimit::Origin::Given);
    // Given, though unusable: the user chose it, and hears why it is not used.
    EXPECT_EQ(settings.connectTimeout.seconds, kyplatform::kDefaultConnectTimeoutSeconds);
    EXPECT_EQ(settings.connectTimeout.origin, kyplatform::TimeLimit::Origin::Given);
    ASSERT_EQ(settings.warnings.size(), 1u);
    EXPECT_NE(settings.warnings[0].find("KYSNAP_HTTP_CONNECT_TIMEOUT=\"soon\""), std::string::npos);
}

// The probe's verdict is the client's: whenever it accepts an array the client's request goes
// through, and whenever it does not the client's request fails too, for the same reason.
TEST_F(PlatformSettingsTest, TheProbeJudgesACertificateAsTheClientDoes) {
    using kyplatform::TlsJudgement;
    using kyplatform::TlsVerdict;
    const std::string firstPin = testhost::pinOfCertificateFile(first.certFile());
    const std::string wrongPin = "sha256//" + std::string(43, 'A') + "=";
    ASSERT_FALSE(firstPin.empty());
    const std::string fifo = directory + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* what;
        std::function<void(kyplatform::PlatformSettings&)> arrange;
        TlsJudgement judgement;
        TlsVerdict verdict;
        std::string why;  // a part of the probe's reason, when it does not accept
        bool pinned;
    };
    const std::vector<Case> cases = {
        {"its CA trusted", [&](auto& s) { s.caFile = first.caFile(); }, TlsJudgement::AsConfigured,
         TlsVerdict::Accepted, "", false},
        {"another CA trusted", [&](auto& s) { s.caFile = second.caFile(); },
         TlsJudgement::AsConfigured, TlsVerdict::NotVerified, "SSL certificate problem", false},
        {"its CA trusted for another array only",
         [&](auto& s) {
             s.arrays = {{second.host(), first.caFile()}};
         },
         TlsJudgement::AsConfigured, TlsVerdict::NotVerified, "SSL certificate problem", false},
        {"its key pinned, its CA not trusted",
         [&](auto& s) { s.pinsFile = pinsFile(first, firstPin); }, TlsJudgement::AsConfigured,
         TlsVerdict::Accepted, "", true},
        {"another key pinned, its CA trusted",
         [&](auto& s) {
             s.caFile = first.caFile();
             s.pinsFile = pinsFile(first, wrongPin);
         },
         TlsJudgement::AsConfigured, TlsVerdict::PinMismatch,
         "does not match its pin in " + directory + "/kysnap.pins: expected " + wrongPin +
             ", presented " + firstPin + "; nothing was sent",
         true},
        {"its key pinned, judged by chain and name only",
         [&](auto& s) { s.pinsFile = pinsFile(first, firstPin); }, TlsJudgement::ChainAndName,
         TlsVerdict::NotVerified, "SSL certificate problem", false},
        {"checks off", [&](auto& s) { s.tlsChecks = kyplatform::TlsChecks::Off; },
         TlsJudgement::AsConfigured, TlsVerdict::Accepted, "", false},
        {"checks off, judged by chain and name only",
         [&](auto& s) { s.tlsChecks = kyplatform::TlsChecks::Off; }, TlsJudgement::ChainAndName,
         TlsVerdict::NotVerified, "SSL certificate problem", false},
        {"its CA file a FIFO", [&](auto& s) { s.caFile = fifo; }, TlsJudgement::AsConfigured,
         TlsVerdict::Unusable, "the CA file " + fifo + " is not a regular file (it is a FIFO)",
         false},
        {"its own CA file holding no certificate",
         [&](auto& s) {
             s.arrays = {{first.host(), "/etc/hostname"}};
         },
         TlsJudgement::AsConfigured, TlsVerdict::Unusable, "/etc/hostname", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kyplatform::PlatformSettings settings;
        c.arrange(settings);
        const Installed installed(settings);
        const kyplatform::TlsProbeResult probed =
            kyplatform::probeTls(first.host(), c.judgement, 5);
        EXPECT_EQ(probed.verdict, c.verdict) << probed.why;
        EXPECT_EQ(probed.pinned.has_value(), c.pinned);
        if (c.why.empty()) {
            EXPECT_EQ(probed.why, "");
        } else {
            EXPECT_NE(probed.why.find(c.why), std::string::npos) << probed.why;
        }
        if (c.verdict != TlsVerdict::Unusable) {
            // What was presented is read whatever the verdict.
            ASSERT_FALSE(probed.chain.empty());
            EXPECT_EQ(probed.chain.front().facts.pin, firstPin);
            EXPECT_NE(probed.chain.front().facts.subject.find("127.0.0.1"), std::string::npos)
                << probed.chain.front().facts.subject;
        }
        if (c.judgement == TlsJudgement::AsConfigured) {
            std::string why;
            EXPECT_EQ(clientReaches(first, why), c.verdict == TlsVerdict::Accepted) << why;
            if (c.verdict != TlsVerdict::Accepted && c.verdict != TlsVerdict::Unusable) {
                EXPECT_NE(why.find(c.why), std::string::npos) << why;
            }
        }
        unlink((directory + "/kysnap.pins").c_str());
    }
    // The probe sends nothing: every request the server saw came from the clients.
    for (const test::RecordedRequest& request : first.requests()) {
        EXPECT_EQ(request.path, kPath);
    }
    EXPECT_EQ(first.requestCount(), 3u);
}

TEST_F(PlatformSettingsTest, NoSessionWithAPortWhereNothingListens) {
    kyplatform::PlatformSettings settings;
    settings.caFile = first.caFile();
    const Installed installed(settings);
    const kyplatform::TlsProbeResult probed =
        kyplatform::probeTls("127.0.0.1:1", kyplatform::TlsJudgement::AsConfigured, 5);
    EXPECT_EQ(probed.verdict, kyplatform::TlsVerdict::NoSession);
    EXPECT_FALSE(probed.why.empty());
    EXPECT_TRUE(probed.chain.empty());
}

TEST_F(PlatformSettingsTest, AnArrayIsFoundByItsAddressHoweverWritten) {
    kyplatform::PlatformSettings settings;
    settings.caFile = "/general.pem";
    settings.arrays = {{"Array7.Example", "/array7.pem"}, {"[fd00::5]:8443", "/fd00.pem"}};
    EXPECT_EQ(kyplatform::caFileFor(settings, "array7.example:443"), "/array7.pem");
    EXPECT_EQ(kyplatform::caFileFor(settings, "[FD00:0::5]:8443"), "/fd00.pem");
    EXPECT_EQ(kyplatform::caFileFor(settings, "[fd00::5]"), "/general.pem");
    EXPECT_EQ(kyplatform::caFileFor(settings, "not an address"), "/general.pem");
}

}  // namespace
