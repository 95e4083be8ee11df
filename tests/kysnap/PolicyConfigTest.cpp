// SPDX-License-Identifier: Apache-2.0
// [policy NAME] sections are read as strictly as the rest of the configuration: a policy that
// is read is exactly what was written, and anything else is refused with its line.
#include <gtest/gtest.h>

#include "HostConfig.h"

namespace kysnap_test {
namespace {

const std::string kHost = "[host]\nbackend = sim\n";  // lines 1 and 2

TEST(KysnapPolicyConfig, APolicyIsReadAsWritten) {
    kysnap::HostConfig config;
    std::string error;
    ASSERT_TRUE(
        kysnap::parseHostConfig(kHost + "[policy oradb]\n"
                                        "devices = /dev/sim/A  nfs:10.0.0.5:/export/x\t/dev/sim/B\n"
                                        "hourly = 24\ndaily = 7\nweekly = 4\nmonthly = 12\n"
                                        "yearly = 2\nkeep-last = 3\nkeep-within = 36h\n"
                                        "[policy logs]  # a comment\n"
                                        "devices = /dev/sim/C\nkeep-within = 90m\n",
                                "kysnap.conf", config, error))
        << error;
    ASSERT_EQ(config.policies.size(), 2u);
    const kysnap::Policy* db = config.findPolicy("oradb");
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->devices,
              (std::vector<std::string>{"/dev/sim/A", "nfs:10.0.0.5:/export/x", "/dev/sim/B"}));
    EXPECT_EQ(db->hourly, 24);
    EXPECT_EQ(db->daily, 7);
    EXPECT_EQ(db->weekly, 4);
    EXPECT_EQ(db->monthly, 12);
    EXPECT_EQ(db->yearly, 2);
    EXPECT_EQ(db->keepLast, 3);
    EXPECT_EQ(db->keepWithinSeconds, 36 * 3600);
    EXPECT_EQ(db->rulesText(),
              "hourly 24, daily 7, weekly 4, monthly 12, yearly 2, keep-last 3, keep-within 36h");
    ASSERT_NE(config.findPolicy("logs"), nullptr);
    EXPECT_EQ(config.findPolicy("logs")->keepWithinSeconds, 90 * 60);
    EXPECT_EQ(config.findPolicy("logs")->hourly, 0);
    EXPECT_EQ(config.findPolicy("nightly"), nullptr);
}

TEST(KysnapPolicyConfig, DurationsAreWholeNumbersWithOneUnit) {
    struct Case {
        const char* text;
        long seconds;  // -1: refused
    };
    const Case cases[] = {
        {"36h", 36 * 3600}, {"90m", 5400},      {"7d", 7 * 86400},
        {"30s", 30},        {"1s", 1},          {"36000d", 36000L * 86400},
        {"0h", -1},         {"036h", -1},       {"36", -1},
        {"h", -1},          {"36H", -1},        {"1.5h", -1},
        {"36 h", -1},       {"-3h", -1},        {"+3h", -1},
        {"2w", -1},         {"1h30m", -1},      {"", -1},
        {"40000d", -1},     {"999999999d", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        long seconds = -1;
        const bool read = kysnap::parseDuration(c.text, seconds);
        EXPECT_EQ(read, c.seconds >= 0);
        if (read) {
            EXPECT_EQ(seconds, c.seconds);
        }
    }
}

TEST(KysnapPolicyConfig, WhatIsNotAPolicyIsRefusedWithItsLine) {
    struct Case {
        const char* what;
        std::string text;  // after [host]
        std::string error;
    };
    const Case cases[] = {
        {"a policy section twice", "[policy a]\ndevices = /dev/x\ndaily = 1\n[policy a]\n",
         "kysnap.conf:6: [policy a] is given a second time (first at kysnap.conf:3); give it once"},
        {"a key twice", "[policy a]\ndevices = /dev/x\ndaily = 1\ndaily = 2\n",
         "kysnap.conf:6: 'daily' in [policy a] is given a second time (first at kysnap.conf:5)"},
        {"a count that is no number", "[policy a]\ndevices = /dev/x\nhourly = many\n",
         "kysnap.conf:5: hourly must be a whole number from 0 to 100000, not 'many'"},
        {"a negative count", "[policy a]\ndevices = /dev/x\nkeep-last = -1\n",
         "kysnap.conf:5: keep-last must be a whole number from 0 to 100000, not '-1'"},
        {"a count too large", "[policy a]\ndevices = /dev/x\nmonthly = 100001\n",
         "kysnap.conf:5: monthly must be a whole number"},
        {"a duration of another form", "[policy a]\ndevices = /dev/x\nkeep-within = 2 days\n",
         "kysnap.conf:5: keep-within must be a duration such as 36h"},
        {"an unknown key", "[policy a]\ndevices = /dev/x\nhourlies = 3\n",
         "kysnap.conf:5: unknown key 'hourlies' in [policy a]: a policy takes devices, hourly"},
        {"no devices", "[policy a]\ndaily = 7\n",
         "kysnap.conf:3: [policy a]: 'devices' is missing"},
        {"devices given empty", "[policy a]\ndevices =\ndaily = 7\n",
         "kysnap.conf:4: devices needs at least one device"},
        {"a device twice in a policy", "[policy a]\ndevices = /dev/x /dev/y /dev/x\ndaily = 7\n",
         "kysnap.conf:4: devices names /dev/x twice"},
        {"a policy that keeps nothing", "[policy a]\ndevices = /dev/x\nhourly = 0\n",
         "kysnap.conf:3: [policy a]: it keeps nothing"},
        {"a device in two policies",
         "[policy a]\ndevices = /dev/x\ndaily = 1\n[policy b]\ndevices = /dev/y /dev/x\nhourly = "
         "1\n",
         "kysnap.conf:6: [policy b]: /dev/x is also in [policy a] (kysnap.conf:3): a device "
         "belongs to one policy"},
        {"a policy name with a blank", "[policy a b]\ndevices = /dev/x\n",
         "kysnap.conf:3: policy name 'a b' may hold only letters"},
        {"a policy without a name", "[policy]\n", "kysnap.conf:3: unknown section [policy]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kysnap::HostConfig config;
        std::string error;
        EXPECT_FALSE(kysnap::parseHostConfig(kHost + c.text, "kysnap.conf", config, error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

}  // namespace
}  // namespace kysnap_test
