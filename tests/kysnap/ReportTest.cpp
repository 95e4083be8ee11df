// SPDX-License-Identifier: Apache-2.0
// What kysnap exits with: success, failure or partial success by the plug-in's result code, and
// by the requests' outcomes where the plug-in reported success for a call in which a request
// did not succeed (its mapping step can: a host rescan that fails on every attempt leaves the
// requests "mount failed" but lowers no count).
#include <gtest/gtest.h>

#include "Options.h"
#include "Report.h"
#include "VisibleText.h"

namespace kysnap_test {
namespace {

TEST(KysnapReport, ExitStatusNeverReportsAFailedRequestAsSuccess) {
    struct Case {
        int32_t result;
        std::vector<bool> succeeded;
        int32_t exit;
    };
    const Case cases[] = {
        {0, {true, true}, kysnap::kExitSuccess},   {0, {true, false}, kysnap::kExitPartial},
        {0, {false, false}, kysnap::kExitFailure}, {2, {true, false}, kysnap::kExitPartial},
        {1, {false}, kysnap::kExitFailure},        {1, {true}, kysnap::kExitFailure},
        {7, {true}, kysnap::kExitFailure},  // no result code the plug-in has: no success
    };
    for (const Case& c : cases) {
        kysnap::OperationReport report;
        report.result = c.result;
        for (bool ok : c.succeeded) {
            kysnap::RequestOutcome outcome;
            outcome.succeeded = ok;
            report.requests.push_back(outcome);
        }
        EXPECT_EQ(report.exitStatus(), c.exit) << "result " << c.result;
    }
}

// A catalog that could not be saved after the array acted: the message names what the array
// holds that the catalog lacks, and what settles or removes it.
TEST(KysnapReport, AnUnsavedCatalogNamesWhatTheArrayHoldsAndHowToSettleIt) {
    struct Case {
        kysnap::UnrecordedWork work;
        std::string says;
    };
    const Case cases[] = {
        {kysnap::UnrecordedWork::CreatingRecords,
         "recorded only as \"creating\" (kysnap reconcile settles them once the catalog "
         "can be written): KY-1"},
        {kysnap::UnrecordedWork::MountedClones,
         "mounted on the array but not recorded: KY-1 (clone MNT_KY-1: kysnap reconcile "
         "records it once the catalog can be written, kysnap unmap KY-1 removes it)"},
        {kysnap::UnrecordedWork::Done,
         "done on the array but not recorded (kysnap reconcile settles them"},
    };
    for (const Case& c : cases) {
        kysnap::OperationReport report;
        report.operation = "op";
        report.unrecordedWork = c.work;
        report.catalogError = "No space left on device";
        report.unrecorded = {"KY-1"};
        const std::string message = kysnap::notRecordedMessage(report);
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_EQ(report.exitStatus(), kysnap::kExitNotRecorded);
    }
}

// Array text reaches the terminal without anything a terminal would obey.
TEST(KysnapReport, ArrayTextIsEscapedBeforeATerminalSeesIt) {
    struct Case {
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        {"\x1b]0;owned\x07 2.1", "\\x1b]0;owned\\x07 2.1"},
        {"line\r\nforged\tline\x7f", "line\\r\\nforged\\tline\\x7f"},
        {std::string("2.1\0", 4), "2.1\\x00"},
        {"\xc2\x9b"
         "31m",
         "\\u{009B}31m"},  // C1 CSI
        {"\xe2\x80\xae"
         "evil\xef\xbb\xbf",
         "\\u{202E}evil\\u{FEFF}"},  // bidi override, BOM
        {"bad \xff\xc0\x80 \xed\xa0\x80 end", "bad \\xff\\xc0\\x80 \\xed\\xa0\\x80 end"},
        {"cut \xe2\x82", "cut \\xe2\\x82"},
        {"pool-\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6",
         "pool-\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kysnap::visibleText(c.text), c.shown);
    }
}

}  // namespace
}  // namespace kysnap_test
