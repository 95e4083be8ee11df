// SPDX-License-Identifier: Apache-2.0
#include "AuditTrail.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "CatalogStore.h"
#include "PluginTexts.h"
#include "VisibleText.h"

namespace kysnap {

AuditTrail::AuditTrail(const HostConfig& config, const std::string& catalogPath, std::string host,
                       std::chrono::steady_clock::time_point started)
    : path_(auditLogPath(config.auditLog, catalogPath)),
      syslog_(config.auditSyslog ? AuditSyslog::On : AuditSyslog::Off),
      host_(std::move(host)),
      started_(started) {}

AuditEntry AuditTrail::entry(const std::string& operation) const {
    AuditEntry entry;
    entry.time = std::time(nullptr);
    entry.uid = getuid();
    entry.host = host_;
    entry.operation = operation;
    entry.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    return entry;
}

bool AuditTrail::write(const std::vector<AuditEntry>& entries) const {
    std::string error;
    if (appendAuditEntries(path_, entries, syslog_, error)) {
        return true;
    }
    std::fprintf(stderr,
                 "kysnap: warning: the audit log lacks this run's %zu %s (done as reported): "
                 "%s\n",
                 entries.size(), entries.size() == 1 ? "entry" : "entries",
                 visibleText(error).c_str());
    return false;
}

namespace {

// The array method a request line of the plug-in names ("" when `text` is no request line): the
// line is the request format's, "type [T] url [URL] request [BODY]", and the method is what
// follows the API path in URL.
std::string requestedMethod(const std::string& text) {
    const std::string format = plugintext::kRequestLineFormat;
    const size_t type = format.find("%d");
    const size_t url = format.find("%s");
    const std::string before = format.substr(0, type);
    const std::string between = format.substr(type + 2, url - type - 2);
    if (text.compare(0, before.size(), before) != 0) {
        return "";
    }
    const size_t digits = text.find_first_not_of("0123456789", before.size());
    if (digits == before.size() || digits == std::string::npos ||
        text.compare(digits, between.size(), between) != 0) {
        return "";
    }
    const size_t address = digits + between.size();
    const size_t path = text.find(plugintext::kApiPath, address);
    const size_t end = text.find(']', address);
    if (path == std::string::npos || path > end) {
        return "";
    }
    const size_t start = path + sizeof plugintext::kApiPath - 1;
    const size_t stop = text.find_first_of("]?/", start);
    return text.substr(start, stop - start);
}

}  // namespace

std::vector<std::string> arrayMethodsSent(const std::vector<hostkit::LogLine>& lines) {
    std::vector<std::string> methods;
    bool lastWasRequest = false;
    for (const hostkit::LogLine& line : lines) {
        std::string method = requestedMethod(line.text);
        if (!method.empty()) {
            methods.push_back(std::move(method));
            lastWasRequest = true;
            continue;
        }
        // A listing the call's memory answered is logged so right after its request line.
        if (lastWasRequest && line.text.rfind(plugintext::kCallMemoryAnswer, 0) == 0) {
            methods.pop_back();
        }
        lastWasRequest = false;
    }
    return methods;
}

std::string catalogPathOf(const Options& options) {
    return options.state.empty() ? defaultStatePath() : options.state;
}

}  // namespace kysnap
