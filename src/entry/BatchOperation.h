// SPDX-License-Identifier: Apache-2.0
// The loop that every batch export shares: failure statuses first, one copy server for the
// call, the operation's driver for each request, the batch step of create, mount and
// unmount, and the result code with its error for the host. What differs between operations
// is data: a BatchOperation.
#pragma once

#include <cstdint>

#include "CMCopyServerTegile.h"
#include "KYOSUtil.h"
#include "KYSOTypes.h"
#include "SnapInfo.h"

struct BatchOperation {
    enum class Step { None, Create, Mount, Unmount };
    // The request the loop logs through and gives the call's error.
    enum class LogTarget { FirstRequest, CurrentRequest };
    // What the loop does after a request failed.
    enum class AfterFailure { Stop, GoOn };
    enum class Line { Logged, Omitted };

    const char* header = nullptr;
    const char* countLine = nullptr;  // one %d: the number of requests
    int countLevel = 1;
    const char* indexLine = nullptr;          // one %d: the index; null: none
    const char* failureLine = nullptr;        // one %d: the status
    const char* allocationFailure = nullptr;  // when the copy server cannot be made
    const char* outOfMemory = nullptr;        // setError text then; null: none
    const char* completionLine = nullptr;
    int completionLevel = 1;
    int32_t failedStatus = 0;  // set on every request first; 0: none
    int32_t errorCode = 0;
    Line serverCreatedLine = Line::Logged;  // "CMCopyServerTegile created"
    Line requestStateLine = Line::Logged;   // "CMCopyRequest created state [%d]"
    LogTarget logTarget = LogTarget::FirstRequest;
    AfterFailure afterFailure = AfterFailure::Stop;
    Step step = Step::None;
    Copy_Status (CMCopyServerTegile::*drive)() = nullptr;
};

namespace batch {
extern const BatchOperation kProcessVpd;
extern const BatchOperation kPrepare;
extern const BatchOperation kCreate;
extern const BatchOperation kMount;
extern const BatchOperation kUnmount;
extern const BatchOperation kDelete;
extern const BatchOperation kRevert;
extern const BatchOperation kReconcile;
}  // namespace batch

// Runs `operation` over the host's requests. 1 at once, touching nothing, when there are no
// requests, or (logged through the debug log) when a request or the OS utility is null.
// Memory running out in a request's driver or in the batch step is logged ("out of memory")
// and fails only what was not done: a request the step finished keeps its status and counts,
// so a call whose step ran out after some requests were done answers 2.
KYSO::ResultCode runBatch(const BatchOperation& operation, KYSO::SnapInfo** requests, int16_t count,
                          KYSO::KYOSUtil* util);

// The host's arguments hold no null request and an OS utility; logs why not under `header`.
bool validRequests(const char* header, KYSO::SnapInfo** requests, int16_t count,
                   KYSO::KYOSUtil* util);
