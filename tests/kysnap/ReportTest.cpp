// What kysnap exits with: the plug-in's result code, unless the plug-in reported success for a
// call in which a request did not succeed (its mapping step can: a host rescan that fails on
// every attempt leaves the requests "mount failed" but lowers no count).
#include <gtest/gtest.h>

#include "Report.h"

namespace kysnap_test {
namespace {

TEST(KysnapReport, ExitStatusNeverReportsAFailedRequestAsSuccess) {
    struct Case {
        int32_t result;
        std::vector<bool> succeeded;
        int32_t exit;
    };
    const Case cases[] = {
        {0, {true, true}, 0},  {0, {true, false}, 2}, {0, {false, false}, 1},
        {2, {true, false}, 2}, {1, {false}, 1},
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

}  // namespace
}  // namespace kysnap_test
