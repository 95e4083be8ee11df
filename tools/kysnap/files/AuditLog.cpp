// SPDX-License-Identifier: Apache-2.0
#include "AuditLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>

#include "AtomicFile.h"
#include "BoundedFile.h"
#include "SnapshotNames.h"
#include "StrictJson.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Milliseconds are all a person or a metric needs of a command's length.
double roundedSeconds(double seconds) {
    return std::isfinite(seconds) && seconds > 0 ? std::round(seconds * 1000) / 1000 : 0;
}

bool writeWhole(int fd, const std::string& line) {
    for (;;) {
        const ssize_t wrote = write(fd, line.data(), line.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        // A short write would leave half a line for the next one to run into.
        if (wrote != static_cast<ssize_t>(line.size())) {
            if (wrote >= 0) {
                errno = ENOSPC;
            }
            return false;
        }
        return true;
    }
}

// The members an entry holds and their JSON types: a line with one of another type is not
// taken as an entry.
struct Member {
    const char* name;
    nlohmann::json::value_t type;  // string, number (any numeric type) or array
    bool required;
};
const Member kMembers[] = {
    {"time", nlohmann::json::value_t::string, true},
    {"uid", nlohmann::json::value_t::number_unsigned, true},
    {"host", nlohmann::json::value_t::string, true},
    {"operation", nlohmann::json::value_t::string, true},
    {"array", nlohmann::json::value_t::string, false},
    {"device", nlohmann::json::value_t::string, false},
    {"dataset", nlohmann::json::value_t::string, false},
    {"snapshot", nlohmann::json::value_t::string, false},
    {"methods", nlohmann::json::value_t::array, false},
    {"result", nlohmann::json::value_t::string, true},
    {"status", nlohmann::json::value_t::string, false},
    {"statusCode", nlohmann::json::value_t::number_integer, false},
    {"exitStatus", nlohmann::json::value_t::number_integer, false},
    {"seconds", nlohmann::json::value_t::number_float, false},
};

bool ofType(const nlohmann::json& value, nlohmann::json::value_t type) {
    switch (type) {
        case nlohmann::json::value_t::string:
            return value.is_string();
        case nlohmann::json::value_t::array:
            return value.is_array();
        case nlohmann::json::value_t::number_unsigned:
            return value.is_number_unsigned() || (value.is_number_integer() && value >= 0);
        case nlohmann::json::value_t::number_integer:
            return value.is_number_integer();
        default:
            return value.is_number();
    }
}

// Why `text` is not an entry ("" when it is one).
std::string entryProblem(const std::string& text, nlohmann::json& entry) {
    std::string error;
    if (!strictjson::parseObject(text, entry, error)) {
        return error;
    }
    for (const Member& member : kMembers) {
        const auto found = entry.find(member.name);
        if (found == entry.end()) {
            if (member.required) {
                return std::string("it has no \"") + member.name + "\"";
            }
            continue;
        }
        if (!ofType(*found, member.type)) {
            return std::string("its \"") + member.name + "\" is not of the entry's type";
        }
    }
    std::time_t time = 0;
    if (!parseIsoTime(entry["time"].get<std::string>(), time)) {
        return "its \"time\" is not a UTC time such as 2026-01-31T10:15:00Z";
    }
    for (const nlohmann::json& method : entry.value("methods", nlohmann::json::array())) {
        if (!method.is_string()) {
            return "its \"methods\" holds something other than names";
        }
    }
    return "";
}

struct RawLine {
    size_t number = 0;
    std::string text;
    size_t length = 0;  // the whole line's length, also past what was kept
};

AuditRecord recordOf(const RawLine& raw) {
    AuditRecord record;
    record.line = raw.number;
    if (raw.length > kMaxAuditLineBytes) {
        record.problem =
            "it is " + std::to_string(raw.length) + " bytes long, longer than an entry";
    } else {
        record.problem = entryProblem(raw.text, record.entry);
    }
    record.wellFormed = record.problem.empty();
    record.text = raw.text;
    if (!record.wellFormed) {
        record.entry = nullptr;
        record.text.resize(std::min(record.text.size(), kShownMalformedBytes));
    }
    return record;
}

}  // namespace

std::string auditLogPath(const std::string& configured, const std::string& catalogPath) {
    if (!configured.empty()) {
        return configured;
    }
    const std::string directory = directoryOf(catalogPath);
    return (directory == "/" ? "" : directory) + "/audit.log";
}

std::string auditLine(const AuditEntry& entry) {
    nlohmann::ordered_json line;
    line["time"] = isoTime(entry.time);
    line["uid"] = entry.uid;
    line["host"] = visibleText(entry.host);
    line["operation"] = visibleText(entry.operation);
    line["array"] = visibleText(entry.array);
    line["device"] = visibleText(entry.device);
    line["dataset"] = visibleText(entry.dataset);
    line["snapshot"] = visibleText(entry.snapshot);
    line["methods"] = nlohmann::ordered_json::array();
    for (const std::string& method : entry.methods) {
        line["methods"].push_back(visibleText(method));
    }
    line["result"] = visibleText(entry.result);
    line["status"] = visibleText(entry.status);
    line["statusCode"] = entry.statusCode;
    line["exitStatus"] = entry.exitStatus;
    line["seconds"] = roundedSeconds(entry.seconds);
    // visibleText leaves only valid UTF-8; replace is a second guard, never a throw.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool appendAuditEntries(const std::string& path, const std::vector<AuditEntry>& entries,
                        AuditSyslog toSyslog, std::string& error) {
    if (entries.empty()) {
        return true;
    }
    const std::string what = "the audit log " + visibleText(path);
    // A command that opens no catalog (trust) may come first on a new machine.
    if (!makeDirectories(directoryOf(path), error)) {
        return false;
    }
    // O_NONBLOCK: a FIFO planted at the path is refused below instead of blocking the open.
    const int fd = open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        const int failure = errno;
        struct stat there {};
        if (failure == ELOOP) {
            error = what + " is a symbolic link; it is never written through one";
        } else if (lstat(path.c_str(), &there) == 0 && !S_ISREG(there.st_mode)) {
            // A directory fails the open with EISDIR, a FIFO without a reader with ENXIO:
            // what is there says more than either.
            error = notRegularFile(what, there.st_mode);
        } else {
            errno = failure;
            error = systemError("cannot open " + what);
        }
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = systemError("cannot read what " + what + " is");
        close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = notRegularFile(what, info.st_mode);
        close(fd);
        return false;
    }
    if (info.st_uid != geteuid() && info.st_uid != 0) {
        error = what + " belongs to another user (uid " + std::to_string(info.st_uid) + ")";
        close(fd);
        return false;
    }
    if (toSyslog == AuditSyslog::On) {
        openlog("kysnap", LOG_PID, LOG_AUTHPRIV);
    }
    bool written = true;
    for (const AuditEntry& entry : entries) {
        const std::string line = auditLine(entry);
        if (toSyslog == AuditSyslog::On) {
            syslog(LOG_AUTHPRIV | LOG_INFO, "%s", line.c_str());
        }
        if (written && !writeWhole(fd, line + "\n")) {
            error = systemError("cannot append to " + what);
            written = false;
        }
    }
    if (toSyslog == AuditSyslog::On) {
        closelog();
    }
    if (written && fsync(fd) != 0) {
        error = systemError("cannot flush " + what + " to disk");
        written = false;
    }
    close(fd);
    return written;
}

bool readAuditLog(const std::string& path, size_t last, std::vector<AuditRecord>& records,
                  bool& missing, std::string& error) {
    records.clear();
    missing = false;
    const std::string what = "the audit log " + visibleText(path);
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        missing = errno == ENOENT;
        error = errno == ELOOP ? what + " is a symbolic link; it is never read through one"
                               : systemError("cannot open " + what);
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = fstat(fd, &info) != 0 ? systemError("cannot read what " + what + " is")
                                      : notRegularFile(what, info.st_mode);
        close(fd);
        return false;
    }
    // Only the lines asked for are kept, however long the log has grown.
    std::deque<RawLine> kept;
    RawLine current;
    current.number = 1;
    const auto keep = [&] {
        kept.push_back(std::move(current));
        if (last != 0 && kept.size() > last) {
            kept.pop_front();
        }
        current = RawLine();
        current.number = kept.back().number + 1;
    };
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = systemError("cannot read " + what);
            close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == '\n') {
                keep();
                continue;
            }
            ++current.length;
            if (current.text.size() <= kMaxAuditLineBytes) {
                current.text.push_back(buffer[i]);
            }
        }
    }
    close(fd);
    // A last line without its newline (a write cut short) is shown too: as malformed, when the
    // cut left it so.
    if (current.length > 0) {
        keep();
    }
    for (const RawLine& raw : kept) {
        records.push_back(recordOf(raw));
    }
    return true;
}

}  // namespace kysnap
