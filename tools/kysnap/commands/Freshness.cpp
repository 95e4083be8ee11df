// SPDX-License-Identifier: Apache-2.0
#include "Freshness.h"

#include <algorithm>
#include <set>

#include "KYSOTypes.h"
#include "SnapshotNames.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

struct Unit {
    char letter;
    int64_t seconds;
};
constexpr Unit kUnits[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}};
constexpr int64_t kLongestAge = 10 * 366 * 86400;

bool good(const SnapshotRecord& record) {
    return record.state == RecordState::Created && record.status != KYSO::SNAP_UNAVAILABLE;
}

int severity(Health health) {
    switch (health) {
        case Health::Ok:
            return 0;
        case Health::Warning:
            return 1;
        case Health::Unknown:
            return 2;
        case Health::Critical:
            return 3;
    }
    return 2;
}

DeviceFreshness judgeDevice(const Catalog& catalog, const std::string& device, std::time_t now,
                            const Thresholds& limits) {
    DeviceFreshness judged;
    judged.device = device;
    const SnapshotRecord* newest = nullptr;
    std::time_t newestTime = 0;
    bool unreadable = false;
    for (const SnapshotRecord& record : catalog.snapshots) {
        if (record.device != device || !good(record)) {
            continue;
        }
        ++judged.goodSnapshots;
        std::time_t created = 0;
        if (!parseIsoTime(record.created, created)) {
            unreadable = true;
            continue;
        }
        if (newest == nullptr || created >= newestTime) {
            newest = &record;
            newestTime = created;
        }
    }
    if (newest == nullptr) {
        judged.health = unreadable ? Health::Unknown : Health::Critical;
        judged.why =
            unreadable ? "no good snapshot with a readable creation time" : "no good snapshot";
        return judged;
    }
    judged.array = newest->array;
    judged.snapshot = newest->name;
    judged.created = newest->created;
    if (newestTime > now) {
        judged.health = Health::Unknown;
        judged.why = "newest snapshot " + newest->name + " was created at " + newest->created +
                     ", after now: the clock was set back";
        return judged;
    }
    judged.dated = true;
    judged.age = static_cast<int64_t>(now - newestTime);
    judged.health = judged.age > limits.crit   ? Health::Critical
                    : judged.age > limits.warn ? Health::Warning
                                               : Health::Ok;
    judged.why = "newest snapshot " + newest->name + " " + ageText(judged.age) + " old";
    return judged;
}

// A perfdata label: in single quotes, a quote in it doubled, no '=' (Nagios's rules).
std::string perfLabel(const std::string& text) {
    std::string label = "'";
    for (const char c : visibleText(text)) {
        label += c == '=' ? '_' : c;
        if (c == '\'') {
            label += '\'';
        }
    }
    return label + "'";
}

}  // namespace

bool parseAge(const std::string& text, int64_t& seconds) {
    if (text.size() < 2 || text.size() > 12) {
        return false;
    }
    int64_t count = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        count = count * 10 + (text[i] - '0');
    }
    for (const Unit& unit : kUnits) {
        if (text.back() == unit.letter && count <= kLongestAge / unit.seconds) {
            seconds = count * unit.seconds;
            return true;
        }
    }
    return false;
}

std::string ageText(int64_t seconds) {
    const auto part = [](int64_t value, const char* unit) { return std::to_string(value) + unit; };
    if (seconds < 60) {
        return part(seconds, "s");
    }
    if (seconds < 3600) {
        return part(seconds / 60, "m") + (seconds % 60 ? " " + part(seconds % 60, "s") : "");
    }
    if (seconds < 2 * 86400) {
        return part(seconds / 3600, "h") +
               (seconds % 3600 / 60 ? " " + part(seconds % 3600 / 60, "m") : "");
    }
    return part(seconds / 86400, "d") +
           (seconds % 86400 / 3600 ? " " + part(seconds % 86400 / 3600, "h") : "");
}

const char* healthName(Health health) {
    switch (health) {
        case Health::Ok:
            return "OK";
        case Health::Warning:
            return "WARNING";
        case Health::Critical:
            return "CRITICAL";
        case Health::Unknown:
            return "UNKNOWN";
    }
    return "UNKNOWN";
}

Health worse(Health a, Health b) {
    return severity(a) >= severity(b) ? a : b;
}

Freshness judgeFreshness(const Catalog& catalog, const std::vector<std::string>& devices,
                         const std::string& policy, std::time_t now, const Thresholds& limits) {
    Freshness freshness;
    freshness.policy = policy;
    freshness.health = devices.empty() ? Health::Unknown : Health::Ok;
    bool allDated = !devices.empty();
    int64_t oldest = 0;
    for (const std::string& device : devices) {
        freshness.devices.push_back(judgeDevice(catalog, device, now, limits));
        const DeviceFreshness& judged = freshness.devices.back();
        freshness.health = worse(freshness.health, judged.health);
        allDated = allDated && judged.dated;
        oldest = std::max(oldest, judged.age);
    }
    if (!policy.empty() && allDated) {
        freshness.oldestNewest = oldest;
    }
    return freshness;
}

std::vector<std::string> catalogDevices(const Catalog& catalog) {
    std::set<std::string> devices;
    for (const auto& [device, prepared] : catalog.devices) {
        devices.insert(device);
    }
    for (const SnapshotRecord& record : catalog.snapshots) {
        devices.insert(record.device);
    }
    return std::vector<std::string>(devices.begin(), devices.end());
}

std::string statusLine(const Freshness& freshness, const Thresholds& limits) {
    std::string line = std::string("KYSNAP ") + healthName(freshness.health) + " - ";
    const std::string subject =
        freshness.policy.empty() ? "" : "policy " + visibleText(freshness.policy) + ": ";
    std::string problems;
    for (const DeviceFreshness& device : freshness.devices) {
        if (device.health != Health::Ok) {
            problems += (problems.empty() ? "" : "; ") + visibleText(device.device) + " " +
                        healthName(device.health) + ": " + visibleText(device.why);
        }
    }
    if (freshness.devices.empty()) {
        line += subject + "no device to judge: name devices, or prepare some";
    } else if (!problems.empty()) {
        line += subject + problems;
    } else {
        int64_t oldest = 0;
        for (const DeviceFreshness& device : freshness.devices) {
            oldest = std::max(oldest, device.age);
        }
        line += subject + std::to_string(freshness.devices.size()) +
                (freshness.devices.size() == 1 ? " device" : " devices") +
                ", newest snapshots at most " + ageText(oldest) + " old";
    }
    std::string perfdata;
    for (const DeviceFreshness& device : freshness.devices) {
        perfdata += " " + perfLabel(device.device) + "=" +
                    (device.dated ? std::to_string(device.age) + "s" : std::string("U")) + ";" +
                    std::to_string(limits.warn) + ";" + std::to_string(limits.crit) + ";0";
    }
    return perfdata.empty() ? line : line + " |" + perfdata;
}

}  // namespace kysnap
