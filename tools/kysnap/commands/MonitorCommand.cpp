// SPDX-License-Identifier: Apache-2.0
#include "MonitorCommand.h"

#include <cstdio>

#include "AtomicFile.h"
#include "AuditLog.h"
#include "CannotRun.h"
#include "Freshness.h"
#include "JsonOutput.h"
#include "PromTextfile.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// The monitor's way out when it cannot tell: "KYSNAP UNKNOWN - why" first on standard output,
// as Nagios reads it, the reason on standard error, and with --json the error document.
int unknown(const Options& options, const std::string& why) {
    constexpr int kUnknown = static_cast<int>(Health::Unknown);
    if (options.json) {
        printErrorDocument(options, kUnknown, why);
    } else {
        std::printf("KYSNAP UNKNOWN - %s\n", visibleText(why).c_str());
    }
    std::fprintf(stderr, "kysnap: %s\n", visibleText(why).c_str());
    return kUnknown;
}

bool readThresholds(const Options& options, Thresholds& limits, std::string& error) {
    if (options.warn.empty() || options.crit.empty()) {
        error = "usage: kysnap monitor --warn AGE --crit AGE [DEVICE...]: both ages are needed";
        return false;
    }
    const auto age = [&error](const std::string& given, const char* name, int64_t& seconds) {
        if (parseAge(given, seconds)) {
            return true;
        }
        error = std::string("usage: ") + name + " takes an age such as 90s, 30m, 26h or 7d, not '" +
                given + "'";
        return false;
    };
    if (!age(options.warn, "--warn", limits.warn) || !age(options.crit, "--crit", limits.crit)) {
        return false;
    }
    if (limits.warn >= limits.crit) {
        error = "usage: --warn (" + options.warn + ") must be a shorter age than --crit (" +
                options.crit + ")";
        return false;
    }
    return true;
}

// The devices judged: those named, else every device of the catalog.
// The devices judged: the policy's (--policy), the operands, else every device in the catalog.
// False with `error` set when the policy is not in the configuration.
bool monitorSubject(const Session& session, MonitorSubject& subject, std::string& error) {
    const std::string& policyName = session.options.policy;
    if (!policyName.empty()) {
        const Policy* policy = session.config.findPolicy(policyName);
        if (policy == nullptr) {
            error = "no [policy " + policyName + "] in " +
                    (session.config.path.empty() ? std::string("the configuration")
                                                 : session.config.path);
            return false;
        }
        subject.policy = policy->name;
        subject.devices = policy->devices;
        return true;
    }
    subject.devices = session.options.arguments.empty() ? catalogDevices(session.catalog)
                                                        : session.options.arguments;
    return true;
}

void printText(const Freshness& freshness, const Thresholds& limits) {
    std::printf("%s\n", statusLine(freshness, limits).c_str());
    for (const DeviceFreshness& device : freshness.devices) {
        std::printf("%s: %s, %s", visibleText(device.device).c_str(), healthName(device.health),
                    visibleText(device.why).c_str());
        if (!device.snapshot.empty()) {
            std::printf(" (created %s on array %s)", visibleText(device.created).c_str(),
                        visibleText(device.array).c_str());
        }
        std::printf("\n");
    }
    if (freshness.oldestNewest) {
        std::printf("policy %s: the oldest of its devices' newest snapshots is %s old\n",
                    visibleText(freshness.policy).c_str(),
                    ageText(*freshness.oldestNewest).c_str());
    }
}

void printJson(const Options& options, const Freshness& freshness, const Thresholds& limits,
               Health health) {
    JsonDocument document = jsonDocument(options.command);
    document["status"] = healthName(health);
    document["exitStatus"] = static_cast<int>(health);
    document["summary"] = statusLine(freshness, limits);
    document["warnSeconds"] = limits.warn;
    document["critSeconds"] = limits.crit;
    document["policy"] = freshness.policy.empty() ? JsonDocument() : JsonDocument(freshness.policy);
    document["devices"] = JsonDocument::array();
    for (const DeviceFreshness& device : freshness.devices) {
        document["devices"].push_back(
            {{"device", visibleText(device.device)},
             {"status", healthName(device.health)},
             {"detail", visibleText(device.why)},
             {"snapshot", visibleText(device.snapshot)},
             {"created", visibleText(device.created)},
             {"array", visibleText(device.array)},
             {"ageSeconds", device.dated ? JsonDocument(device.age) : JsonDocument()},
             {"goodSnapshots", device.goodSnapshots}});
    }
    document["oldestNewestSeconds"] =
        freshness.oldestNewest ? JsonDocument(*freshness.oldestNewest) : JsonDocument();
    document["promTextfile"] = options.promTextfile.empty()
                                   ? JsonDocument()
                                   : JsonDocument(visibleText(options.promTextfile));
    printJsonDocument(document);
}

// Writes the textfile; false after one line on standard error when it cannot be.
bool writeTextfile(const Session& session, const Freshness& freshness, Health health) {
    const std::string log = auditLogPath(session.config.auditLog, session.store->path());
    std::vector<AuditRecord> records;
    bool missing = false;
    std::string error;
    if (!readAuditLog(log, 0, records, missing, error) && !missing) {
        std::fprintf(stderr, "kysnap: warning: the textfile has no operation metrics: %s\n",
                     visibleText(error).c_str());
    }
    const std::string& path = session.options.promTextfile;
    // node_exporter reads it as another user: readable by all, as its collector expects.
    if (!replaceFileAtomically(path, promTextfile(freshness, records, health), 0644,
                               "the textfile " + path, error)) {
        std::fprintf(stderr, "kysnap: %s\n", visibleText(error).c_str());
        return false;
    }
    return true;
}

}  // namespace

int runMonitor(const Options& options, const Session::Needs& needs) {
    return runMonitorAt(options, needs, std::time(nullptr));
}

int runMonitorAt(const Options& options, const Session::Needs& needs, std::time_t now) {
    Thresholds limits;
    std::string error;
    if (!readThresholds(options, limits, error)) {
        return unknown(options, error);
    }
    const std::unique_ptr<Session> session = Session::open(options, needs, error);
    if (!session) {
        return unknown(options, "the catalog cannot be read: " + error);
    }
    MonitorSubject subject;
    if (!monitorSubject(*session, subject, error)) {
        return unknown(options, error);
    }
    Freshness freshness =
        judgeFreshness(session->catalog, subject.devices, subject.policy, now, limits);
    if (!options.promTextfile.empty() && !writeTextfile(*session, freshness, freshness.health)) {
        // Stale metrics look fresh to Prometheus: the one who reads this status must know.
        freshness.health = worse(freshness.health, Health::Unknown);
    }
    if (options.json) {
        printJson(options, freshness, limits, freshness.health);
    } else {
        printText(freshness, limits);
    }
    return static_cast<int>(freshness.health);
}

}  // namespace kysnap
