// SPDX-License-Identifier: Apache-2.0
// A failed request of a batch is reported against its own device or snapshot, with its reason,
// whichever request of the call the plug-in logged the reason through (prepare logs all of a
// call's lines through its first request; the copy server does for every operation).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Faults.h"
#include "KysnapSite.h"
#include "jsonxx.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;

class KysnapReason : public KysnapSite {
protected:
    // The requests of a --json report, by device or snapshot.
    static jsonxx::Object requestAbout(const CliRun& run, const std::string& subject) {
        jsonxx::Object report;
        EXPECT_TRUE(report.parse(run.out)) << run.out << run.err;
        const jsonxx::Array& requests = report.get<jsonxx::Array>("requests");
        for (size_t i = 0; i < requests.size(); ++i) {
            const jsonxx::Object& request = requests.get<jsonxx::Object>(i);
            if (request.get<jsonxx::String>("device") == subject ||
                (request.has<jsonxx::String>("snapshot") &&
                 request.get<jsonxx::String>("snapshot") == subject)) {
                return request;
            }
        }
        ADD_FAILURE() << "no request about " << subject << " in " << run.out;
        return jsonxx::Object();
    }
    static std::string reasonOf(const jsonxx::Object& request) {
        return request.has<jsonxx::String>("reason") ? request.get<jsonxx::String>("reason")
                                                     : std::string();
    }
    Strings snapshotIds() {
        Strings ids;
        const jsonxx::Object kept = catalog();
        const jsonxx::Array& list = kept.get<jsonxx::Array>("snapshots");
        for (size_t i = 0; i < list.size(); ++i) {
            ids.push_back(list.get<jsonxx::Object>(i).get<jsonxx::String>("name"));
        }
        return ids;
    }
};

const char kMissing[] = "/dev/sim/FFFF";

// prepare GOOD BAD gives BAD the reason `prepare BAD` alone gives it, on lines that name BAD,
// and GOOD none; exit 3 (partial), 1 when BAD is alone.
TEST_F(KysnapReason, ABadDeviceAfterAGoodOneGetsTheReasonItGetsAlone) {
    const CliRun alone = expectRun({"prepare", kMissing, "--json"}, 1);
    const std::string reason = reasonOf(requestAbout(alone, kMissing));
    ASSERT_NE(reason.find(kMissing), std::string::npos) << alone.out;

    const CliRun both = expectRun({"prepare", kOraData, kMissing, "--json"}, 3);
    EXPECT_EQ(reasonOf(requestAbout(both, kMissing)), reason) << both.out;
    EXPECT_EQ(reasonOf(requestAbout(both, kOraData)), "") << both.out;
    EXPECT_FALSE(requestAbout(both, kOraData).has<jsonxx::Array>("pluginFailures")) << both.out;

    const CliRun text = expectRun({"prepare", kOraData, kMissing}, 3);
    EXPECT_NE(text.out.find(std::string("prepare   ") + kMissing + ": plug-in: " + reason),
              std::string::npos)
        << text.out;
    EXPECT_EQ(text.out.find(std::string(kOraData) + ": plug-in:"), std::string::npos) << text.out;
}

// Operations that log through the current request still have the copy server log through the
// first: the second snapshot's failure is its own, and the first, deleted, has none.
TEST_F(KysnapReason, TheSecondSnapshotsFailureIsReportedAgainstIt) {
    expectRun({"prepare", kOraData, kOraLogs});
    expectRun({"snap", kOraData, kOraLogs});
    const Strings ids = snapshotIds();
    ASSERT_EQ(ids.size(), 2u);
    arraysim::Fault fault;
    fault.method = "deleteVolumeSnapshot";
    fault.skip = 1;
    simulator->faults().add(fault);

    const CliRun run = expectRun({"delete", ids[0], ids[1], "--json"}, 3);
    const jsonxx::Object failed = requestAbout(run, ids[1]);
    EXPECT_FALSE(failed.get<jsonxx::Boolean>("succeeded"));
    // The cause the copy server logged through the first request, not only the batch loop's
    // line that the second failed.
    EXPECT_NE(reasonOf(failed).find("HTTP 500"), std::string::npos) << run.out;
    ASSERT_TRUE(failed.has<jsonxx::Array>("pluginFailures")) << run.out;
    EXPECT_NE(failed.get<jsonxx::Array>("pluginFailures").json().find("deleteVolumeSnapshot"),
              std::string::npos)
        << run.out;
    const jsonxx::Object deleted = requestAbout(run, ids[0]);
    EXPECT_TRUE(deleted.get<jsonxx::Boolean>("succeeded"));
    EXPECT_EQ(reasonOf(deleted), "") << run.out;
    EXPECT_FALSE(deleted.has<jsonxx::Array>("pluginFailures")) << run.out;
    EXPECT_EQ(snapshotIds(), Strings{ids[1]});
}

}  // namespace
}  // namespace kysnap_test
