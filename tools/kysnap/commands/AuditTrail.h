// SPDX-License-Identifier: Apache-2.0
// AuditTrail: the audit entries of one run of a changing command (AuditLog.h) and their one
// write. The operation is data, so that any command (prune included) records through it.
//
// A failure to write the log is one warning line on standard error and changes neither the
// array, where the operation is already done, nor the exit status: that says what happened on
// the array and in the catalog, and the warning says what the log lacks.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "AuditLog.h"
#include "HostConfig.h"
#include "HostTypes.h"
#include "Options.h"

namespace kysnap {

class AuditTrail {
public:
    // The trail of a run of `options` under `config` that started at `started`; `catalogPath`
    // is the catalog's file (the log's default place is beside it), `host` the host's name.
    AuditTrail(const HostConfig& config, const std::string& catalogPath, std::string host,
               std::chrono::steady_clock::time_point started);

    // An entry of `operation` with the time, uid, host and the seconds since the run started
    // filled; the caller fills what it is about and its result.
    AuditEntry entry(const std::string& operation) const;

    // Appends `entries`; false, after its one warning line, when they cannot be written.
    bool write(const std::vector<AuditEntry>& entries) const;

    const std::string& path() const { return path_; }

private:
    std::string path_;
    AuditSyslog syslog_;
    std::string host_;
    std::chrono::steady_clock::time_point started_;
};

// The array methods the plug-in sent in `lines` (its log lines about one request), in order;
// a listing the call's memory answered was not sent and is left out.
std::vector<std::string> arrayMethodsSent(const std::vector<hostkit::LogLine>& lines);

// The catalog file `options` name: --state, else the default (CatalogStore.h).
std::string catalogPathOf(const Options& options);

}  // namespace kysnap
