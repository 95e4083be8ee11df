// SPDX-License-Identifier: Apache-2.0
// The pieces every array API method is made of: what a method states about one call (its
// array method, body and recognised error texts), its log lines, and the rules that read the
// members of a JSON answer into the property map. CMTegileStorageAPI::send runs a call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ArrayMethods.h"
#include "CMLog.h"
#include "CopyStatus.h"
#include "SnapInfo.h"
#include "jsonxx.h"

// "Tegile CMTegileStorageAPI::<function>() -", the header of every line of an API method.
std::string apiHeader(const char* function);

// Log lines of the API, under the header of the method that writes them. Arguments are
// C strings and integers only, as the formats expect.
class ApiLog {
public:
    explicit ApiLog(KYSO::SnapInfo* logger) : logger_(logger) {}

    template <typename... Args>
    void line(int level, const char* function, const char* format, Args... args) const {
        logLine(logger_, level, apiHeader(function), format, args...);
    }
    template <typename... Args>
    void info(const char* function, const char* format, Args... args) const {
        line(1, function, format, args...);
    }
    template <typename... Args>
    void error(const char* function, const char* format, Args... args) const {
        line(2, function, format, args...);
    }

private:
    KYSO::SnapInfo* logger_;
};

// A text the array's failure answer may hold: when any of the needles occurs in the response,
// the call's status becomes `status` and `logFormat` (level 2, one %s for `logValue` at most)
// is written once. Tests run in order; a later match overrides an earlier one.
struct ErrorText {
    std::vector<std::string> needles;
    Copy_Status status;
    const char* logFormat;
    std::string logValue;
};

// "Access Denied": the array refused the credentials.
ErrorText accessDenied();

// What a method states about one array call.
struct ApiCall {
    const char* function;  // the API method, for the log header
    ArrayMethod method;    // the array method called: its row gives the REST name and traits
    std::string body;      // the JSON body; empty sends no parameters
    std::vector<ErrorText> errorTexts = {};
};

// Whether the answer of a method that answers nothing (trait::kAnswersNothing) says it was
// done: HTTP 200 (or 204, No Content, which says the same) with nothing in the body but blanks.
// A 202 only accepted the call; any text, JSON or not, is not what the array answers when done
// (a proxy, a login page, an error object said it), so the call is not known to be done.
bool doneWithNothing(unsigned int httpStatus, const std::string& answer);

// Whether a command status answer (trait::kAnswersCommandStatus) reports success: 0, or an
// empty answer (nothing said). Any other number, or text that is not a number, is a failure the
// array reported or one that cannot be told from it.
bool commandStatusSucceeded(const std::string& answer);

// How a JSON member becomes a property value.
enum class MemberKind {
    Text,       // a JSON string, as it is
    Count,      // a JSON number: the decimal text of its integer part (unsigned 64-bit)
    Flag,       // a JSON boolean: "true" or "false"
    LocalFlag,  // a JSON boolean: "Local" when true, "Replica" when false
};

// One member of an answer object that a method requires.
struct MemberRule {
    const char* member;
    MemberKind kind;
    const char* property;
    const char* foundLog;    // level 1, %s = the value written
    const char* missingLog;  // level 2, when the member is absent or of another JSON type
};

// Reads `rules` in order from `object` into `map`. The first member that is missing, of the
// wrong JSON type or (for counts) not a non-negative number below 2^64 logs its missing line
// and gives COPY_FAILED; values written before it stay in the map.
Copy_Status readMembers(const ApiLog& log, const char* function, const jsonxx::Object& object,
                        const std::vector<MemberRule>& rules,
                        std::map<std::string, std::string>& map);

// Whether `list` holds at most `limit` elements (AnswerLimits.h): a longer one logs "JSON
// response lists N elements, more than LIMIT" (level 2) and is not to be walked.
bool withinLimit(const ApiLog& log, const char* function, const jsonxx::Array& list, size_t limit);

// Scans `list` from its first element for the object whose string `member` equals `value`.
// Every object scanned must hold that string member: the first that does not logs
// `missingLog` (level 2) and gives COPY_FAILED, even when a later one would match; so does a
// list longer than kMaxListElements, before any element is scanned. On
// COPY_SUCCESS `found` points into `list`, or is null when nothing matches.
Copy_Status findByMember(const ApiLog& log, const char* function, const jsonxx::Array& list,
                         const char* member, const std::string& value, const char* missingLog,
                         const jsonxx::Object*& found);

// The integer part of `value` when it is a finite number in [0, 2^64).
bool integerPartU64(long double value, uint64_t& out);

// The integer part of a status number, as the unsigned 32-bit value the array means; values
// outside that range (negative, NaN, too large) become UINT32_MAX, which no status uses.
uint32_t statusNumber(long double value);
