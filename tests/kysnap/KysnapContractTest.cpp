// SPDX-License-Identifier: Apache-2.0
// The command-line contract scripts rely on: exit statuses 0 success, 1 failure, 2 usage,
// 3 partial success; with --json an error still gives one JSON document; `kysnap version`
// prints what `kysnap --version` prints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KysnapSite.h"
#include "jsonxx.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;

class KysnapContract : public KysnapSite {};

TEST_F(KysnapContract, EachKindOfOutcomeHasItsExitStatusAndJsonStillAnswers) {
    struct Case {
        const char* what;
        Strings arguments;
        int exit;
        std::string says;  // on standard error, or in the JSON document's "error"
    };
    const Case cases[] = {
        {"unknown option", {"--json", "--bogus"}, 2, "unknown option --bogus"},
        {"unknown option, --json after it", {"--bogus", "--json"}, 2, "unknown option --bogus"},
        {"unknown command", {"bogus", "--json"}, 2, "unknown command bogus"},
        {"no command", {"--json"}, 2, "no command given"},
        {"option the command does not take",
         {"map", "--dry-run", "KY-1", "--json"},
         2,
         "--dry-run is for delete, prune and revert"},
        {"missing option value", {"list", "--json", "--state"}, 2, "--state needs a value"},
        {"arguments a command does not take",
         {"list", "extra", "--json"},
         2,
         "list takes no argument"},
        {"a device named twice",
         {"prepare", kOraData, kOraData, "--json"},
         2,
         kOraData + std::string(" is named twice")},
        {"help of an unknown command", {"help", "bogus", "--json"}, 2, "unknown command bogus"},
        {"password on the command line",
         {"list", "--password=x", "--json"},
         2,
         "passwords are never given on the command line"},
        {"a snapshot the catalog does not hold",
         {"map", "KY-1", "--json"},
         1,
         "no snapshot KY-1 in the catalog"},
        {"a configuration that cannot be read",
         {"prepare", kOraData, "--json", "--config", "/nonexistent/kysnap.conf"},
         1,
         "/nonexistent/kysnap.conf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CliRun run = expectRun(c.arguments, c.exit);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        jsonxx::Object document;
        ASSERT_TRUE(document.parse(run.out)) << run.out;
        EXPECT_EQ(document.get<jsonxx::Number>("exitStatus"), c.exit) << run.out;
        EXPECT_NE(document.get<jsonxx::String>("error").find(c.says), std::string::npos) << run.out;
    }
    // Without --json nothing is printed on standard output.
    EXPECT_EQ(expectRun({"--bogus"}, 2).out, "");
}

TEST_F(KysnapContract, PartialSuccessIsThreeAndSuccessZero) {
    expectRun({"prepare", kOraData, "/dev/sim/FFFF"}, 3);
    expectRun({"prepare", kOraData});
    expectRun({"support", "/dev/sim/FFFF"}, 1);
}

TEST_F(KysnapContract, VersionPrintsWhatTheVersionOptionPrints) {
    const CliRun command = expectRun({"version"});
    EXPECT_EQ(command.out, expectRun({"--version"}).out);
    EXPECT_EQ(command.out.rfind("kysnap 1.", 0), 0u) << command.out;
    EXPECT_NE(command.out.find(": plug-in version 1."), std::string::npos) << command.out;
    // A plug-in that cannot be loaded: both say so on its line and fail alike.
    runner->environment["KYSNAP_PLUGIN"] = path("nowhere/libKySnapTegile.so");
    const CliRun missing = expectRun({"version"}, 1);
    EXPECT_EQ(missing.out, expectRun({"--version"}, 1).out);
    EXPECT_NE(missing.out.find(": plug-in not loaded ("), std::string::npos) << missing.out;
    EXPECT_EQ(expectRun({"help", "snap"}).out, expectRun({"snap", "--help"}).out);
}

}  // namespace
}  // namespace kysnap_test
