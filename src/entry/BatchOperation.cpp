// SPDX-License-Identifier: Apache-2.0
#include "BatchOperation.h"

#include <chrono>
#include <memory>
#include <new>

#include "CMCopyRequest.h"
#include "CallScope.h"
#include "CallSummary.h"
#include "EvDebug.h"
#include "LMSleep.h"
#include "PluginTexts.h"

namespace {

// Log levels of the host's log.
constexpr int kMilestone = 0;
constexpr int kDetail = 1;
constexpr int kFailure = 2;

const char* const kServerAllocationFailed = "CMCopyServerTegile object allocation failed";

using Step = BatchOperation::Step;
using LogTarget = BatchOperation::LogTarget;
using AfterFailure = BatchOperation::AfterFailure;
using Line = BatchOperation::Line;

// Builds one operation's row a named field at a time, so that a row says what each of its
// texts, levels, statuses and flags is without counting positions.
class Row {
public:
    constexpr Row(const char* header, Copy_Status (CMCopyServerTegile::*drive)()) : op_() {
        op_.header = header;
        op_.drive = drive;
    }
    constexpr Row& countLine(const char* line, int level) {
        op_.countLine = line;
        op_.countLevel = level;
        return *this;
    }
    constexpr Row& indexLine(const char* line) {
        op_.indexLine = line;
        return *this;
    }
    constexpr Row& failureLine(const char* line) {
        op_.failureLine = line;
        return *this;
    }
    constexpr Row& completionLine(const char* line, int level) {
        op_.completionLine = line;
        op_.completionLevel = level;
        return *this;
    }
    constexpr Row& allocationFailure(const char* line) {
        op_.allocationFailure = line;
        return *this;
    }
    constexpr Row& outOfMemory(const char* text) {
        op_.outOfMemory = text;
        return *this;
    }
    constexpr Row& failedStatus(int32_t status) {
        op_.failedStatus = status;
        return *this;
    }
    constexpr Row& errorCode(int32_t code) {
        op_.errorCode = code;
        return *this;
    }
    constexpr Row& serverCreatedLine(Line line) {
        op_.serverCreatedLine = line;
        return *this;
    }
    constexpr Row& requestStateLine(Line line) {
        op_.requestStateLine = line;
        return *this;
    }
    constexpr Row& logTarget(LogTarget target) {
        op_.logTarget = target;
        return *this;
    }
    constexpr Row& afterFailure(AfterFailure after) {
        op_.afterFailure = after;
        return *this;
    }
    constexpr Row& step(Step step) {
        op_.step = step;
        return *this;
    }
    constexpr operator BatchOperation() const { return op_; }

private:
    BatchOperation op_;
};

}  // namespace

namespace batch {

const BatchOperation kProcessVpd =
    Row("KYSO::ResultCode kyso_processVPDInfo(KYSO::SnapInfo**, int16_t, KYSO::KYOSUtil*)",
        &CMCopyServerTegile::processVPD)
        .countLine("number of process VPD info request received [%d]", kDetail)
        .indexLine("copy prepare request index [%d]")
        .failureLine("process VPD request failed error [%d]")
        .completionLine("CopyRequest process VPD info completed", kDetail)
        .allocationFailure(kServerAllocationFailed)
        .outOfMemory("snap process vpd info operation failed. system is running out of memory")
        .failedStatus(KYSO::SNAP_PREPARE_FAILED)
        .errorCode(KYSO::ERROR_PREPARE)
        .serverCreatedLine(Line::Logged)
        .requestStateLine(Line::Omitted)
        .logTarget(LogTarget::FirstRequest)
        .afterFailure(AfterFailure::Stop)
        .step(Step::None);

const BatchOperation kPrepare =
    Row("TEGILE KYCopyManagerTegile::kyso_prepareDevices() -", &CMCopyServerTegile::prepare)
        .countLine("number of copy prepare request received [%d]", kDetail)
        .indexLine("copy prepare request index [%d]")
        .failureLine("copy prepare request failed error [%d]")
        .completionLine("CopyRequest prepare completed", kDetail)
        .allocationFailure(kServerAllocationFailed)
        .outOfMemory("snap prepare operation failed. system is running out of memory")
        .failedStatus(KYSO::SNAP_PREPARE_FAILED)
        .errorCode(KYSO::ERROR_PREPARE)
        .serverCreatedLine(Line::Logged)
        .requestStateLine(Line::Logged)
        .logTarget(LogTarget::FirstRequest)
        .afterFailure(AfterFailure::Stop)
        .step(Step::None);

const BatchOperation kCreate =
    Row("TEGILE KYCopyManagerTegile::kyso_snapDevices() -", &CMCopyServerTegile::createCopy)
        .countLine("number of copy create request received [%d]", kMilestone)
        .indexLine(nullptr)
        .failureLine("CopyRequest create failed error [%d]")
        .completionLine("CopyRequest copy completed", kMilestone)
        .allocationFailure("CMCopyServerTegile object allocation faild")
        .outOfMemory("snap create operation failed. system is running out of memory")
        .failedStatus(KYSO::SNAP_CREATE_FAILED)
        .errorCode(KYSO::ERROR_CREATE)
        .serverCreatedLine(Line::Omitted)
        .requestStateLine(Line::Omitted)
        .logTarget(LogTarget::CurrentRequest)
        .afterFailure(AfterFailure::Stop)
        .step(Step::Create);

const BatchOperation kMount =
    Row("TEGILE KYCopyManagerTegile::kyso_mapSnaps() -", &CMCopyServerTegile::mountCopy)
        .countLine("number of copy mount request received [%d]", kDetail)
        .indexLine("copy mount request index [%d]")
        .failureLine("CopyRequest mount failed error [%d]")
        .completionLine("CopyRequest mount completed", kFailure)
        .allocationFailure(kServerAllocationFailed)
        .outOfMemory("snap mount operation failed. system is running out of memory")
        .failedStatus(KYSO::SNAP_MOUNT_FAILED)
        .errorCode(KYSO::ERROR_MOUNT)
        .serverCreatedLine(Line::Logged)
        .requestStateLine(Line::Logged)
        .logTarget(LogTarget::CurrentRequest)
        .afterFailure(AfterFailure::Stop)
        .step(Step::Mount);

const BatchOperation kUnmount =
    Row("TEGILE KYCopyManagerTegile::kyso_unmapSnaps() -", &CMCopyServerTegile::unmountCopy)
        .countLine("number of copy unmount request received [%d]", kDetail)
        .indexLine("copy unmount request index [%d]")
        .failureLine("CopyRequest unmount failed error [%d]")
        .completionLine("CopyRequest unmount completed", kFailure)
        .allocationFailure(kServerAllocationFailed)
        .outOfMemory("snap unmount operation failed. system is running out of memory")
        .failedStatus(KYSO::SNAP_UNMOUNT_FAILED)
        .errorCode(KYSO::ERROR_UNMOUNT)
        .serverCreatedLine(Line::Logged)
        .requestStateLine(Line::Logged)
        .logTarget(LogTarget::CurrentRequest)
        .afterFailure(AfterFailure::GoOn)
        .step(Step::Unmount);

const BatchOperation kDelete =
    Row("TEGILE KYCopyManagerTegile::kyso_deleteSnaps() -", &CMCopyServerTegile::deleteCopy)
        .countLine("number of copy delete request received [%d]", kDetail)
        .indexLine("copy delete request index [%d]")
        .failureLine("CopyRequest delete failed error [%d]")
        .completionLine("CopyRequest delete completed", kFailure)
        .allocationFailure(kServerAllocationFailed)
        .outOfMemory("snap delete operation failed. system is running out of memory")
        .failedStatus(KYSO::SNAP_DELETE_FAILED)
        .errorCode(KYSO::ERROR_DELETE)
        .serverCreatedLine(Line::Logged)
        .requestStateLine(Line::Logged)
        .logTarget(LogTarget::CurrentRequest)
        .afterFailure(AfterFailure::GoOn)
        .step(Step::None);

const BatchOperation kRevert =
    Row("TEGILE KYCopyManagerTegile::kyso_revertSnaps() -", &CMCopyServerTegile::revertCopy)
        .countLine("number of copy revert request received [%d]", kDetail)
        .indexLine("copy revert request index [%d]")
        .failureLine("CopyRequest revert failed error [%d]")
        .completionLine("CopyRequest revert completed", kFailure)
        .allocationFailure(kServerAllocationFailed)
        .outOfMemory("snap revert operation failed. system is running out of memory")
        .failedStatus(KYSO::SNAP_REVERT_FAILED)
        .errorCode(KYSO::ERROR_REVERT)
        .serverCreatedLine(Line::Logged)
        .requestStateLine(Line::Logged)
        .logTarget(LogTarget::CurrentRequest)
        .afterFailure(AfterFailure::GoOn)
        .step(Step::None);

// Reconcile sets no failure status and has no out-of-memory text.
const BatchOperation kReconcile =
    Row("TEGILE KYCopyManagerTegile::kyso_reconcileSnaps() -", &CMCopyServerTegile::reconcileCopy)
        .countLine("number of copy reconcile request received [%d]", kDetail)
        .indexLine("copy reconcile request index [%d]")
        .failureLine(plugintext::kReconcileFailedFormat)
        .completionLine("CopyRequest reconcile completed", kDetail)
        .allocationFailure(kServerAllocationFailed)
        .outOfMemory(nullptr)
        .failedStatus(0)
        .errorCode(KYSO::ERROR_RECONCILE)
        .serverCreatedLine(Line::Logged)
        .requestStateLine(Line::Logged)
        .logTarget(LogTarget::CurrentRequest)
        .afterFailure(AfterFailure::GoOn)
        .step(Step::None);

}  // namespace batch

namespace {

// Runs one step of the copy server. An allocation that fails inside it (a huge answer from the
// array, say) ends the step as COPY_NO_MEMORY, which the host is told as running out of memory,
// instead of an unexplained failure of the whole call.
template <typename Step>
Copy_Status memoryGuarded(KYSO::SnapInfo* target, const char* header, Step&& step) {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        target->log(kFailure, header, "%s", "out of memory");
        return COPY_NO_MEMORY;
    }
}

// Maps the clones to the host, then retries with every device the host sees, sleeping the
// retry interval after each failed retry. Returns the last status; counts the retries.
Copy_Status mapWithRetries(CMCopyServerTegile& server, KYSO::SnapInfo* target, const char* header,
                           unsigned int& retries) {
    unsigned int remaining = server.getRetryCount();
    const unsigned int interval = server.getRetryInterval();
    Copy_Status status = server.mapCopyToHost(false);
    if (status == COPY_SUCCESS) {
        return status;
    }
    target->log(kDetail, header, "%s", plugintext::kRetriesStart);
    while (remaining != 0) {
        target->log(kDetail, header, plugintext::kRetryFormat, static_cast<int>(remaining),
                    static_cast<int>(interval));
        ++retries;
        status = server.mapCopyToHost(true);
        if (status == COPY_SUCCESS) {
            target->log(kDetail, header, "%s", plugintext::kRetryFound);
            return status;
        }
        --remaining;
        // Seconds from the host's configuration; the wait saturates instead of wrapping.
        const unsigned long long ms = static_cast<unsigned long long>(interval) * 1000ULL;
        LMSLEEP(ms > 0xFFFFFFFFULL ? 0xFFFFFFFFU : static_cast<unsigned int>(ms));
    }
    target->log(kDetail, header, "%s", plugintext::kRetriesEnd);
    return status;
}

// How many of the requests the batch step `step` was done for, by the status it sets then.
int doneRequests(Step step, KYSO::SnapInfo** requests, int16_t count) {
    const int32_t done = step == Step::Create  ? KYSO::SNAP_CREATED
                         : step == Step::Mount ? KYSO::SNAP_MOUNTED
                                               : KYSO::SNAP_UNMOUNTED;
    int counted = 0;
    for (int16_t i = 0; i < count; ++i) {
        counted += requests[i]->getSnapStatus() == done ? 1 : 0;
    }
    return counted;
}

}  // namespace

bool validRequests(const char* header, KYSO::SnapInfo** requests, int16_t count,
                   KYSO::KYOSUtil* util) {
    if (util == nullptr) {
        EvDebug(nullptr).DebugLvl(header, EvDebug::LEVEL_ERROR, "Snap util object is null");
        return false;
    }
    for (int16_t i = 0; i < count; ++i) {
        if (requests[i] == nullptr) {
            EvDebug(nullptr).DebugLvl(header, EvDebug::LEVEL_ERROR, "Invalid snapInfo pointer.");
            return false;
        }
    }
    return true;
}

KYSO::ResultCode runBatch(const BatchOperation& op, KYSO::SnapInfo** requests, int16_t count,
                          KYSO::KYOSUtil* util) {
    if (requests == nullptr || count <= 0) {
        return KYSO::RESULT_FAILED;
    }
    if (!validRequests(op.header, requests, count, util)) {
        return KYSO::RESULT_FAILED;
    }
    if (op.failedStatus != 0) {
        for (int16_t i = 0; i < count; ++i) {
            requests[i]->setSnapStatus(op.failedStatus);
        }
    }
    // Every array client of the call shares connections and TLS sessions.
    kyplatform::CallScope call;
    const auto started = std::chrono::steady_clock::now();
    unsigned int retries = 0;
    KYSO::SnapInfo* target = requests[0];
    target->log(op.countLevel, op.header, op.countLine, static_cast<int>(count));

    std::unique_ptr<CMCopyServerTegile> server(new (std::nothrow) CMCopyServerTegile(util));
    if (!server) {
        target->log(kFailure, op.header, "%s", op.allocationFailure);
        if (op.outOfMemory != nullptr) {
            target->setError(op.errorCode, op.outOfMemory);
        }
        return KYSO::RESULT_FAILED;
    }
    if (op.serverCreatedLine == Line::Logged) {
        target->log(kDetail, op.header, "%s", "CMCopyServerTegile created");
    }
    server->setLogger(requests[0]);

    int succeeded = 0;
    Copy_Status last = COPY_SUCCESS;
    for (int16_t i = 0; i < count; ++i) {
        if (op.logTarget == LogTarget::CurrentRequest) {
            target = requests[i];
        }
        if (op.indexLine != nullptr) {
            target->log(kDetail, op.header, op.indexLine, static_cast<int>(i));
        }
        std::unique_ptr<CMCopyRequest> wrapper(new (std::nothrow) CMCopyRequest(requests[i]));
        if (!wrapper) {
            target->log(kFailure, op.header, "%s", "CMCopyRequest object allocation failed");
            if (op.afterFailure == AfterFailure::Stop) {
                break;
            }
            continue;
        }
        if (op.requestStateLine == Line::Logged) {
            target->log(kDetail, op.header, "CMCopyRequest created state [%d]",
                        static_cast<int>(requests[i]->getSnapStatus()));
        }
        server->setCopyRequest(wrapper.get());
        last = memoryGuarded(target, op.header, [&] { return ((*server).*op.drive)(); });
        server->setCopyRequest(nullptr);
        if (last == COPY_SUCCESS) {
            ++succeeded;
            continue;
        }
        target->log(kFailure, op.header, op.failureLine, static_cast<int>(last));
        if (op.afterFailure == AfterFailure::Stop) {
            break;
        }
    }

    if (succeeded == count && op.step != BatchOperation::Step::None) {
        const Copy_Status step = memoryGuarded(target, op.header, [&] {
            switch (op.step) {
                case BatchOperation::Step::Create:
                    server->processCmdList();
                    break;
                case BatchOperation::Step::Mount:
                    last = mapWithRetries(*server, target, op.header, retries);
                    break;
                case BatchOperation::Step::Unmount:
                    ignoreStatus(server->unmapCopyFromHost(),
                                 "a rescan that fails is logged; the unmounts it follows are "
                                 "done on the array and stay reported done");
                    break;
                case BatchOperation::Step::None:
                    break;
            }
            return COPY_SUCCESS;
        });
        if (step != COPY_SUCCESS) {
            // What the step did before memory ran out stands: a request it was done for has
            // the step's done status (every request had the failure status before), so it
            // still counts; only the others fail.
            last = step;
            succeeded = doneRequests(op.step, requests, count);
        } else {
            succeeded -= server->getNumFailedCmds();
        }
    }
    if (op.step != BatchOperation::Step::None) {
        server->clearCmdList();
    }

    const KYSO::ResultCode result = succeeded <= 0       ? KYSO::RESULT_FAILED
                                    : succeeded == count ? KYSO::RESULT_SUCCESS
                                                         : KYSO::RESULT_PARTIAL;
    if (result != KYSO::RESULT_SUCCESS) {
        target->setError(op.errorCode, server->getErrorMessage(last).c_str());
    }
    server.reset();
    target->log(kDetail, op.header, "call summary %s",
                callSummary(call.statistics(), std::chrono::steady_clock::now() - started, retries)
                    .c_str());
    target->log(op.completionLevel, op.header, "%s", op.completionLine);
    return result;
}
