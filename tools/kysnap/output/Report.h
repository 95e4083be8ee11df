// SPDX-License-Identifier: Apache-2.0
// Report: what a kysnap operation prints. For a person: one line per request with its status
// name, the host error text when the result is 1 or 2, what the host itself met, and the
// result. With --json: one JSON object with the same content, for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostTypes.h"

namespace kysnap {

// What a report says of requests done on the array that the catalog could not record.
enum class UnrecordedWork {
    Done,             // done on the array; reconcile settles them
    CreatingRecords,  // snapshots made, on disk only as "creating"
    MountedClones,    // clones mounted with no record of the mount
};

struct RequestOutcome {
    std::string snapshot;  // the snapshot id, when the request is about one
    std::string device;    // the source device as named
    int32_t status = 0;
    bool hasStatus = true;  // false where the plug-in sets no status (support, VPD, ...)
    std::string state;      // shown instead of the status when there is none
    bool succeeded = false;
    std::string detail;                 // e.g. the mounted device, or "LUN ... target ..."
    std::vector<std::string> failures;  // the plug-in's first failure lines for this request
    // Why a failed request failed: the plug-in's first failure line while it worked on this
    // request, else the error it set then, else why kysnap could not give it its array ("":
    // none known, or it succeeded).
    std::string reason;
};

struct OperationReport {
    std::string operation;
    int32_t result = 0;  // the plug-in's result code
    // What kysnap exits with: kExitNotRecorded when the catalog could not be saved; else
    // kExitSuccess when every request succeeded, kExitFailure when none did, kExitPartial when
    // some did, by the requests' outcomes and the plug-in's result code, whichever is worse.
    int32_t exitStatus() const;
    std::vector<RequestOutcome> requests;
    std::vector<hostkit::ErrorReport> errors;  // the host errors the plug-in set
    std::vector<std::string> hostProblems;     // what the host met (backend, arrays)
    std::string catalogError;                  // why the catalog was not saved ("": saved)
    std::vector<std::string> unrecorded;       // what was done on the array but not recorded
    UnrecordedWork unrecordedWork = UnrecordedWork::Done;
};

// The one line saying that the catalog was not saved and what it lacks.
std::string notRecordedMessage(const OperationReport& report);

// Prints `report` on standard output; `verbose` says whether the plug-in's log was shown.
void printReport(const OperationReport& report, bool json, bool verbose);

// The result code of a call made of several plug-in calls: 0 when all were 0, 1 when all
// were 1, else 2.
int32_t combinedResult(const std::vector<int32_t>& results);

}  // namespace kysnap
