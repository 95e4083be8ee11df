// SPDX-License-Identifier: Apache-2.0
#include "SupportCommand.h"

#include <cstring>

#include "CannotRun.h"
#include "Report.h"
#include "Session.h"

namespace kysnap {

int runSupport(const Options& options, const Session::Needs& needs) {
    std::string error;
    auto session = Session::open(options, needs, error);
    if (!session) {
        return cannotRun(options, error);
    }
    OperationReport report;
    report.operation = options.command;
    std::vector<int32_t> results;
    for (const std::string& device : options.arguments) {
        const size_t before = session->log->debugErrors().size();
        const KYSO::ResultCode result =
            session->plugin->isSupported(device.c_str(), 0, session->backend.get(), nullptr, 0);
        results.push_back(result);
        RequestOutcome outcome;
        outcome.device = device;
        outcome.hasStatus = false;
        outcome.succeeded = result == KYSO::RESULT_SUCCESS;
        outcome.state = outcome.succeeded ? "supported" : "not supported";
        const auto& reasons = session->log->debugErrors();
        if (!outcome.succeeded && reasons.size() > before) {
            outcome.detail = "(" + reasons.back() + ")";
        }
        report.requests.push_back(outcome);
    }
    report.result = combinedResult(results);
    report.hostProblems = session->backend->problems();
    printReport(report, options.json, options.verbose);
    return report.exitStatus();
}

}  // namespace kysnap
