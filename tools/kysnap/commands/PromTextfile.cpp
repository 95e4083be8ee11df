// SPDX-License-Identifier: Apache-2.0
#include "PromTextfile.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "SnapshotNames.h"

namespace kysnap {

namespace {

// What the audit log says of one operation on one device of one array.
struct OperationFacts {
    double lastSuccess = -1;  // its time, when one succeeded
    double lastTime = -1;
    double lastSeconds = 0;  // how long the last one took
    long failures = 0;
};

using SeriesKey = std::tuple<std::string, std::string, std::string>;  // operation, device, array

// A sample value as the text format writes it: whole numbers without a point.
std::string number(double value) {
    char text[64];
    if (std::floor(value) == value && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        std::snprintf(text, sizeof text, "%.3f", value);
    }
    return text;
}

class Families {
public:
    void family(const char* name, const char* type, const char* help) {
        text_ +=
            std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
        name_ = name;
    }
    void sample(const std::vector<std::pair<const char*, std::string>>& labels, double value) {
        std::string line = name_;
        if (!labels.empty()) {
            line += "{";
            for (size_t i = 0; i < labels.size(); ++i) {
                line += (i == 0 ? "" : ",") + std::string(labels[i].first) + "=" +
                        promLabelValue(labels[i].second);
            }
            line += "}";
        }
        text_ += line + " " + number(value) + "\n";
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::string name_;
};

std::map<SeriesKey, OperationFacts> operationFacts(const std::vector<AuditRecord>& records,
                                                   const std::set<std::string>& devices) {
    std::map<SeriesKey, OperationFacts> facts;
    for (const AuditRecord& record : records) {
        if (!record.wellFormed) {
            continue;
        }
        const nlohmann::json& entry = record.entry;
        const std::string device = entry.value("device", "");
        std::time_t time = 0;
        if (devices.count(device) == 0 || !parseIsoTime(entry.value("time", ""), time)) {
            continue;
        }
        OperationFacts& fact =
            facts[SeriesKey{entry.value("operation", ""), device, entry.value("array", "")}];
        const bool succeeded = entry.value("result", "").rfind("succeeded", 0) == 0;
        if (succeeded && static_cast<double>(time) >= fact.lastSuccess) {
            fact.lastSuccess = static_cast<double>(time);
        }
        if (!succeeded) {
            ++fact.failures;
        }
        // Lines are appended as requests end: a later line is the later request.
        if (static_cast<double>(time) >= fact.lastTime) {
            fact.lastTime = static_cast<double>(time);
            fact.lastSeconds = entry.value("seconds", 0.0);
        }
    }
    return facts;
}

}  // namespace

std::string promLabelValue(const std::string& text) {
    std::string value = "\"";
    for (const char c : text) {
        if (c == '\\') {
            value += "\\\\";
        } else if (c == '"') {
            value += "\\\"";
        } else if (c == '\n') {
            value += "\\n";
        } else {
            value += c;
        }
    }
    return value + "\"";
}

std::string promTextfile(const Freshness& freshness, const std::vector<AuditRecord>& records,
                         Health health) {
    std::set<std::string> devices;
    std::map<std::string, const DeviceFreshness*> judged;
    for (const DeviceFreshness& device : freshness.devices) {
        devices.insert(device.device);
        judged[device.device] = &device;
    }
    Families out;
    out.family("kysnap_newest_snapshot_age_seconds", "gauge",
               "Age of the device's newest good snapshot in the catalog.");
    for (const auto& [device, facts] : judged) {
        if (facts->dated) {
            out.sample({{"device", device}, {"array", facts->array}},
                       static_cast<double>(facts->age));
        }
    }
    out.family("kysnap_newest_snapshot_timestamp_seconds", "gauge",
               "Creation time of the device's newest good snapshot in the catalog.");
    for (const auto& [device, facts] : judged) {
        std::time_t created = 0;
        if (facts->dated && parseIsoTime(facts->created, created)) {
            out.sample({{"device", device}, {"array", facts->array}}, static_cast<double>(created));
        }
    }
    out.family("kysnap_good_snapshots", "gauge",
               "Good snapshots of the device in the catalog (0: it is unprotected).");
    for (const auto& [device, facts] : judged) {
        out.sample({{"device", device}}, facts->goodSnapshots);
    }
    const std::map<SeriesKey, OperationFacts> operations = operationFacts(records, devices);
    const auto labels = [](const SeriesKey& key) {
        return std::vector<std::pair<const char*, std::string>>{{"operation", std::get<0>(key)},
                                                                {"device", std::get<1>(key)},
                                                                {"array", std::get<2>(key)}};
    };
    out.family("kysnap_last_success_timestamp_seconds", "gauge",
               "Time of the last successful request of the operation, from the audit log.");
    for (const auto& [key, fact] : operations) {
        if (fact.lastSuccess >= 0) {
            out.sample(labels(key), fact.lastSuccess);
        }
    }
    out.family("kysnap_operation_duration_seconds", "gauge",
               "How long the run of the operation's last request took, from the audit log.");
    for (const auto& [key, fact] : operations) {
        out.sample(labels(key), fact.lastSeconds);
    }
    out.family("kysnap_operation_failures_total", "counter",
               "Failed requests of the operation in the audit log.");
    for (const auto& [key, fact] : operations) {
        out.sample(labels(key), static_cast<double>(fact.failures));
    }
    long malformed = 0;
    for (const AuditRecord& record : records) {
        malformed += record.wellFormed ? 0 : 1;
    }
    out.family("kysnap_audit_malformed_lines", "gauge",
               "Lines of the audit log that are not entries (kysnap log shows them).");
    out.sample({}, static_cast<double>(malformed));
    out.family("kysnap_monitor_status", "gauge",
               "The monitor's verdict: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.");
    out.sample({}, static_cast<double>(static_cast<int>(health)));
    return out.text();
}

}  // namespace kysnap
