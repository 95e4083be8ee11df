// SPDX-License-Identifier: Apache-2.0
#include "StorageApiCall.h"

#include <cmath>
#include <limits>

#include "AnswerLimits.h"
#include "PluginTexts.h"

std::string apiHeader(const char* function) {
    return std::string("Tegile CMTegileStorageAPI::") + function + "() -";
}

ErrorText accessDenied() {
    return {
        {plugintext::kArrayAccessDenied}, COPY_ACCESS_DENIED, plugintext::kAccessDeniedLine, ""};
}

bool integerPartU64(long double value, uint64_t& out) {
    if (!std::isfinite(value) || value <= -1.0L) {
        return false;
    }
    const long double whole = std::trunc(value);
    // 2^64 exactly; long double holds it without rounding.
    if (whole >= 18446744073709551616.0L) {
        return false;
    }
    out = static_cast<uint64_t>(whole);
    return true;
}

uint32_t statusNumber(long double value) {
    uint64_t whole = 0;
    if (!integerPartU64(value, whole) || whole > std::numeric_limits<uint32_t>::max()) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(whole);
}

Copy_Status readMembers(const ApiLog& log, const char* function, const jsonxx::Object& object,
                        const std::vector<MemberRule>& rules,
                        std::map<std::string, std::string>& map) {
    for (const MemberRule& rule : rules) {
        std::string value;
        bool present = false;
        switch (rule.kind) {
            case MemberKind::Text:
                present = object.has<jsonxx::String>(rule.member);
                if (present) {
                    value = object.get<jsonxx::String>(rule.member);
                }
                break;
            case MemberKind::Count: {
                uint64_t count = 0;
                present = object.has<jsonxx::Number>(rule.member) &&
                          integerPartU64(object.get<jsonxx::Number>(rule.member), count);
                value = std::to_string(count);
                break;
            }
            case MemberKind::Flag:
            case MemberKind::LocalFlag: {
                present = object.has<jsonxx::Boolean>(rule.member);
                const bool flag = present && object.get<jsonxx::Boolean>(rule.member);
                if (rule.kind == MemberKind::Flag) {
                    value = flag ? "true" : "false";
                } else {
                    value = flag ? "Local" : "Replica";
                }
                break;
            }
        }
        if (!present) {
            log.error(function, rule.missingLog);
            return COPY_FAILED;
        }
        map[rule.property] = value;
        log.info(function, rule.foundLog, value.c_str());
    }
    return COPY_SUCCESS;
}

bool withinLimit(const ApiLog& log, const char* function, const jsonxx::Array& list, size_t limit) {
    if (list.size() <= limit) {
        return true;
    }
    log.error(function, "JSON response lists %lu elements, more than %lu",
              static_cast<unsigned long>(list.size()), static_cast<unsigned long>(limit));
    return false;
}

Copy_Status findByMember(const ApiLog& log, const char* function, const jsonxx::Array& list,
                         const char* member, const std::string& value, const char* missingLog,
                         const jsonxx::Object*& found) {
    found = nullptr;
    if (!withinLimit(log, function, list, kMaxListElements)) {
        return COPY_FAILED;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        if (!list.has<jsonxx::Object>(i) ||
            !list.get<jsonxx::Object>(i).has<jsonxx::String>(member)) {
            log.error(function, missingLog);
            return COPY_FAILED;
        }
        const jsonxx::Object& candidate = list.get<jsonxx::Object>(i);
        if (candidate.get<jsonxx::String>(member) == value) {
            found = &candidate;
            return COPY_SUCCESS;
        }
    }
    return COPY_SUCCESS;
}

bool doneWithNothing(unsigned int httpStatus, const std::string& answer) {
    return (httpStatus == 200 || httpStatus == 204) &&
           answer.find_first_not_of(" \t\r\n") == std::string::npos;
}

bool commandStatusSucceeded(const std::string& answer) {
    const size_t first = answer.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return true;
    }
    const size_t last = answer.find_last_not_of(" \t\r\n");
    const std::string number = answer.substr(first, last - first + 1);
    return number.find_first_not_of('0') == std::string::npos;
}
