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

    const char* header;
    const char* countLine;          // one %d: the number of requests
    const char* indexLine;          // one %d: the index; null: none
    const char* failureLine;        // one %d: the status
    const char* allocationFailure;  // when the copy server cannot be made
    const char* outOfMemory;        // setError text then; null: none
    const char* completionLine;
    int countLevel;
    int completionLevel;
    int32_t failedStatus;  // set on every request first; 0: none
    int32_t errorCode;
    bool logServerCreated;  // "CMCopyServerTegile created"
    bool logRequestState;   // "CMCopyRequest created state [%d]"
    bool followRequest;     // request i becomes the log target
    bool stopAtFirstFailure;
    Step step;
    Copy_Status (CMCopyServerTegile::*drive)();
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
KYSO::ResultCode runBatch(const BatchOperation& operation, KYSO::SnapInfo** requests, int16_t count,
                          KYSO::KYOSUtil* util);

// The host's arguments hold no null request and an OS utility; logs why not under `header`.
bool validRequests(const char* header, KYSO::SnapInfo** requests, int16_t count,
                   KYSO::KYOSUtil* util);
