// SPDX-License-Identifier: Apache-2.0
// The sleep's seam: a test installs a Sleeper to make waits instantaneous and countable.
#pragma once

#include "KyPlatformExport.h"
#include "LMSleep.h"

namespace kyplatform {

class KYPLATFORM_API Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleepMs(unsigned int milliseconds) = 0;
};

// Installs `sleeper` (borrowed; null restores the real sleep) and returns the previous one.
KYPLATFORM_API Sleeper* setSleeper(Sleeper* sleeper);

}  // namespace kyplatform
