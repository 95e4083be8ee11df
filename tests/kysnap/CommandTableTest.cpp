// SPDX-License-Identifier: Apache-2.0
// kysnap's command table is the one place a command is defined: the batch operations and the
// commands that run them name each other, the help lists every command, and the command-line
// checks read each row's options and operands.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "BatchCommands.h"
#include "BatchOperations.h"
#include "CommandHelp.h"
#include "CommandLine.h"
#include "CommandTable.h"

namespace kysnap_test {
namespace {

TEST(KysnapCommandTable, EveryCommandIsListedFoundAndRunAndEveryBatchOperationHasItsCommand) {
    std::set<std::string> names;
    const std::string help = kysnap::helpText("");
    for (const kysnap::Command& command : kysnap::commands()) {
        SCOPED_TRACE(command.name);
        EXPECT_TRUE(names.insert(command.name).second) << "named twice";
        EXPECT_EQ(kysnap::findCommand(command.name), &command);
        EXPECT_NE(command.run, nullptr);
        EXPECT_NE(help.find(std::string("\n  ") + command.name + " "), std::string::npos) << help;
        EXPECT_NE(kysnap::helpText(command.name).find(command.help), std::string::npos);
        // A batch command runs its operation's row, and only a batch command has one.
        const bool batch = kysnap::batch::findOperation(command.name) != nullptr;
        EXPECT_EQ(batch, command.run == &kysnap::runBatchCommand);
        if (batch) {
            ASSERT_TRUE(command.session.has_value());
            EXPECT_EQ(command.session->catalog, kysnap::Session::Needs::Catalog::Write);
            EXPECT_EQ(command.session->reach, kysnap::Session::Needs::Reach::Plugin);
        }
    }
    EXPECT_EQ(kysnap::findCommand("bogus"), nullptr);
    EXPECT_EQ(kysnap::batch::findOperation("list"), nullptr);
}

TEST(KysnapCommandTable, ACommandLineThatDoesNotFitItsCommandSaysWhatItTakes) {
    struct Case {
        const char* command;
        std::vector<std::string> arguments;
        std::vector<kysnap::CommandOption> options;
        std::string error;  // "" when it fits
    };
    const Case cases[] = {
        {"prepare", {"/dev/sdb"}, {kysnap::kOptionArray}, ""},
        {"map", {"KY-1"}, {kysnap::kOptionArray}, "--array is for vpd and prepare"},
        {"delete", {"KY-1"}, {kysnap::kOptionYes}, "--yes is for revert and trust"},
        {"list", {}, {kysnap::kOptionDryRun}, "--dry-run is for delete, prune and revert"},
        {"prune", {}, {kysnap::kOptionPolicy, kysnap::kOptionDryRun}, ""},
        {"prune", {"KY-1"}, {}, "prune takes no argument"},
        {"map", {"KY-1"}, {kysnap::kOptionPolicy}, "--policy is for snap, prune and monitor"},
        {"snap", {}, {kysnap::kOptionPolicy}, ""},
        {"snap",
         {"/dev/sdb"},
         {kysnap::kOptionPolicy},
         "snap takes no device with --policy, which names them (kysnap snap --help)"},
        {"trust", {"arr"}, {kysnap::kOptionReplace, kysnap::kOptionYes}, ""},
        {"snap", {}, {}, "snap needs at least one device or --policy (kysnap snap --help)"},
        {"reconcile", {}, {}, ""},
        {"inquiry", {}, {}, "inquiry takes one device"},
        {"inquiry", {"/dev/a", "/dev/b"}, {}, "inquiry takes one device"},
        {"devices", {"/dev/a"}, {}, "devices takes no argument"},
        {"help", {"snap", "map"}, {}, "help takes at most one command"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const kysnap::Command* command = kysnap::findCommand(c.command);
        ASSERT_NE(command, nullptr);
        kysnap::Options options;
        options.command = c.command;
        options.arguments = c.arguments;
        options.commandOptions = c.options;
        std::string error;
        EXPECT_EQ(kysnap::fitsCommand(*command, options, error), c.error.empty()) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace kysnap_test
