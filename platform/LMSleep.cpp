// SPDX-License-Identifier: Apache-2.0
#include "LMSleep.h"

#include "CallRecorder.h"
#include "Sleeper.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace {
std::atomic<kyplatform::Sleeper*> g_sleeper{nullptr};
}

void LMSLEEP_InTeRnAl(unsigned int milliseconds, const char* /*file*/, int /*line*/) {
    kyplatform::record::sleep(milliseconds);
    if (kyplatform::Sleeper* sleeper = g_sleeper.load()) {
        sleeper->sleepMs(milliseconds);
        return;
    }
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal must not cut a wait short.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

namespace kyplatform {
Sleeper* setSleeper(Sleeper* sleeper) {
    return g_sleeper.exchange(sleeper);
}
}  // namespace kyplatform
