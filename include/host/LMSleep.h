// SPDX-License-Identifier: Apache-2.0
// LMSLEEP_InTeRnAl: the host's millisecond sleep. Every wait of the plug-in goes through it, so
// a test can install a Sleeper that records the waits instead of sleeping.
#pragma once

#include "KyPlatformExport.h"

KYPLATFORM_API void LMSLEEP_InTeRnAl(unsigned int milliseconds, const char* file, int line);

#define LMSLEEP(milliseconds) LMSLEEP_InTeRnAl((milliseconds), __FILE__, __LINE__)

namespace kyplatform {

class KYPLATFORM_API Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleepMs(unsigned int milliseconds) = 0;
};

// Installs `sleeper` (borrowed; null restores the real sleep) and returns the previous one.
KYPLATFORM_API Sleeper* setSleeper(Sleeper* sleeper);

}  // namespace kyplatform
