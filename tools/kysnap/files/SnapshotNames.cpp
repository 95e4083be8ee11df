// SPDX-License-Identifier: Apache-2.0
#include "SnapshotNames.h"

#include <cstdlib>

namespace kysnap {

namespace {

std::string formatUtc(std::time_t now, const char* format) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, format, &utc);
    return text;
}

}  // namespace

std::string newSnapshotName(std::time_t now, const std::string& last,
                            const std::function<bool(const std::string&)>& taken) {
    const std::string stem = "KY-" + formatUtc(now, "%Y%m%dT%H%M%SZ") + "-";
    unsigned long counter = 1;
    if (last.compare(0, stem.size(), stem) == 0) {
        counter = std::strtoul(last.c_str() + stem.size(), nullptr, 10) + 1;
    }
    for (;; ++counter) {
        std::string name = stem + std::to_string(counter);
        if (!taken(name)) {
            return name;
        }
    }
}

std::string isoTime(std::time_t now) {
    return formatUtc(now, "%Y-%m-%dT%H:%M:%SZ");
}

bool parseIsoTime(const std::string& text, std::time_t& time) {
    std::tm utc{};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    if (end == nullptr || *end != '\0') {
        return false;
    }
    time = timegm(&utc);
    return true;
}

}  // namespace kysnap
