// SPDX-License-Identifier: Apache-2.0
#include "RetryProgress.h"
#include "Sleeper.h"

#include <time.h>

#include <cerrno>
#include <cstdio>

#include "PluginTexts.h"

namespace kysnap {

namespace {

// The plug-in's lines around its mapping retries.
using plugintext::kRetriesEnd;
using plugintext::kRetriesStart;
using plugintext::kRetryFormat;
using plugintext::kRetryFound;

void sleepFor(unsigned int milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

RetryProgress::RetryProgress(int retries, Shown shown) : attempts_(retries + 1), shown_(shown) {
    previous_ = kyplatform::setSleeper(this);
}

RetryProgress::~RetryProgress() {
    kyplatform::setSleeper(previous_);
}

void RetryProgress::say(const std::string& line) {
    if (shown_ == Shown::Nothing) {
        return;
    }
    std::fprintf(stderr, "%skysnap: %s\n", shown_ == Shown::Terminal ? "\r\033[K" : "",
                 line.c_str());
    std::fflush(stderr);
}

void RetryProgress::logged(const std::string& text) {
    const std::string of = " of " + std::to_string(attempts_);
    int left = 0;
    int interval = 0;
    if (text == kRetriesStart) {
        mapping_ = true;
        lastAttempt_ = 1;
        say("mapping attempt 1" + of + " found no device; the host rescans and tries again");
    } else if (mapping_ && std::sscanf(text.c_str(), kRetryFormat, &left, &interval) == 2) {
        // The plug-in names the retries left, this one included.
        attempt_ = attempts_ - left + 1;
        lastAttempt_ = attempt_;
    } else if (mapping_ && text == kRetryFound) {
        mapping_ = false;
        attempt_ = 0;
        say("the device appeared at mapping attempt " + std::to_string(lastAttempt_) + of);
    } else if (mapping_ && text == kRetriesEnd) {
        mapping_ = false;
        attempt_ = 0;
        say("no device appeared after " + std::to_string(lastAttempt_) + " mapping attempts");
    }
}

void RetryProgress::sleepMs(unsigned int milliseconds) {
    const int attempt = attempt_;
    attempt_ = 0;
    if (shown_ == Shown::Nothing || attempt <= 0) {
        sleepFor(milliseconds);
        return;
    }
    const std::string of = " of " + std::to_string(attempts_);
    const unsigned int total = (milliseconds + 999) / 1000;
    const std::string next = attempt < attempts_ ? "found no device yet; next try in "
                                                 : "found no device; the plug-in ends its wait in ";
    if (shown_ == Shown::Lines || milliseconds < 1000) {
        say("mapping attempt " + std::to_string(attempt) + of + " " + next + std::to_string(total) +
            " s");
        sleepFor(milliseconds);
        return;
    }
    for (unsigned int left = milliseconds; left > 0;) {
        const unsigned int slice = left > 1000 ? 1000 : left;
        std::fprintf(stderr, "\rkysnap: mapping attempt %d%s %s%u s  ", attempt, of.c_str(),
                     next.c_str(), (left + 999) / 1000);
        std::fflush(stderr);
        sleepFor(slice);
        left -= slice;
    }
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

}  // namespace kysnap
