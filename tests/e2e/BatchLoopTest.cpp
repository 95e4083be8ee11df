// SPDX-License-Identifier: Apache-2.0
// The loop every batch export shares, end to end: what a failed request in the middle of a
// call does to the requests after it, which request is told, that the batch step waits for a
// call in which every request succeeded, what a batch step that runs out of memory keeps, and
// the mapping retries. Each scenario's whole host log is compared with its golden transcript
// (tests/e2e/golden/).
#include <algorithm>
#include <array>
#include <new>

#include "PluginSite.h"
#include "Transcript.h"

namespace e2e {
namespace {

using site::kDbHostPort;
using site::kEsxSmall;
using site::kOraData;
using site::kOraLogs;
using testhost::SnapOp;

enum class AfterFailure { Stop, GoOn };
// The request that the loop logs through and that is given the call's error.
enum class LogTarget { FirstRequest, CurrentRequest };

struct Operation {
    const char* exportName;
    SnapOp failing;  // the host call that fails for the middle request
    AfterFailure afterFailure;
    LogTarget logTarget;
    int32_t errorCode;
    std::array<int32_t, 3> statuses;  // of the three requests after the call
};

// Each operation over three requests whose middle one fails. A stopping loop leaves the third
// request with the failure status every request is given first; the batch step of create and
// mount is skipped, so their first request is not done either.
const Operation kOperations[] = {
    {"kyso_processVPDInfo",
     SnapOp::GetDevice,
     AfterFailure::Stop,
     LogTarget::FirstRequest,
     KYSO::ERROR_PREPARE,
     {KYSO::SNAP_PREPARE_FAILED, KYSO::SNAP_PREPARE_FAILED, KYSO::SNAP_PREPARE_FAILED}},
    {"kyso_prepareDevices",
     SnapOp::GetDevice,
     AfterFailure::Stop,
     LogTarget::FirstRequest,
     KYSO::ERROR_PREPARE,
     {KYSO::SNAP_PREPARED, KYSO::SNAP_PREPARE_FAILED, KYSO::SNAP_PREPARE_FAILED}},
    {"kyso_snapDevices",
     SnapOp::GetArrayInfo,
     AfterFailure::Stop,
     LogTarget::CurrentRequest,
     KYSO::ERROR_CREATE,
     {KYSO::SNAP_CREATE_FAILED, KYSO::SNAP_CREATE_FAILED, KYSO::SNAP_CREATE_FAILED}},
    {"kyso_mapSnaps",
     SnapOp::GetArrayInfo,
     AfterFailure::Stop,
     LogTarget::CurrentRequest,
     KYSO::ERROR_MOUNT,
     {KYSO::SNAP_MOUNT_FAILED, KYSO::SNAP_MOUNT_FAILED, KYSO::SNAP_MOUNT_FAILED}},
    {"kyso_unmapSnaps",
     SnapOp::GetArrayInfo,
     AfterFailure::GoOn,
     LogTarget::CurrentRequest,
     KYSO::ERROR_UNMOUNT,
     {KYSO::SNAP_UNMOUNTED, KYSO::SNAP_UNMOUNT_FAILED, KYSO::SNAP_UNMOUNTED}},
    {"kyso_deleteSnaps",
     SnapOp::GetArrayInfo,
     AfterFailure::GoOn,
     LogTarget::CurrentRequest,
     KYSO::ERROR_DELETE,
     {KYSO::SNAP_DELETED, KYSO::SNAP_DELETE_FAILED, KYSO::SNAP_DELETED}},
    {"kyso_revertSnaps",
     SnapOp::GetArrayInfo,
     AfterFailure::GoOn,
     LogTarget::CurrentRequest,
     KYSO::ERROR_REVERT,
     {KYSO::SNAP_REVERTED, KYSO::SNAP_REVERT_FAILED, KYSO::SNAP_REVERTED}},
    // Reconcile gives no failure status: the snapshots stay as created.
    {"kyso_reconcileSnaps",
     SnapOp::GetArrayInfo,
     AfterFailure::GoOn,
     LogTarget::CurrentRequest,
     KYSO::ERROR_RECONCILE,
     {KYSO::SNAP_CREATED, KYSO::SNAP_CREATED, KYSO::SNAP_CREATED}},
};

void PrintTo(const Operation& op, std::ostream* out) {
    *out << op.exportName;
}

class ThreeRequests : public PluginSite {
protected:
    // Three requests of the FC host brought to the state `name` starts from.
    Batch threeRequestsReadyFor(const std::string& name) {
        site::SiteArray& array = startArray("arr", mapEsxSmallToDbHost);
        hostWith({{kDbHostPort, false}});
        Batch batch = volumes(array, {kOraData, kOraLogs, kEsxSmall});
        PluginSite::readyFor(name, array, batch);
        return batch;
    }
};

class BatchLoop : public ThreeRequests, public ::testing::WithParamInterface<Operation> {};

TEST_P(BatchLoop, MiddleRequestFailing) {
    const Operation& op = GetParam();
    Batch batch = threeRequestsReadyFor(op.exportName);
    if (HasFatalFailure()) {
        return;
    }
    batch[1]->failNext(op.failing);
    const int askedBefore = batch[2]->callCount(op.failing);
    const size_t rescans = util.rescans.size();
    const uint64_t batchCreates = requestsOf(arrays.front(), "createSnapshots");

    Transcript transcript(batch);
    const KYSO::ResultCode result = call(op.exportName, batch);
    transcript.outcome(result);

    EXPECT_EQ(result, KYSO::RESULT_PARTIAL) << transcript.text();
    EXPECT_EQ(statuses(batch), std::vector<int32_t>(op.statuses.begin(), op.statuses.end()));
    // The request after the failed one is driven only by a loop that goes on.
    EXPECT_EQ(batch[2]->callCount(op.failing) > askedBefore, op.afterFailure == AfterFailure::GoOn);
    // A loop that keeps the first request logs nothing through the others.
    EXPECT_EQ(batch[1]->logLines.empty(), op.logTarget == LogTarget::FirstRequest)
        << batch[1]->logText();
    const size_t told = op.logTarget == LogTarget::FirstRequest ? 0
                        : op.afterFailure == AfterFailure::Stop ? 1
                                                                : 2;
    for (size_t i = 0; i < batch.size(); ++i) {
        SCOPED_TRACE("request " + std::to_string(i));
        ASSERT_EQ(batch[i]->errors.size(), i == told ? 1u : 0u);
        if (i == told) {
            EXPECT_EQ(batch[i]->errors[0].code, op.errorCode);
        }
    }
    // No batch step: no snapshot made in one call, no rescan for a mapping or an unmapping.
    EXPECT_EQ(requestsOf(arrays.front(), "createSnapshots"), batchCreates);
    EXPECT_EQ(util.rescans.size(), rescans);
    expectGolden(std::string(op.exportName) + "-middle-request-fails", transcript.text());
}

INSTANTIATE_TEST_SUITE_P(EveryBatchExport, BatchLoop, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) {
                             return std::string(info.param.exportName);
                         });

// Where the host runs out of memory in the batch step of a call of three requests.
enum class Exhausted {
    SecondRecord,  // taking the second request's record (setMetaData)
    Rescan,        // rescanning its buses
};

struct StepOutOfMemory {
    const char* exportName;
    Exhausted exhausted;
    KYSO::ResultCode result;
    int32_t errorCode;
    std::array<int32_t, 3> statuses;  // of the three requests after the call
};

// What the step did before memory ran out stands: the requests it was done for keep their
// statuses and count as done; the others fail.
const StepOutOfMemory kStepsOutOfMemory[] = {
    {"kyso_snapDevices",
     Exhausted::SecondRecord,
     KYSO::RESULT_PARTIAL,
     KYSO::ERROR_CREATE,
     {KYSO::SNAP_CREATED, KYSO::SNAP_CREATE_FAILED, KYSO::SNAP_CREATE_FAILED}},
    {"kyso_mapSnaps",
     Exhausted::SecondRecord,
     KYSO::RESULT_PARTIAL,
     KYSO::ERROR_MOUNT,
     {KYSO::SNAP_MOUNTED, KYSO::SNAP_MOUNT_FAILED, KYSO::SNAP_MOUNT_FAILED}},
    // Every clone was unmapped before the rescan: as when the rescan fails, no unmount does.
    {"kyso_unmapSnaps",
     Exhausted::Rescan,
     KYSO::RESULT_SUCCESS,
     KYSO::ERROR_UNMOUNT,
     {KYSO::SNAP_UNMOUNTED, KYSO::SNAP_UNMOUNTED, KYSO::SNAP_UNMOUNTED}},
};

void PrintTo(const StepOutOfMemory& row, std::ostream* out) {
    *out << row.exportName;
}

class BatchStepOutOfMemory : public ThreeRequests,
                             public ::testing::WithParamInterface<StepOutOfMemory> {};

TEST_P(BatchStepOutOfMemory, KeepsWhatWasDoneAndFailsOnlyTheRest) {
    const StepOutOfMemory& row = GetParam();
    Batch batch = threeRequestsReadyFor(row.exportName);
    if (HasFatalFailure()) {
        return;
    }
    if (row.exhausted == Exhausted::SecondRecord) {
        batch[1]->runOutOfMemoryNext(SnapOp::SetMetaData);
    } else {
        util.onRescan = [](const testhost::RescanRecord&) { throw std::bad_alloc(); };
    }
    const size_t firstRecords = batch[0]->metaDataWrites.size();

    Transcript transcript(batch);
    const KYSO::ResultCode result = call(row.exportName, batch);
    transcript.outcome(result);

    EXPECT_EQ(result, row.result) << transcript.text();
    EXPECT_EQ(statuses(batch), std::vector<int32_t>(row.statuses.begin(), row.statuses.end()));
    // The record of the first request was written before memory ran out and stays.
    if (row.exhausted == Exhausted::SecondRecord) {
        EXPECT_EQ(batch[0]->metaDataWrites.size(), firstRecords + 1);
    }
    // One line says so, on the request the loop ended on, which alone is told of a failure.
    EXPECT_TRUE(batch[2]->logged("out of memory", 2)) << transcript.text();
    const bool told = row.result != KYSO::RESULT_SUCCESS;
    ASSERT_EQ(batch[2]->errors.size(), told ? 1u : 0u) << transcript.text();
    if (told) {
        EXPECT_EQ(batch[2]->errors[0].code, row.errorCode);
        EXPECT_NE(batch[2]->errors[0].message.find("running out of memory"), std::string::npos)
            << batch[2]->errors[0].message;
    }
    EXPECT_TRUE(batch[0]->errors.empty() && batch[1]->errors.empty()) << transcript.text();
    // The transcript is the one with the call's memory on: without it, the mount asks the array
    // for a listing the memory would answer, while all checked above comes out the same.
    if (callMemoryOn()) {
        expectGolden(std::string(row.exportName) + "-step-out-of-memory", transcript.text());
    }
}

INSTANTIATE_TEST_SUITE_P(CreateMountAndUnmount, BatchStepOutOfMemory,
                         ::testing::ValuesIn(kStepsOutOfMemory),
                         [](const ::testing::TestParamInfo<StepOutOfMemory>& info) {
                             return std::string(info.param.exportName);
                         });

// One mount of ora-data whose clone the host sees only after `hiddenForRescans` rescans.
struct MountRetry {
    const char* scenario;
    int retryCount;
    int intervalSeconds;
    int hiddenForRescans;
    KYSO::ResultCode result;
    size_t rescans;
    std::vector<unsigned int> waits;
};

const MountRetry kMountRetries[] = {
    {"clone_seen_at_once", 2, 1, 0, KYSO::RESULT_SUCCESS, 1, {}},
    {"clone_seen_on_the_second_retry", 3, 5, 2, KYSO::RESULT_SUCCESS, 3, {5000}},
    // The last failed retry is followed by its wait too.
    {"clone_never_seen", 2, 7, 100, KYSO::RESULT_FAILED, 3, {7000, 7000}},
    {"no_retries", 0, 7, 100, KYSO::RESULT_FAILED, 1, {}},
};

void PrintTo(const MountRetry& row, std::ostream* out) {
    *out << row.scenario;
}

class MountRetries : public PluginSite, public ::testing::WithParamInterface<MountRetry> {};

TEST_P(MountRetries, FirstLookAtNewDevicesThenRetriesOverEveryDevice) {
    const MountRetry& row = GetParam();
    site::SiteArray& array = startArray("arr", [&row](jsonxx::Object& seed) {
        seed.get<jsonxx::Object>("behaviour")
            .import("mappingVisibilityDelay", static_cast<jsonxx::Number>(row.hiddenForRescans));
    });
    hostWith({{kDbHostPort, false}});
    Batch batch = volumes(array, {kOraData});
    batch[0]->configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = row.retryCount;
    batch[0]->configInts["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = row.intervalSeconds;
    step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
    step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
    const size_t rescans = util.rescans.size();
    sleeper.waits.clear();

    Transcript transcript(batch);
    const KYSO::ResultCode result = call("kyso_mapSnaps", batch);
    transcript.outcome(result);

    EXPECT_EQ(result, row.result) << transcript.text();
    EXPECT_EQ(util.rescans.size() - rescans, row.rescans);
    EXPECT_EQ(sleeper.waits, row.waits);
    // The first look inquires only the devices the rescan added, so the source volume's
    // device, which the host saw before, is looked at only by the retries.
    const std::string source =
        "new device found name [" + simhost::SimulatedHost::deviceName(kOraData) + "]";
    const auto& lines = batch[0]->logLines;
    const auto retrying = std::find_if(lines.begin(), lines.end(), [](const auto& line) {
        return line.text == "checking all the devices discovered";
    });
    const auto inquires = [&source](const auto& line) { return line.text == source; };
    EXPECT_EQ(std::find_if(lines.begin(), retrying, inquires), retrying);
    EXPECT_EQ(std::find_if(retrying, lines.end(), inquires) != lines.end(), row.rescans > 1);
    expectGolden(std::string("kyso_mapSnaps-") + row.scenario, transcript.text());
}

INSTANTIATE_TEST_SUITE_P(MountWithRetries, MountRetries, ::testing::ValuesIn(kMountRetries),
                         [](const ::testing::TestParamInfo<MountRetry>& info) {
                             return std::string(info.param.scenario);
                         });

}  // namespace
}  // namespace e2e
