// SPDX-License-Identifier: Apache-2.0
// AuditLog: who changed what on which array, one JSON object per line, appended and never
// rewritten. Each changing request (one device or snapshot of a batch) is one line:
//
//   {"time":"2026-12-10T01:02:03Z","uid":0,"host":"db01","operation":"delete","array":"ora1",
//    "device":"/dev/sdb","dataset":"pool-a/Local/oracle/ora-data","snapshot":"KY-...",
//    "methods":["listVolumes","deleteVolumeSnapshot"],"result":"succeeded",
//    "status":"deleted","statusCode":14,"exitStatus":0,"seconds":1.204}
//
// Never a secret: the fields are names, ids and outcomes only, and each text is made terminal
// safe (visibleText) before it is written. Lines are appended with O_APPEND, one write() each,
// and flushed to disk (fsync) before the call returns, so concurrent runs interleave whole lines
// and a crash loses none that was reported written.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kysnap {

struct AuditEntry {
    std::time_t time = 0;
    uid_t uid = 0;
    std::string host;
    std::string operation;  // the command, as data: "snap", "trust", "prune", ...
    std::string array;
    std::string device;                // the source device as named ("" when none, as for trust)
    std::string dataset;               // the dataset path on the array ("" when not known)
    std::string snapshot;              // the snapshot id ("" when none)
    std::vector<std::string> methods;  // the array methods sent for it, in order
    std::string result;                // "succeeded", "failed", ... in words
    std::string status;                // the request status in words ("" when none)
    int64_t statusCode = 0;
    int exitStatus = 0;  // what the command exited with
    double seconds = 0;  // how long the command had run when the request was done
};

// Where the audit log is: `configured` (the [host] key audit-log) when given, else audit.log
// beside the catalog at `catalogPath`.
std::string auditLogPath(const std::string& configured, const std::string& catalogPath);

// One line of the log for `entry`, without its newline.
std::string auditLine(const AuditEntry& entry);

// How the lines also go to syslog.
enum class AuditSyslog { Off, On };

// Appends `entries` to the log at `path` (created with mode 0600, and its directory with mode
// 0700 when missing; never through a symbolic
// link; a FIFO, device or directory there, or a file of another user but root, is refused before
// anything is written), each one write() of its line, then fsync. With AuditSyslog::On each line
// also goes to syslog (facility authpriv, level info: readable by administrators only, as it
// names who changed what). False with `error` set when the log cannot be opened or a line cannot
// be written whole; the lines written before stay.
bool appendAuditEntries(const std::string& path, const std::vector<AuditEntry>& entries,
                        AuditSyslog syslog, std::string& error);

// One line of the log as read back.
struct AuditRecord {
    size_t line = 0;          // its line number, from 1
    bool wellFormed = false;  // a JSON object whose every known field has its type
    nlohmann::json entry;     // when wellFormed: the object as written
    // The line as found; when not wellFormed, cut to kShownMalformedBytes.
    std::string text;
    std::string problem;  // when not: what is wrong with it
};

constexpr size_t kShownMalformedBytes = 200;

// Reads the log at `path`: its last `last` lines (all when 0), in order. A line longer than
// kMaxAuditLineBytes, or not a JSON object of the entry's form, is kept as malformed, never
// guessed at. False with `error` set when the file cannot be read (a link, not a regular file,
// or missing: then `missing` is true and `error` says so).
constexpr size_t kMaxAuditLineBytes = 64 * 1024;
bool readAuditLog(const std::string& path, size_t last, std::vector<AuditRecord>& records,
                  bool& missing, std::string& error);

}  // namespace kysnap
