#include "RetryProgress.h"

#include <time.h>

#include <cerrno>
#include <cstdio>

namespace kysnap {

namespace {

void sleepFor(unsigned int milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

RetryProgress::RetryProgress(int retries, bool terminal) : retries_(retries), terminal_(terminal) {
    previous_ = kyplatform::setSleeper(this);
}

RetryProgress::~RetryProgress() {
    kyplatform::setSleeper(previous_);
}

void RetryProgress::logged(const std::string& text) {
    // The plug-in's line before each retry: "retry count [<left>] retry inteval [<s>]".
    int left = 0;
    int interval = 0;
    if (std::sscanf(text.c_str(), "retry count [%d] retry inteval [%d]", &left, &interval) == 2) {
        attempt_ = retries_ - left + 1;
    }
}

void RetryProgress::sleepMs(unsigned int milliseconds) {
    const int attempt = attempt_;
    attempt_ = 0;
    if (!terminal_ || attempt <= 0 || milliseconds < 1000) {
        sleepFor(milliseconds);
        return;
    }
    for (unsigned int left = milliseconds; left > 0;) {
        const unsigned int slice = left > 1000 ? 1000 : left;
        const unsigned int seconds = (left + 999) / 1000;
        if (attempt < retries_) {
            std::fprintf(stderr,
                         "\rkysnap: mapping attempt %d of %d found no device yet; next try in "
                         "%u s  ",
                         attempt, retries_, seconds);
        } else {
            std::fprintf(stderr,
                         "\rkysnap: mapping attempt %d of %d found no device; the plug-in ends "
                         "its wait in %u s  ",
                         attempt, retries_, seconds);
        }
        std::fflush(stderr);
        sleepFor(slice);
        left -= slice;
    }
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

}  // namespace kysnap
