// SPDX-License-Identifier: Apache-2.0
// CheckLines: the lines `kysnap check` prints, one per check ("ok", "warn", "FAIL", or a
// detail), each failure with its remedy; with --json, one document holding them all. And how
// a line quotes what an array answered: bounded, and with the reason an answer was unusable.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "ArrayProbe.h"
#include "CertificateReport.h"
#include "JsonOutput.h"

namespace kysnap {

class CheckLines {
public:
    CheckLines(bool json, const std::string& command) : json_(json), command_(command) {}

    void ok(const std::string& subject, const std::string& message) {
        add("ok", subject, message, "");
    }
    void warn(const std::string& subject, const std::string& message,
              const std::string& remedy = "") {
        add("warn", subject, message, remedy);
    }
    void fail(const std::string& subject, const std::string& message, const std::string& remedy) {
        failed_ = true;
        add("FAIL", subject, message, remedy);
    }
    bool failed() const { return failed_; }
    void report(const ReportLine& line, const std::string& subject);

    // Prints the JSON document when --json was given (the text lines went out as added).
    void finish();

private:
    void add(const char* verdict, const std::string& rawSubject, const std::string& rawMessage,
             const std::string& rawRemedy);

    bool json_;
    std::string command_;
    bool failed_ = false;
    JsonDocument checks_ = JsonDocument::array();
};

// Array text as a check line quotes it: its first 200 bytes, and its length when it is longer,
// so that no answer can flood the terminal (the line escapes it as it prints).
std::string arrayText(const std::string& text);

// Why a probe got no usable answer: what the HTTP client met (a time-out, an answer over the
// size limit, a redirect), or the array's error status.
std::string whyFailed(const ApiAnswer& answer);

// Reads a 2xx answer as a JSON array with the strict reader. False with `why` saying what was
// wrong otherwise: the array's failure (as whyFailed), or why its answer cannot be read (a key
// given twice, text after the value, not JSON, not a list).
bool readList(const ApiAnswer& answer, nlohmann::json& list, std::string& why);

// `values` as one positional parameter each, as the array's request bodies hold them.
std::string requestBody(const nlohmann::json& values);

}  // namespace kysnap
