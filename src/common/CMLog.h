// SPDX-License-Identifier: Apache-2.0
// One log line through a borrowed host request: level 0 milestone, 1 detail, 2 failure.
// Arguments are C strings and numbers only, as printf formats expect; nothing is written
// when no logger is set.
#pragma once

#include <string>
#include <type_traits>

#include "SnapInfo.h"

template <typename... Args>
void logLine(KYSO::SnapInfo* logger, int level, const std::string& header, const char* format,
             Args... args) {
    static_assert(((std::is_arithmetic_v<Args> || std::is_same_v<Args, const char*> ||
                    std::is_same_v<Args, char*>)&&...),
                  "log arguments are C strings or numbers");
    if (logger == nullptr) {
        return;
    }
    if constexpr (sizeof...(Args) == 0) {
        logger->log(level, header.c_str(), "%s", format);
    } else {
        logger->log(level, header.c_str(), format, args...);
    }
}
