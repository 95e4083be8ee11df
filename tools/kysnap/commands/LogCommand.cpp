// SPDX-License-Identifier: Apache-2.0
#include "LogCommand.h"

#include <cstdio>
#include <cstdlib>

#include "AuditLog.h"
#include "AuditTrail.h"
#include "CannotRun.h"
#include "JsonOutput.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

bool readCount(const Options& options, size_t& count) {
    count = 0;
    if (options.arguments.empty()) {
        return true;
    }
    const std::string& text = options.arguments.front();
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    count = static_cast<size_t>(std::strtoul(text.c_str(), nullptr, 10));
    return count > 0;
}

std::string text(const nlohmann::json& entry, const char* key) {
    const auto found = entry.find(key);
    return found != entry.end() && found->is_string() ? visibleText(found->get<std::string>()) : "";
}

// One entry for a person: time, who, what on which array, the outcome and the methods sent.
void printEntry(const nlohmann::json& entry) {
    const std::string snapshot = text(entry, "snapshot");
    const std::string device = text(entry, "device");
    const std::string dataset = text(entry, "dataset");
    std::string about =
        snapshot.empty() ? device : snapshot + (device.empty() ? "" : " of " + device);
    about += dataset.empty() ? "" : " (" + dataset + ")";
    std::string methods;
    for (const nlohmann::json& method : entry.value("methods", nlohmann::json::array())) {
        methods += (methods.empty() ? "" : " ") + visibleText(method.get<std::string>());
    }
    const std::string status = text(entry, "status");
    const std::string array = text(entry, "array");
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3fs", entry.value("seconds", 0.0));
    std::string line = text(entry, "time") + " uid " + entry["uid"].dump() + " on " +
                       text(entry, "host") + ": " + text(entry, "operation") +
                       (about.empty() ? "" : " " + about) + " on array " +
                       (array.empty() ? "-" : array) + ": " + text(entry, "result") +
                       (status.empty() ? "" : " (" + status + ")") + ", exit " +
                       (entry.contains("exitStatus") ? entry["exitStatus"].dump() : "-") + ", " +
                       seconds + (methods.empty() ? "" : "; array methods: " + methods);
    std::printf("%s\n", line.c_str());
}

}  // namespace

int runLog(const Options& options, const Session::Needs& needs) {
    size_t count = 0;
    if (!readCount(options, count)) {
        return usageError(options, "kysnap log takes a number of entries above 0, not '" +
                                       options.arguments.front() + "'");
    }
    std::string error;
    const std::unique_ptr<Session> session = Session::open(options, needs, error);
    if (!session) {
        return cannotRun(options, error);
    }
    const std::string path = auditLogPath(session->config.auditLog, catalogPathOf(options));
    std::vector<AuditRecord> records;
    bool missing = false;
    if (!readAuditLog(path, count, records, missing, error) && !missing) {
        return cannotRun(options, error);
    }
    if (options.json) {
        JsonDocument document = jsonDocument(options.command);
        document["log"] = visibleText(path);
        document["entries"] = JsonDocument::array();
        for (const AuditRecord& record : records) {
            JsonDocument shown = {{"line", record.line}};
            if (record.wellFormed) {
                // As written, its members in their order.
                shown["entry"] = JsonDocument::parse(record.text);
            } else {
                shown["malformed"] = visibleText(record.text);
                shown["problem"] = visibleText(record.problem);
            }
            document["entries"].push_back(std::move(shown));
        }
        printJsonDocument(document);
        return kExitSuccess;
    }
    if (records.empty()) {
        std::printf("the audit log %s holds no entry%s\n", visibleText(path).c_str(),
                    missing ? " (it is not written yet)" : "");
    }
    for (const AuditRecord& record : records) {
        if (record.wellFormed) {
            printEntry(record.entry);
        } else {
            std::printf("line %zu is malformed (%s): %s\n", record.line,
                        visibleText(record.problem).c_str(), visibleText(record.text).c_str());
        }
    }
    return kExitSuccess;
}

}  // namespace kysnap
