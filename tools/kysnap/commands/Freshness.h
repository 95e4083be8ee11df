// SPDX-License-Identifier: Apache-2.0
// Freshness: how old each device's newest good snapshot is, judged against a warning and a
// critical age, as a Nagios plug-in judges: OK, WARNING, CRITICAL, or UNKNOWN when it cannot
// tell. A good snapshot is a catalog record in state Created that no reconcile found gone from
// the array; its age is counted from its "created" time.
//
// A device with no good snapshot is CRITICAL: that it is unprotected is known, not in doubt.
// UNKNOWN is for what cannot be told: a creation time that cannot be read or lies ahead of
// `now` (the clock was set back), or no device to judge at all. The worst verdict of the devices
// is the whole one, in the order CRITICAL, UNKNOWN, WARNING, OK.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "Catalog.h"

namespace kysnap {

// An age as given on the command line: a whole number and a unit, s, m, h or d ("90s", "30m",
// "26h", "7d"). False when `text` is not of that form or exceeds ten years.
bool parseAge(const std::string& text, int64_t& seconds);
// An age for a person: "45s", "12m 5s", "26h 3m", "8d 2h".
std::string ageText(int64_t seconds);

// In Nagios's order: the value is the plug-in's exit status.
enum class Health { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };
const char* healthName(Health health);  // "OK", "WARNING", "CRITICAL", "UNKNOWN"
// The more serious of the two, in the order CRITICAL, UNKNOWN, WARNING, OK.
Health worse(Health a, Health b);

struct Thresholds {
    int64_t warn = 0;  // older than this: WARNING
    int64_t crit = 0;  // older than this: CRITICAL
};

struct DeviceFreshness {
    std::string device;
    std::string array;     // of its newest good snapshot ("" when it has none)
    std::string snapshot;  // its newest good snapshot ("" when none)
    std::string created;   // that snapshot's creation time as recorded
    int64_t age = 0;       // seconds, when `dated`
    bool dated = false;    // its age is known
    int goodSnapshots = 0;
    Health health = Health::Unknown;
    std::string why;  // what a person reads after the device: "newest ... old", "no good ..."
};

struct Freshness {
    std::vector<DeviceFreshness> devices;  // in the order asked
    std::string policy;                    // the policy judged ("" for devices named directly)
    Health health = Health::Unknown;
    // For a policy: the age of the oldest of its devices' newest snapshots, when all are dated.
    std::optional<int64_t> oldestNewest;
};

// Judges `devices` by `catalog` at `now`, labelled with `policy` when the devices are a
// policy's.
Freshness judgeFreshness(const Catalog& catalog, const std::vector<std::string>& devices,
                         const std::string& policy, std::time_t now, const Thresholds& limits);

// Every device the catalog knows, prepared or with a snapshot record, each once, sorted.
std::vector<std::string> catalogDevices(const Catalog& catalog);

// The Nagios status line: "KYSNAP OK - ..." with the devices not OK named, then perfdata (each
// device's age with the warning and critical ages, in seconds).
std::string statusLine(const Freshness& freshness, const Thresholds& limits);

}  // namespace kysnap
