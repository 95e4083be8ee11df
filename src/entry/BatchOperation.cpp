#include "BatchOperation.h"

#include <chrono>
#include <memory>
#include <new>

#include "CMCopyRequest.h"
#include "CallScope.h"
#include "CallSummary.h"
#include "EvDebug.h"
#include "LMSleep.h"

namespace batch {

using Step = BatchOperation::Step;
using KYSO::SnapInfo;

const BatchOperation kProcessVpd = {
    "KYSO::ResultCode kyso_processVPDInfo(KYSO::SnapInfo**, int16_t, KYSO::KYOSUtil*)",
    "number of process VPD info request received [%d]",
    "copy prepare request index [%d]",
    "process VPD request failed error [%d]",
    "CMCopyServerTegile object allocation failed",
    "snap process vpd info operation failed. system is running out of memory",
    "CopyRequest process VPD info completed",
    1,
    1,
    KYSO::SNAP_PREPARE_FAILED,
    KYSO::ERROR_PREPARE,
    true,
    false,
    false,
    true,
    Step::None,
    &CMCopyServerTegile::processVPD};

const BatchOperation kPrepare = {"TEGILE KYCopyManagerTegile::kyso_prepareDevices() -",
                                 "number of copy prepare request received [%d]",
                                 "copy prepare request index [%d]",
                                 "copy prepare request failed error [%d]",
                                 "CMCopyServerTegile object allocation failed",
                                 "snap prepare operation failed. system is running out of memory",
                                 "CopyRequest prepare completed",
                                 1,
                                 1,
                                 KYSO::SNAP_PREPARE_FAILED,
                                 KYSO::ERROR_PREPARE,
                                 true,
                                 true,
                                 false,
                                 true,
                                 Step::None,
                                 &CMCopyServerTegile::prepare};

const BatchOperation kCreate = {"TEGILE KYCopyManagerTegile::kyso_snapDevices() -",
                                "number of copy create request received [%d]",
                                nullptr,
                                "CopyRequest create failed error [%d]",
                                "CMCopyServerTegile object allocation faild",
                                "snap create operation failed. system is running out of memory",
                                "CopyRequest copy completed",
                                0,
                                0,
                                KYSO::SNAP_CREATE_FAILED,
                                KYSO::ERROR_CREATE,
                                false,
                                false,
                                true,
                                true,
                                Step::Create,
                                &CMCopyServerTegile::createCopy};

const BatchOperation kMount = {"TEGILE KYCopyManagerTegile::kyso_mapSnaps() -",
                               "number of copy mount request received [%d]",
                               "copy mount request index [%d]",
                               "CopyRequest mount failed error [%d]",
                               "CMCopyServerTegile object allocation failed",
                               "snap mount operation failed. system is running out of memory",
                               "CopyRequest mount completed",
                               1,
                               2,
                               KYSO::SNAP_MOUNT_FAILED,
                               KYSO::ERROR_MOUNT,
                               true,
                               true,
                               true,
                               true,
                               Step::Mount,
                               &CMCopyServerTegile::mountCopy};

const BatchOperation kUnmount = {"TEGILE KYCopyManagerTegile::kyso_unmapSnaps() -",
                                 "number of copy unmount request received [%d]",
                                 "copy unmount request index [%d]",
                                 "CopyRequest unmount failed error [%d]",
                                 "CMCopyServerTegile object allocation failed",
                                 "snap unmount operation failed. system is running out of memory",
                                 "CopyRequest unmount completed",
                                 1,
                                 2,
                                 KYSO::SNAP_UNMOUNT_FAILED,
                                 KYSO::ERROR_UNMOUNT,
                                 true,
                                 true,
                                 true,
                                 false,
                                 Step::Unmount,
                                 &CMCopyServerTegile::unmountCopy};

const BatchOperation kDelete = {"TEGILE KYCopyManagerTegile::kyso_deleteSnaps() -",
                                "number of copy delete request received [%d]",
                                "copy delete request index [%d]",
                                "CopyRequest delete failed error [%d]",
                                "CMCopyServerTegile object allocation failed",
                                "snap delete operation failed. system is running out of memory",
                                "CopyRequest delete completed",
                                1,
                                2,
                                KYSO::SNAP_DELETE_FAILED,
                                KYSO::ERROR_DELETE,
                                true,
                                true,
                                true,
                                false,
                                Step::None,
                                &CMCopyServerTegile::deleteCopy};

const BatchOperation kRevert = {"TEGILE KYCopyManagerTegile::kyso_revertSnaps() -",
                                "number of copy revert request received [%d]",
                                "copy revert request index [%d]",
                                "CopyRequest revert failed error [%d]",
                                "CMCopyServerTegile object allocation failed",
                                "snap revert operation failed. system is running out of memory",
                                "CopyRequest revert completed",
                                1,
                                2,
                                KYSO::SNAP_REVERT_FAILED,
                                KYSO::ERROR_REVERT,
                                true,
                                true,
                                true,
                                false,
                                Step::None,
                                &CMCopyServerTegile::revertCopy};

const BatchOperation kReconcile = {"TEGILE KYCopyManagerTegile::kyso_reconcileSnaps() -",
                                   "number of copy reconcile request received [%d]",
                                   "copy reconcile request index [%d]",
                                   "CopyRequest reconcile failed error [%d]",
                                   "CMCopyServerTegile object allocation failed",
                                   nullptr,
                                   "CopyRequest reconcile completed",
                                   1,
                                   1,
                                   0,
                                   KYSO::ERROR_RECONCILE,
                                   true,
                                   true,
                                   true,
                                   false,
                                   Step::None,
                                   &CMCopyServerTegile::reconcileCopy};

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
        target->log(2, header, "%s", "out of memory");
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
    target->log(1, header, "%s", "checking all the devices discovered");
    while (remaining != 0) {
        target->log(1, header, "retry count [%d] retry inteval [%d]", static_cast<int>(remaining),
                    static_cast<int>(interval));
        ++retries;
        status = server.mapCopyToHost(true);
        if (status == COPY_SUCCESS) {
            target->log(1, header, "%s", "device found from all the devices discovered");
            return status;
        }
        --remaining;
        // Seconds from the host's configuration; the wait saturates instead of wrapping.
        const unsigned long long ms = static_cast<unsigned long long>(interval) * 1000ULL;
        LMSLEEP(ms > 0xFFFFFFFFULL ? 0xFFFFFFFFU : static_cast<unsigned int>(ms));
    }
    target->log(1, header, "%s", "device not found from all the devices discovered");
    return status;
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
        target->log(2, op.header, "%s", op.allocationFailure);
        if (op.outOfMemory != nullptr) {
            target->setError(op.errorCode, op.outOfMemory);
        }
        return KYSO::RESULT_FAILED;
    }
    if (op.logServerCreated) {
        target->log(1, op.header, "%s", "CMCopyServerTegile created");
    }
    server->setLogger(requests[0]);

    int succeeded = 0;
    Copy_Status last = COPY_SUCCESS;
    for (int16_t i = 0; i < count; ++i) {
        if (op.followRequest) {
            target = requests[i];
        }
        if (op.indexLine != nullptr) {
            target->log(1, op.header, op.indexLine, static_cast<int>(i));
        }
        std::unique_ptr<CMCopyRequest> wrapper(new (std::nothrow) CMCopyRequest(requests[i]));
        if (!wrapper) {
            target->log(2, op.header, "%s", "CMCopyRequest object allocation failed");
            if (op.stopAtFirstFailure) {
                break;
            }
            continue;
        }
        if (op.logRequestState) {
            target->log(1, op.header, "CMCopyRequest created state [%d]",
                        static_cast<int>(requests[i]->getSnapStatus()));
        }
        server->setCopyRequest(wrapper.get());
        last = memoryGuarded(target, op.header, [&] { return ((*server).*op.drive)(); });
        server->setCopyRequest(nullptr);
        if (last == COPY_SUCCESS) {
            ++succeeded;
            continue;
        }
        target->log(2, op.header, op.failureLine, static_cast<int>(last));
        if (op.stopAtFirstFailure) {
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
                    server->unmapCopyFromHost();
                    break;
                case BatchOperation::Step::None:
                    break;
            }
            return COPY_SUCCESS;
        });
        if (step != COPY_SUCCESS) {
            last = step;
            succeeded = 0;
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
    target->log(1, op.header, "call summary %s",
                callSummary(call.statistics(), std::chrono::steady_clock::now() - started, retries)
                    .c_str());
    target->log(op.completionLevel, op.header, "%s", op.completionLine);
    return result;
}
