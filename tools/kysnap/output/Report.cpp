// SPDX-License-Identifier: Apache-2.0
#include "Report.h"

#include <cstdio>

#include "KYSOTypes.h"
#include "JsonOutput.h"
#include "Options.h"
#include "PluginTexts.h"
#include "StatusNames.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// Whether the array refused the credentials in a failed request: the plug-in says so where a
// method reads the refusal, and otherwise only its HTTP failure line shows it (discovery, for
// one, passes any failure on as its own).
bool credentialsRefused(const OperationReport& report) {
    for (const RequestOutcome& outcome : report.requests) {
        for (const std::string& line : outcome.failures) {
            for (const char* sign : plugintext::kCredentialsRefusedSigns) {
                if (line.find(sign) != std::string::npos) {
                    return true;
                }
            }
        }
    }
    return false;
}

size_t failures(const OperationReport& report) {
    size_t failed = 0;
    for (const RequestOutcome& outcome : report.requests) {
        failed += outcome.succeeded ? 0 : 1;
    }
    return failed;
}

// Texts that may quote the array are terminal-safe in JSON too: the report is often read on a
// terminal. One fact per member: a status or result by name, its number as the plug-in set it
// beside it as "...Code".
void printJson(const OperationReport& report) {
    JsonDocument root = jsonDocument(report.operation);
    root["result"] = resultName(report.result);
    root["resultCode"] = report.result;
    root["exitStatus"] = report.exitStatus();
    root["requests"] = JsonDocument::array();
    for (const RequestOutcome& outcome : report.requests) {
        JsonDocument entry;
        if (!outcome.snapshot.empty()) {
            entry["snapshot"] = outcome.snapshot;
        }
        entry["device"] = visibleText(outcome.device);
        if (outcome.hasStatus) {
            entry["status"] = statusName(outcome.status);
            entry["statusCode"] = outcome.status;
        } else if (!outcome.state.empty()) {
            entry["state"] = outcome.state;
        }
        entry["succeeded"] = outcome.succeeded;
        if (!outcome.detail.empty()) {
            entry["detail"] = visibleText(outcome.detail);
        }
        if (!outcome.reason.empty()) {
            entry["reason"] = visibleText(outcome.reason);
        }
        if (!outcome.failures.empty()) {
            entry["pluginFailures"] = JsonDocument::array();
            for (const std::string& line : outcome.failures) {
                entry["pluginFailures"].push_back(visibleText(line));
            }
        }
        root["requests"].push_back(std::move(entry));
    }
    root["errors"] = JsonDocument::array();
    for (const hostkit::ErrorReport& error : report.errors) {
        root["errors"].push_back({{"code", error.code}, {"message", visibleText(error.message)}});
    }
    root["hostProblems"] = JsonDocument::array();
    for (const std::string& problem : report.hostProblems) {
        root["hostProblems"].push_back(visibleText(problem));
    }
    if (!report.catalogError.empty()) {
        root["catalogError"] = visibleText(report.catalogError);
        root["unrecorded"] = JsonDocument::array();
        for (const std::string& item : report.unrecorded) {
            root["unrecorded"].push_back(visibleText(item));
        }
    }
    printJsonDocument(root);
}

// What a request's lines name: its snapshot and device, or its device.
std::string subjectOf(const RequestOutcome& outcome) {
    return outcome.snapshot.empty() ? outcome.device
                                    : outcome.snapshot + " (" + outcome.device + ")";
}

void printText(const OperationReport& report, bool verbose) {
    for (const RequestOutcome& outcome : report.requests) {
        const std::string subject = subjectOf(outcome);
        const std::string state =
            outcome.hasStatus
                ? statusName(outcome.status) + " (" + std::to_string(outcome.status) + ")"
                : (!outcome.state.empty() ? outcome.state
                                          : (outcome.succeeded ? "done" : "failed"));
        std::printf("%-9s %s: %s%s%s\n", report.operation.c_str(), visibleText(subject).c_str(),
                    state.c_str(), outcome.detail.empty() ? "" : " ",
                    visibleText(outcome.detail).c_str());
    }
    // Each failed request's reason on its own line, against it; the plug-in's lines and
    // errors quote the array's answers.
    for (const RequestOutcome& outcome : report.requests) {
        const std::string subject = visibleText(subjectOf(outcome));
        for (const std::string& line : outcome.failures) {
            std::printf("%-9s %s: plug-in: %s\n", report.operation.c_str(), subject.c_str(),
                        visibleText(line).c_str());
        }
        const bool shown =
            !outcome.failures.empty() || outcome.detail.find(outcome.reason) != std::string::npos;
        if (!outcome.succeeded && !outcome.reason.empty() && !shown) {
            std::printf("%-9s %s: %s\n", report.operation.c_str(), subject.c_str(),
                        visibleText(outcome.reason).c_str());
        }
    }
    if (report.result != 0) {
        for (const hostkit::ErrorReport& error : report.errors) {
            std::printf("%-9s error %d: %s\n", report.operation.c_str(), error.code,
                        visibleText(error.message).c_str());
        }
        if (credentialsRefused(report)) {
            std::printf("%-9s the array refused the credentials; run kysnap check\n",
                        report.operation.c_str());
        }
    }
    for (const std::string& problem : report.hostProblems) {
        std::printf("%-9s host: %s\n", report.operation.c_str(), visibleText(problem).c_str());
    }
    std::printf("%-9s result: %s (%d)\n", report.operation.c_str(),
                resultName(report.result).c_str(), report.result);
    if (!report.catalogError.empty()) {
        std::printf("%-9s %s: kysnap exits with %d\n", report.operation.c_str(),
                    notRecordedMessage(report).c_str(), report.exitStatus());
    } else if (report.result == KYSO::RESULT_SUCCESS && failures(report) != 0) {
        std::printf("%-9s but %zu of %zu requests did not succeed: kysnap exits with %d\n",
                    report.operation.c_str(), failures(report), report.requests.size(),
                    report.exitStatus());
    }
    if (report.exitStatus() != 0 && !verbose) {
        std::printf("%-9s (--verbose shows the plug-in's whole log)\n", report.operation.c_str());
    }
}

}  // namespace

void printReport(const OperationReport& report, bool json, bool verbose) {
    if (json) {
        printJson(report);
    } else {
        printText(report, verbose);
    }
    std::fflush(stdout);
}

std::string notRecordedMessage(const OperationReport& report) {
    std::string message = "the catalog was not updated (" + report.catalogError + ")";
    if (report.unrecorded.empty()) {
        return message;
    }
    if (report.unrecordedWork == UnrecordedWork::MountedClones) {
        // A clone is on the array for each, with no record of the mount.
        message += "; mounted on the array but not recorded:";
        for (const std::string& item : report.unrecorded) {
            message += " " + item + " (clone MNT_" + item +
                       ": kysnap reconcile records it once "
                       "the catalog can be written, kysnap unmap " +
                       item + " removes it)";
        }
        return message;
    }
    message += report.unrecordedWork == UnrecordedWork::CreatingRecords
                   ? "; made on the array but recorded only as \"creating\" (kysnap reconcile "
                     "settles them once the catalog can be written):"
                   : "; done on the array but not recorded (kysnap reconcile settles them once "
                     "the catalog can be written):";
    for (const std::string& item : report.unrecorded) {
        message += " " + item;
    }
    return message;
}

int32_t OperationReport::exitStatus() const {
    if (!catalogError.empty()) {
        return kExitNotRecorded;
    }
    // The plug-in's own verdict stands where it says something failed.
    if (result == KYSO::RESULT_PARTIAL) {
        return kExitPartial;
    }
    if (result != KYSO::RESULT_SUCCESS) {
        return kExitFailure;
    }
    const size_t failed = failures(*this);
    if (failed == 0) {
        return kExitSuccess;
    }
    return failed == requests.size() ? kExitFailure : kExitPartial;
}

int32_t combinedResult(const std::vector<int32_t>& results) {
    bool all0 = true;
    bool all1 = true;
    for (int32_t result : results) {
        all0 = all0 && result == 0;
        all1 = all1 && result == 1;
    }
    if (results.empty() || all0) {
        return 0;
    }
    return all1 ? 1 : 2;
}

}  // namespace kysnap
