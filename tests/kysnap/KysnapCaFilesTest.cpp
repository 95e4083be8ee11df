// SPDX-License-Identifier: Apache-2.0
// Two arrays whose certificates come from different CAs, each trusted through its own ca-file:
// kysnap check, the host view and the plug-in reach both, and neither CA vouches for the other
// array.
#include <fstream>

#include "KysnapSite.h"

namespace kysnap_test {
namespace {

// A LUN of the second array: the sample seed with its LUN ids and FC targets changed, so that
// the host tells the arrays' devices apart.
inline const char* const kOtherData = "/dev/sim/600144F0C8A7B3D1E45F4A2B00910001";

class KysnapCaFiles : public KysnapSite {
protected:
    void SetUp() override {
        KysnapSite::SetUp();
        std::string seed =
            readFile(std::string(KYSNAP_SOURCE_DIR) + "/tools/arraysim/seed/sample.json");
        replaceAll(seed, "600144F0C8A7B3D1E45F4A2B000", "600144F0C8A7B3D1E45F4A2B009");
        replaceAll(seed, "01B32A1B2C3", "01B32A1B2C9");
        replaceAll(seed, "\"password\": \"tegile\"", "\"password\": \"" + password + "\"");
        arraysim::SimulatorOptions options;
        options.seedText = seed;
        // A directory of its own makes a CA of its own.
        options.certDirectory = std::string(KYSNAP_BINARY_DIR) + "/arraysim-tls-second-ca";
        other = std::make_unique<arraysim::ArraySimulator>(options);
        std::string error;
        ASSERT_TRUE(other->start(error)) << error;
        ASSERT_NE(readFile(other->caFile()), readFile(simulator->caFile()));
        // Only the configuration says which CA to trust.
        runner->environment["KYSNAP_TLS_CA_FILE"] = "";
    }
    void TearDown() override {
        other.reset();
        KysnapSite::TearDown();
    }

    static void replaceAll(std::string& text, const std::string& from, const std::string& to) {
        for (size_t at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size())) {
            text.replace(at, from.size(), to);
        }
    }

    // Both arrays, `arr` trusting `arrCa` and `other` trusting `otherCa`.
    void configure(const std::string& arrCa, const std::string& otherCa) {
        const std::string array =
            "\nuser = admin\npassword-file = " + path("array.password") + "\nca-file = ";
        writeConfig("",
                    "[host]\nbackend = sim\nfc-initiators = 21:00:00:24:ff:3d:2a:10\n"
                    "retry-count = 1\nretry-interval = 0\n"
                    "[array arr]\naddress = 127.0.0.1:" +
                        std::to_string(simulator->port()) + array + arrCa +
                        "\n[array other]\naddress = 127.0.0.1:" + std::to_string(other->port()) +
                        array + otherCa + "\n");
    }

    std::unique_ptr<arraysim::ArraySimulator> other;
};

TEST_F(KysnapCaFiles, EachArrayIsTrustedThroughItsOwnCaFile) {
    configure(simulator->caFile(), other->caFile());
    const CliRun check = expectRun({"check"});
    for (const char* array : {"arr", "other"}) {
        const std::string subject = std::string("array ") + array + ": ";
        EXPECT_NE(check.out.find("ok    " + subject + "certificate verifies for 127.0.0.1"),
                  std::string::npos)
            << check.out << check.err;
        EXPECT_NE(check.out.find("ok    " + subject + "credentials of user admin accepted"),
                  std::string::npos)
            << check.out << check.err;
    }
    // The host view sees the LUNs of both, and the plug-in prepares one of each in one batch.
    const CliRun prepared = expectRun({"prepare", kOraData, kOtherData});
    for (const char* array : {"arr", "other"}) {
        EXPECT_NE(prepared.out.find(std::string("prepared (1) on array ") + array),
                  std::string::npos)
            << prepared.out;
    }
    const CliRun vpd = expectRun({"vpd", kOtherData});
    EXPECT_NE(vpd.out.find("array other"), std::string::npos) << vpd.out;
}

TEST_F(KysnapCaFiles, NeitherCaFileVouchesForTheOtherArray) {
    configure(other->caFile(), simulator->caFile());
    const CliRun check = runner->run({"check"}, 60);
    EXPECT_EQ(check.status, 1) << check.out << check.err;
    for (const char* array : {"arr", "other"}) {
        EXPECT_NE(check.out.find(std::string("FAIL  array ") + array +
                                 ": its certificate does not verify: SSL certificate problem"),
                  std::string::npos)
            << check.out << check.err;
    }
    EXPECT_EQ(check.out.find("credentials of user admin accepted"), std::string::npos) << check.out;
    const CliRun vpd = runner->run({"vpd", kOraData}, 30);
    EXPECT_EQ(vpd.status, 1) << vpd.out << vpd.err;
}

}  // namespace
}  // namespace kysnap_test
