// SPDX-License-Identifier: Apache-2.0
// RetryProgress: the waits of the plug-in (LMSLEEP) in a kysnap run, installed as
// libkyplatform's sleeper while it lives. It sleeps for real, and follows the mapping retries
// of a map call (the plug-in's log lines) to say how they go: on a terminal a countdown to the
// next attempt; elsewhere (a cron job, a log file) one line per attempt that found no device.
// Either way a last line says at which attempt the device appeared, or that none did.
#pragma once

#include <string>

#include "LMSleep.h"
#include "Sleeper.h"

namespace kysnap {

class RetryProgress : private kyplatform::Sleeper {
public:
    enum class Shown {
        Nothing,   // --quiet
        Lines,     // standard error is no terminal: one line per attempt
        Terminal,  // a line redrawn each second
    };

    // `retries` is the host's retry count (the plug-in tries once, then retries that often).
    RetryProgress(int retries, Shown shown);
    ~RetryProgress() override;
    RetryProgress(const RetryProgress&) = delete;
    RetryProgress& operator=(const RetryProgress&) = delete;

    // Follows the plug-in's log: its lines around the mapping retries drive what is shown.
    void logged(const std::string& text);

private:
    void sleepMs(unsigned int milliseconds) override;
    // Writes `line` as a line of its own (over a countdown on a terminal).
    void say(const std::string& line);

    int attempts_;  // of a mapping: the first and the retries
    Shown shown_;
    bool mapping_ = false;  // retries of a mapping are under way
    int attempt_ = 0;       // the attempt whose wait comes next; 0 when none is armed
    int lastAttempt_ = 0;   // the attempt the plug-in made last
    kyplatform::Sleeper* previous_;
};

}  // namespace kysnap
