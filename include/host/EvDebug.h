// SPDX-License-Identifier: Apache-2.0
// EvDebug: the host's debug log, used where no request is at hand to log through. Lines go to
// standard error as "<UTC time> <LEVEL> <header>: <message>" unless a sink is installed.
#pragma once

#include <string>

#include "KyPlatformExport.h"

class EvDebugFileInstance;

class KYPLATFORM_API EvDebug {
public:
    // Levels used by callers: -1 error, 1 information (others are accepted and printed).
    static constexpr int LEVEL_ERROR = -1;
    static constexpr int LEVEL_INFO = 1;

    // `file` is accepted for the host's interface and ignored: there is one process-wide log.
    explicit EvDebug(EvDebugFileInstance* file);

    void debugLvl(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void DebugLvl(const char* function, int level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
};
