// RetryProgress: the waits of the plug-in (LMSLEEP) in a kysnap run, installed as
// libkyplatform's sleeper while it lives. It sleeps for real; during the mapping retries of a
// map call it shows on a terminal which attempt found no device yet and counts down to the
// next one ("attempt 2 of 5 ... next try in 4 s").
#pragma once

#include <string>

#include "LMSleep.h"

namespace kysnap {

class RetryProgress : private kyplatform::Sleeper {
public:
    // `retries` is the host's retry count; `terminal` says whether progress may be drawn
    // (standard error is a terminal).
    RetryProgress(int retries, bool terminal);
    ~RetryProgress() override;
    RetryProgress(const RetryProgress&) = delete;
    RetryProgress& operator=(const RetryProgress&) = delete;

    // Follows the plug-in's log: the line it writes before each mapping retry arms the
    // progress display for the wait after that retry.
    void logged(const std::string& text);

private:
    void sleepMs(unsigned int milliseconds) override;

    int retries_;
    bool terminal_;
    int attempt_ = 0;  // the retry whose wait comes next; 0 when none is armed
    kyplatform::Sleeper* previous_;
};

}  // namespace kysnap
