// SPDX-License-Identifier: Apache-2.0
#include "CheckLines.h"

#include <cstdio>
#include <utility>

#include "StrictJson.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// At most this much of any one text the array sent is shown.
constexpr size_t kShownArrayBytes = 200;

}  // namespace

void CheckLines::report(const ReportLine& line, const std::string& subject) {
    switch (line.kind) {
        case ReportLine::Kind::Ok:
            return ok(subject, line.message);
        case ReportLine::Kind::Warn:
            return warn(subject, line.message, line.remedy);
        case ReportLine::Kind::Fail:
            return fail(subject, line.message, line.remedy);
        case ReportLine::Kind::Detail:
            return add("", subject, line.message, "");
    }
}

void CheckLines::finish() {
    if (json_) {
        JsonDocument root = jsonDocument(command_);
        root["checks"] = checks_;
        root["failed"] = failed_;
        printJsonDocument(root);
    }
    std::fflush(stdout);
}

// Messages quote the array's names and versions: nothing it sends may reach the terminal as a
// control sequence, in either form.
void CheckLines::add(const char* verdict, const std::string& rawSubject,
                     const std::string& rawMessage, const std::string& rawRemedy) {
    const std::string subject = visibleText(rawSubject);
    const std::string message = visibleText(rawMessage);
    const std::string remedy = visibleText(rawRemedy);
    if (json_) {
        JsonDocument check;
        check["result"] = std::string(verdict) == "FAIL" ? "fail"
                          : *verdict == '\0'             ? "detail"
                                                         : verdict;
        check["subject"] = subject;
        check["message"] = message;
        if (!remedy.empty()) {
            check["remedy"] = remedy;
        }
        checks_.push_back(std::move(check));
        return;
    }
    std::printf("%-4s  %s: %s%s%s\n", verdict, subject.c_str(), message.c_str(),
                remedy.empty() ? "" : "; ", remedy.c_str());
    std::fflush(stdout);
}

std::string arrayText(const std::string& text) {
    if (text.size() <= kShownArrayBytes) {
        return text;
    }
    return text.substr(0, kShownArrayBytes) + "... (" + std::to_string(text.size()) +
           " bytes in all)";
}

std::string whyFailed(const ApiAnswer& answer) {
    if (!answer.failure.empty() && answer.status < 400) {
        return answer.failure;
    }
    return "the array answered HTTP " + std::to_string(answer.status);
}

bool readList(const ApiAnswer& answer, nlohmann::json& list, std::string& why) {
    if (!answer.ok) {
        why = whyFailed(answer);
        return false;
    }
    std::string error;
    if (!strictjson::parse(answer.body, list, error)) {
        why = "its answer cannot be read: " + arrayText(error);
        return false;
    }
    if (!list.is_array()) {
        why = "its answer is no JSON list";
        return false;
    }
    return true;
}

std::string requestBody(const nlohmann::json& values) {
    // Names come from the array (read as UTF-8) and the host; a byte that is not UTF-8 is
    // sent replaced, and the array then says it does not know the name.
    return values.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace kysnap
