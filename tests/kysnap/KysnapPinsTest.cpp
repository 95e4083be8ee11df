// SPDX-License-Identifier: Apache-2.0
// Arrays that present their own certificate: kysnap check, kysnap trust and the plug-in
// against simulated arrays whose self-made certificate names another host (one of them
// expired), and an array on the IPv6 loopback, with and without pins.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "ArrayDirectory.h"
#include "CertificatePin.h"
#include "KysnapSite.h"
#include "TlsPins.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;

using testhost::pinOfCertificateFile;

class KysnapPins : public KysnapSite {
protected:
    // A simulated array of the sample seed at `address`, presenting a self-signed certificate
    // for `names` (none: one issued by the test CA for its address).
    std::unique_ptr<arraysim::ArraySimulator> array(const std::string& address,
                                                    const Strings& names, bool expired) {
        arraysim::SimulatorOptions options;
        options.seedText =
            readFile(std::string(KYSNAP_SOURCE_DIR) + "/tools/arraysim/seed/sample.json");
        options.seedText.replace(options.seedText.find("\"password\": \"tegile\""), 20,
                                 "\"password\": \"" + password + "\"");
        options.address = address;
        options.selfSignedNames = names;
        options.expiredCertificate = expired;
        options.certDirectory = std::string(KYSNAP_BINARY_DIR) + "/arraysim-tls-pins";
        auto simulator = std::make_unique<arraysim::ArraySimulator>(options);
        std::string error;
        EXPECT_TRUE(simulator->start(error)) << error;
        return simulator;
    }
    // The configuration of one array `arr` at `address`; the host view of the sim backend
    // trusts `hostViewCa` (none: only a pin can let it in).
    void configure(const std::string& address, const std::string& hostViewCa) {
        writeConfig("",
                    "[host]\nbackend = sim\nfc-initiators = 21:00:00:24:ff:3d:2a:10\n"
                    "retry-count = 1\nretry-interval = 0\n[array arr]\naddress = " +
                        address + "\nuser = admin\npassword-file = " + path("array.password") +
                        "\n" + (hostViewCa.empty() ? "" : "ca-file = " + hostViewCa + "\n"));
    }
};

TEST_F(KysnapPins, AnArrayWithItsOwnCertificateIsAcceptedByItsPinAndOnlyByIt) {
    const auto other = array("127.0.0.1", {"array7.example"}, false);
    const auto expired = array("127.0.0.1", {"array7.example"}, true);
    const auto loopback6 = array("::1", {}, false);
    ASSERT_GT(other->port(), 0);
    ASSERT_GT(expired->port(), 0);
    ASSERT_GT(loopback6->port(), 0);
    const std::string otherAddress = "127.0.0.1:" + std::to_string(other->port());
    const std::string otherPin = pinOfCertificateFile(other->caFile());
    const std::string expiredPin = pinOfCertificateFile(expired->caFile());
    const std::string pin6 =
        pinOfCertificateFile(std::string(KYSNAP_BINARY_DIR) + "/arraysim-tls-pins/server.pem");
    const std::string wrongPin = "sha256//" + std::string(43, 'A') + "=";
    for (const std::string& pin : {otherPin, expiredPin, pin6}) {
        ASSERT_FALSE(pin.empty()) << "a certificate file of the simulators holds no certificate";
    }
    ASSERT_NE(otherPin, expiredPin);

    struct Case {
        const char* what;
        const arraysim::ArraySimulator* at;
        std::string address;  // as configured, when not the array's 127.0.0.1:port
        std::string pins;     // the pins file beside the configuration ("" for none)
        Strings arguments;
        int exit;
        Strings says;
        std::string never = "";
        std::string written = "";  // a line the pins file holds afterwards
        bool hostViewCa = true;    // the sim backend's host view is given the array's CA file
    };
    const std::vector<Case> cases = {
        {"certificate naming another host, without a pin",
         other.get(),
         "",
         "",
         {"check"},
         1,
         {"FAIL  array arr: its certificate does not verify: SSL: no alternative certificate "
          "subject name matches target host name '127.0.0.1'; the certificate names "
          "DNS:array7.example, not 127.0.0.1: set address in [array arr]",
          "kysnap trust arr", "array arr: names DNS:array7.example",
          "array arr: key pin " + otherPin, "array arr: subject O = KySnap, CN = array7.example"},
         "credentials of user admin accepted"},
        {"trust writes the pin the array presents",
         other.get(),
         "",
         "",
         {"trust", "arr", "--yes"},
         0,
         {"  names DNS:array7.example\n", "  key pin " + otherPin + "\n",
          "pinned " + otherPin + " for array arr (" + otherAddress + ") in " + path("kysnap.pins")},
         "",
         "\n" + otherAddress + " " + otherPin + "\n"},
        {"trust --list names the array each pin belongs to",
         other.get(),
         "",
         "[fd00::10] " + wrongPin + "\n" + otherAddress + " " + otherPin + "\n",
         {"trust", "--list"},
         0,
         {"  [fd00::10] " + wrongPin + " (no configured array)\n",
          "  " + otherAddress + " " + otherPin + " (array arr)\n"}},
        {"trust --remove drops the array's pins and keeps the others",
         other.get(),
         "",
         "[fd00::10] " + wrongPin + "\n" + otherAddress + " " + otherPin + "\n",
         {"trust", "--remove", "arr"},
         0,
         {"removed the pin of array arr (" + otherAddress + ")"},
         "",
         "\n[fd00::10] " + wrongPin + "\n"},
        {"trust of an array pinned to another key refuses without --replace, even with --yes",
         other.get(),
         "",
         otherAddress + " " + wrongPin + "\n",
         {"trust", "arr", "--yes"},
         1,
         {"kysnap: array arr (" + otherAddress + ") is pinned to " + wrongPin + " in " +
              path("kysnap.pins") + ", but it now presents " + otherPin +
              "; nothing was changed: give --replace to pin the new key in place of the old one",
          "  key pin " + otherPin + "\n"},
         "pinned " + otherPin,
         otherAddress + " " + wrongPin + "\n"},
        {"trust --replace of an array pinned to another key shows both pins and replaces it",
         other.get(),
         "",
         otherAddress + " " + wrongPin + "\n",
         {"trust", "arr", "--yes", "--replace"},
         0,
         {"replacing the pin " + wrongPin + " of " + otherAddress + " in " + path("kysnap.pins") +
              " with " + otherPin,
          "pinned " + otherPin + " for array arr"},
         "",
         "\n" + otherAddress + " " + otherPin + "\n"},
        {"certificate naming another host, with its pin",
         other.get(),
         "",
         otherAddress + " " + otherPin + "\n",
         {"check"},
         0,
         {"ok    array arr: its key matches its pin in " + path("kysnap.pins") +
              " (line 1): " + otherPin,
          "ok    array arr: credentials of user admin accepted"}},
        {"a wrong pin is refused naming both pins",
         other.get(),
         "",
         "# renewed\n" + otherAddress + " " + wrongPin + "\n",
         {"check"},
         1,
         {"FAIL  array arr: the public key of " + otherAddress + " does not match its pin in " +
          path("kysnap.pins") + ": expected " + wrongPin + ", presented " + otherPin +
          "; nothing was sent"},
         "credentials of user admin accepted"},
        {"a pin for another array does not apply",
         other.get(),
         "",
         "127.0.0.1:" + std::to_string(other->port() == 65535 ? 1 : other->port() + 1) + " " +
             otherPin + "\n",
         {"check"},
         1,
         {"FAIL  array arr: its certificate does not verify: SSL: no alternative certificate "
          "subject name matches target host name '127.0.0.1'",
          "array arr: key pin " + otherPin}},
        {"an expired pinned certificate is accepted with a warning",
         expired.get(),
         "",
         "127.0.0.1:" + std::to_string(expired->port()) + " " + wrongPin + " " + expiredPin + "\n",
         {"check"},
         0,
         {"warn  array arr: its pinned certificate expired on ",
          "warning: the pinned certificate of 127.0.0.1:" + std::to_string(expired->port()) +
              " expired on ",
          "ok    array arr: credentials of user admin accepted"}},
        {"a pinned array is seen by the sim backend by its pin alone, with no CA file",
         other.get(),
         "",
         otherAddress + " " + otherPin + "\n",
         {"prepare", kOraData},
         0,
         {"prepared (1) on array arr"},
         "",
         "",
         false},
        {"a key without a pin is refused by the sim backend's host view too",
         other.get(),
         "",
         otherAddress + " " + wrongPin + "\n",
         {"devices"},
         1,
         {"the array simulator at " + otherAddress + " presented a key none of its pins names"},
         "",
         "",
         false},
        {"the IPv6 loopback end to end, its address written another way in the pins",
         loopback6.get(),
         "[::1]:" + std::to_string(loopback6->port()),
         "[0:0::1]:" + std::to_string(loopback6->port()) + " " + pin6 + "\n",
         {"prepare", kOraData},
         0,
         {"prepared (1) on array arr"}},
    };
    const auto environment = runner->environment;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        configure(c.address.empty() ? "127.0.0.1:" + std::to_string(c.at->port()) : c.address,
                  c.hostViewCa ? c.at->caFile() : "");
        unlink(path("kysnap.pins").c_str());
        unlink(path("catalog.json").c_str());
        if (!c.pins.empty()) {
            std::ofstream(path("kysnap.pins")) << c.pins;
        }
        // The array's ca-file is trusted, but its certificate names another host: only a pin
        // can let the plug-in in.
        runner->environment["KYSNAP_TLS_CA_FILE"] = "";
        const CliRun run = runner->run(c.arguments, 30);
        EXPECT_EQ(run.status, c.exit) << run.out << run.err;
        for (const std::string& text : c.says) {
            EXPECT_NE((run.out + run.err).find(text), std::string::npos) << text << "\n---\n"
                                                                         << run.out << run.err;
        }
        if (!c.never.empty()) {
            EXPECT_EQ((run.out + run.err).find(c.never), std::string::npos) << run.out << run.err;
        }
        EXPECT_EQ((run.out + run.err).find(kPassword), std::string::npos);
        if (!c.written.empty()) {
            // Pins are no secret: anybody may read them, only their owner write them.
            struct stat info {};
            EXPECT_EQ(stat(path("kysnap.pins").c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0644u);
            EXPECT_NE(readFile(path("kysnap.pins")).find(c.written), std::string::npos)
                << readFile(path("kysnap.pins"));
        }
        runner->environment = environment;
    }
}

// Addresses as admins write them: the host and port kysnap connects to, and the form a pin's
// address is compared in (one IPv6 address however it is written).
TEST(KysnapAddresses, HostPortAndPinKeyOfEachFormOfAddress) {
    struct Case {
        const char* address;
        const char* host;
        int port;
        const char* pinKey;
    };
    const Case cases[] = {
        {"10.0.0.5", "10.0.0.5", 443, "10.0.0.5:443"},
        {"Array7.Example:8443", "Array7.Example", 8443, "array7.example:8443"},
        {"[fd00::5]", "fd00::5", 443, "[fd00::5]:443"},
        {"[fd00::5]:8443", "fd00::5", 8443, "[fd00::5]:8443"},
        {"[FD00:0:0::5]:443", "FD00:0:0::5", 443, "[fd00::5]:443"},
        {"[::ffff:10.0.0.5]", "::ffff:10.0.0.5", 443, "[::ffff:10.0.0.5]:443"},
        {"fd00::5", "fd00:", 5, ""},  // refused by the configuration; no pin applies
        {"[fd00::5", "fd00::5", 443, ""},
        {"host:0", "host", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(kysnap::addressHost(c.address), c.host);
        EXPECT_EQ(kysnap::addressPort(c.address), c.port);
        EXPECT_EQ(kyplatform::addressKey(c.address), c.pinKey);
    }
}

}  // namespace
}  // namespace kysnap_test
