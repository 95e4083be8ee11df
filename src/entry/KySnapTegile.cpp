// SPDX-License-Identifier: Apache-2.0
// The plug-in's entry points. They only translate between the host and the copy server:
// check the arguments, drive the operation, map its outcome to a result code. Every body runs
// inside guarded(), so no exception reaches the host.
#include "BatchOperation.h"
#include "EntryGuard.h"
#include "IdentifyDevices.h"
#include "KysoExports.h"
#include "SupportCheck.h"

KYSO_EXPORT void kyso_version(int16_t* major, int16_t* minor, int16_t* patch) {
    if (major != nullptr) {
        *major = 1;
    }
    if (minor != nullptr) {
        *minor = 0;
    }
    if (patch != nullptr) {
        *patch = 0;
    }
}

KYSO_EXPORT KYSO::ResultCode kyso_isSupported(const char* device, int32_t /*flags*/,
                                              KYSO::KYOSUtil* util, void* /*reserved*/,
                                              int16_t /*option*/) {
    return guarded(__func__, [&] { return checkSupport(device, util); });
}

KYSO_EXPORT KYSO::ResultCode kyso_processVPDInfo(KYSO::SnapInfo** requests, int16_t count,
                                                 KYSO::KYOSUtil* util) {
    return guarded(__func__, [&] { return runBatch(batch::kProcessVpd, requests, count, util); });
}

KYSO_EXPORT KYSO::ResultCode kyso_prepareDevices(KYSO::SnapInfo** requests, int16_t count,
                                                 KYSO::KYOSUtil* util) {
    return guarded(__func__, [&] { return runBatch(batch::kPrepare, requests, count, util); });
}

KYSO_EXPORT KYSO::ResultCode kyso_unprepareDevices(KYSO::SnapInfo** requests, int16_t count,
                                                   KYSO::KYOSUtil* /*util*/) {
    return guarded(__func__, [&] {
        if (isEmptyCall(requests, count)) {
            return KYSO::RESULT_SUCCESS;
        }
        for (int16_t i = 0; i < count; ++i) {
            if (KYSO::SnapInfo* request = requests[i]) {
                request->setMetaData(KYSO::META_SNAPSHOT, nullptr);
                request->setSnapStatus(KYSO::SNAP_UNPREPARED);
            }
        }
        return KYSO::RESULT_SUCCESS;
    });
}

KYSO_EXPORT KYSO::ResultCode kyso_snapDevices(KYSO::SnapInfo** requests, int16_t count,
                                              KYSO::KYOSUtil* util) {
    return guarded(__func__, [&] { return runBatch(batch::kCreate, requests, count, util); });
}

KYSO_EXPORT KYSO::ResultCode kyso_isMapped(KYSO::SnapInfo** /*requests*/, int16_t /*count*/,
                                           KYSO::KYOSUtil* /*util*/) {
    return KYSO::RESULT_SUCCESS;
}

KYSO_EXPORT KYSO::ResultCode kyso_mapSnaps(KYSO::SnapInfo** requests, int16_t count,
                                           KYSO::KYOSUtil* util) {
    return guarded(__func__, [&] { return runBatch(batch::kMount, requests, count, util); });
}

KYSO_EXPORT KYSO::ResultCode kyso_unmapSnaps(KYSO::SnapInfo** requests, int16_t count,
                                             KYSO::KYOSUtil* util) {
    return guarded(__func__, [&] { return runBatch(batch::kUnmount, requests, count, util); });
}

KYSO_EXPORT KYSO::ResultCode kyso_deleteSnaps(KYSO::SnapInfo** requests, int16_t count,
                                              KYSO::KYOSUtil* util) {
    return guarded(__func__, [&] { return runBatch(batch::kDelete, requests, count, util); });
}

KYSO_EXPORT KYSO::ResultCode kyso_revertSnaps(KYSO::SnapInfo** requests, int16_t count,
                                              KYSO::KYOSUtil* util) {
    return guarded(__func__, [&] { return runBatch(batch::kRevert, requests, count, util); });
}

KYSO_EXPORT KYSO::ResultCode kyso_reconcileSnaps(KYSO::SnapInfo** requests, int16_t count,
                                                 KYSO::KYOSUtil* util) {
    return guarded(__func__, [&] { return runBatch(batch::kReconcile, requests, count, util); });
}

KYSO_EXPORT KYSO::ResultCode kyso_execSnapEngineOp(KYSO::SnapInfo** /*requests*/, int16_t /*count*/,
                                                   KYSO::KYOSUtil* /*util*/) {
    return KYSO::RESULT_FAILED;
}

KYSO_EXPORT KYSO::ResultCode kyso_identifyDevices(KYSO::SnapInfo** requests, int16_t count,
                                                  KYSO::DeviceMap& devices, int32_t operation,
                                                  int16_t& /*reserved*/, KYSO::KYOSUtil* util) {
    return guarded(__func__,
                   [&] { return identifyDevices(requests, count, devices, operation, util); });
}
