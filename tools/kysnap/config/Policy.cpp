// SPDX-License-Identifier: Apache-2.0
#include "Policy.h"

#include <algorithm>
#include <map>
#include <sstream>

#include "VisibleText.h"

namespace kysnap {

namespace {

constexpr int kMostKept = 100000;
constexpr long kLongestDuration = 100L * 366 * 86400;

// The counts a policy takes, as rows: key and field.
struct CountKey {
    const char* key;
    int Policy::*field;
};
const CountKey kCountKeys[] = {
    {"hourly", &Policy::hourly},   {"daily", &Policy::daily},   {"weekly", &Policy::weekly},
    {"monthly", &Policy::monthly}, {"yearly", &Policy::yearly}, {"keep-last", &Policy::keepLast},
};

// A whole number from 0 to kMostKept, digits only (no sign, no blank).
bool parseCount(const std::string& text, int& count) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long parsed = std::stol(text);
    if (parsed > kMostKept) {
        return false;
    }
    count = static_cast<int>(parsed);
    return true;
}

std::string devicesProblem(Policy& policy, const std::string& value) {
    std::istringstream in(value);
    std::vector<std::string> devices;
    std::string device;
    while (in >> device) {
        if (std::find(devices.begin(), devices.end(), device) != devices.end()) {
            return "devices names " + visibleText(device) + " twice";
        }
        devices.push_back(device);
    }
    if (devices.empty()) {
        return "devices needs at least one device, as kysnap snap names it";
    }
    policy.devices = devices;
    return std::string();
}

}  // namespace

bool parseDuration(const std::string& text, long& seconds) {
    if (text.size() < 2 || text.size() > 10) {
        return false;
    }
    const std::string digits = text.substr(0, text.size() - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits[0] == '0') {
        return false;
    }
    long unit = 0;
    switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        default:
            return false;
    }
    const long number = std::stol(digits);
    if (number > kLongestDuration / unit) {
        return false;
    }
    seconds = number * unit;
    return true;
}

std::string Policy::rulesText() const {
    std::string text;
    for (const CountKey& count : kCountKeys) {
        if (this->*count.field > 0) {
            text += (text.empty() ? "" : ", ") + std::string(count.key) + " " +
                    std::to_string(this->*count.field);
        }
    }
    if (keepWithinSeconds > 0) {
        text += (text.empty() ? "" : ", ") + std::string("keep-within ") + keepWithin;
    }
    return text;
}

bool Policy::keepsSomething() const {
    return keepWithinSeconds > 0 ||
           std::any_of(std::begin(kCountKeys), std::end(kCountKeys),
                       [this](const CountKey& count) { return this->*count.field > 0; });
}

std::string policiesProblem(const std::vector<Policy>& policies,
                            const std::function<std::string(int line)>& place) {
    std::map<std::string, const Policy*> owners;
    for (const Policy& policy : policies) {
        const std::string where = place(policy.line) + ": [policy " + policy.name + "]: ";
        if (policy.devices.empty()) {
            return where + "'devices' is missing";
        }
        if (!policy.keepsSomething()) {
            return where +
                   "it keeps nothing: give at least one of hourly, daily, weekly, monthly, "
                   "yearly, keep-last and keep-within";
        }
        for (const std::string& device : policy.devices) {
            const auto [owner, added] = owners.emplace(device, &policy);
            if (!added) {
                return where + visibleText(device) + " is also in [policy " + owner->second->name +
                       "] (" + place(owner->second->line) + "): a device belongs to one policy";
            }
        }
    }
    return std::string();
}

std::string takePolicyKey(Policy& policy, const std::string& key, const std::string& value) {
    if (key == "devices") {
        return devicesProblem(policy, value);
    }
    if (key == "keep-within") {
        if (!parseDuration(value, policy.keepWithinSeconds)) {
            return "keep-within must be a duration such as 36h, 90m, 7d or 30s (a whole number "
                   "from 1, then s, m, h or d, at most 100 years), not '" +
                   visibleText(value) + "'";
        }
        policy.keepWithin = value;
        return std::string();
    }
    for (const CountKey& count : kCountKeys) {
        if (key == count.key) {
            if (!parseCount(value, policy.*count.field)) {
                return key + " must be a whole number from 0 to " + std::to_string(kMostKept) +
                       ", not '" + visibleText(value) + "'";
            }
            return std::string();
        }
    }
    return "unknown key '" + visibleText(key) + "' in [policy " + policy.name +
           "]: a policy takes devices, hourly, daily, weekly, monthly, yearly, keep-last and "
           "keep-within";
}

}  // namespace kysnap
