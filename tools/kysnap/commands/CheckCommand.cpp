// SPDX-License-Identifier: Apache-2.0
#include "CheckCommand.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ApiVersion.h"
#include "ArrayProbe.h"
#include "CertificateReport.h"
#include "DeviceInquiry.h"
#include "EvDebug.h"
#include "EvDebugSink.h"
#include "HostBackend.h"
#include "HostConfig.h"
#include "JsonOutput.h"
#include "LunIdentity.h"
#include "Passwords.h"
#include "PluginLibrary.h"
#include "PluginSettings.h"
#include "VisibleText.h"
#include "jsonxx.h"

namespace kysnap {

namespace {

// Each probe waits at most this long, so that a whole check stays well under half a minute.
constexpr int kProbeSeconds = 5;

class CheckLines {
public:
    CheckLines(bool json, const std::string& command) : json_(json), command_(command) {}

    void ok(const std::string& subject, const std::string& message) {
        add("ok", subject, message, "");
    }
    void warn(const std::string& subject, const std::string& message,
              const std::string& remedy = "") {
        add("warn", subject, message, remedy);
    }
    void fail(const std::string& subject, const std::string& message, const std::string& remedy) {
        failed_ = true;
        add("FAIL", subject, message, remedy);
    }
    bool failed() const { return failed_; }
    void report(const ReportLine& line, const std::string& subject) {
        switch (line.kind) {
            case ReportLine::Kind::Ok:
                return ok(subject, line.message);
            case ReportLine::Kind::Warn:
                return warn(subject, line.message, line.remedy);
            case ReportLine::Kind::Fail:
                return fail(subject, line.message, line.remedy);
            case ReportLine::Kind::Detail:
                return add("", subject, line.message, "");
        }
    }

    void finish() {
        if (json_) {
            JsonDocument root = jsonDocument(command_);
            root["checks"] = checks_;
            root["failed"] = failed_;
            printJsonDocument(root);
        }
        std::fflush(stdout);
    }

private:
    // Messages quote the array's names and versions: nothing it sends may reach the terminal
    // as a control sequence, in either form.
    void add(const char* verdict, const std::string& rawSubject, const std::string& rawMessage,
             const std::string& rawRemedy) {
        const std::string subject = visibleText(rawSubject);
        const std::string message = visibleText(rawMessage);
        const std::string remedy = visibleText(rawRemedy);
        if (json_) {
            JsonDocument check;
            check["result"] = std::string(verdict) == "FAIL" ? "fail"
                              : *verdict == '\0'             ? "detail"
                                                             : verdict;
            check["subject"] = subject;
            check["message"] = message;
            if (!remedy.empty()) {
                check["remedy"] = remedy;
            }
            checks_.push_back(std::move(check));
            return;
        }
        std::printf("%-4s  %s: %s%s%s\n", verdict, subject.c_str(), message.c_str(),
                    remedy.empty() ? "" : "; ", remedy.c_str());
        std::fflush(stdout);
    }

    bool json_;
    std::string command_;
    bool failed_ = false;
    JsonDocument checks_ = JsonDocument::array();
};

// The name the plug-in gives the array for a host initiator.
std::string arrayInitiatorName(const hostkit::Initiator& initiator) {
    if (initiator.iscsi) {
        std::string name = initiator.name;
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return name;
    }
    std::string name = "wwn.";
    for (char c : initiator.name) {
        if (c != ':') {
            name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return name;
}

std::string quoted(const std::string& text) {
    return "[\"" + text + "\"]";
}

// A bare-text answer without its quotes and blanks ("\"db-host-fc\"" -> db-host-fc).
std::string bareText(const std::string& body) {
    std::string text;
    for (char c : body) {
        if (c != '"' && c != ' ' && c != '\n' && c != '\r' && c != '\t') {
            text += c;
        }
    }
    return text;
}

// Why a probe got no usable answer: what the HTTP client met (a time-out, an answer over the
// size limit, a redirect), or the array's error status.
std::string whyFailed(const ApiAnswer& answer) {
    if (!answer.failure.empty() && answer.status < 400) {
        return answer.failure;
    }
    return "the array answered HTTP " + std::to_string(answer.status);
}

// At most this much of any one text the array sent is shown.
constexpr size_t kShownArrayBytes = 200;

// Array text as a check line quotes it: its first kShownArrayBytes bytes, and its length when
// it is longer, so that no answer can flood the terminal (the line escapes it as it prints).
std::string arrayText(const std::string& text) {
    if (text.size() <= kShownArrayBytes) {
        return text;
    }
    return text.substr(0, kShownArrayBytes) + "... (" + std::to_string(text.size()) +
           " bytes in all)";
}

std::string joined(const jsonxx::Array& list) {
    std::string text;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list.has<jsonxx::String>(i)) {
            text += (text.empty() ? "" : ", ") + arrayText(list.get<jsonxx::String>(i));
        }
    }
    return text.empty() ? "none" : text;
}

// A target of a configured array, and where it is listed.
struct ArrayTarget {
    std::string group;
    std::string protocol;  // "FC" or "ISCSI"
    std::string target;
};

// Lists the array's target groups and their targets into `targets`. Returns why some could
// not be read ("" when all were).
std::string checkTargetGroups(CheckLines& lines, const std::string& subject,
                              const ArrayProbe& probe, const HostConfig& config,
                              std::vector<ArrayTarget>& targets) {
    std::string unread;
    bool configuredFound = !config.targetGroup || config.targetGroup->empty();
    for (const char* protocol : {"FC", "ISCSI"}) {
        const ApiAnswer groups = probe.call(
            std::string(protocol) == "FC" ? "listFCTargetGroups" : "listISCSITargetGroups", "");
        jsonxx::Array names;
        if (!groups.ok || !names.parse(groups.body)) {
            lines.fail(subject, std::string("the ") + protocol + " target groups cannot be read",
                       whyFailed(groups));
            unread = std::string("its ") + protocol + " target groups cannot be read (" +
                     whyFailed(groups) + ")";
            continue;
        }
        if (names.size() == 0) {
            lines.warn(subject, std::string("no ") + protocol + " target group");
        }
        for (size_t i = 0; i < names.size(); ++i) {
            if (!names.has<jsonxx::String>(i)) {
                continue;
            }
            const std::string group = names.get<jsonxx::String>(i);
            configuredFound = configuredFound || group == *config.targetGroup;
            const ApiAnswer answer = probe.call("listTargetsInTargetGroup", quoted(group));
            jsonxx::Array members;
            if (answer.ok && members.parse(answer.body)) {
                lines.ok(subject, std::string(protocol) + " target group " + arrayText(group) +
                                      ": " + joined(members));
                for (size_t m = 0; m < members.size(); ++m) {
                    if (members.has<jsonxx::String>(m)) {
                        targets.push_back(
                            ArrayTarget{group, protocol, members.get<jsonxx::String>(m)});
                    }
                }
            } else {
                lines.fail(subject, "the targets of " + arrayText(group) + " cannot be read",
                           whyFailed(answer));
                unread = "the targets of " + arrayText(group) + " cannot be read (" +
                         whyFailed(answer) + ")";
            }
        }
    }
    if (!configuredFound) {
        lines.fail(
            subject, "target-group " + *config.targetGroup + " does not exist",
            "set target-group in [host] of " + config.path + " to one listed above, or remove it");
    }
    return unread;
}

// An IntelliFlash device the host sees, identified as the plug-in will before vpd and
// prepare: its page 0x83 target id must be a target of a configured array (of the protocol its
// name says), and its LUN id a volume of that array. The arrays are asked one at a time, each
// while its password is held.
struct DeviceIdentity {
    std::string device;
    std::string unreadable;  // why page 0x83 could not be read
    std::string lunId;
    std::string targetId;
    std::string protocol;  // "FC" or "ISCSI", as the plug-in decides from the target id
    bool owned = false;    // a configured array lists the target
    bool volume = false;   // and the LUN is one of its volumes
    bool asked = true;     // false when the owning array could not be asked about the LUN
    std::string verdict;   // what that array said
    LunIdentity identity;  // by its standard INQUIRY
};

DeviceIdentity readIdentity(const std::string& device) {
    DeviceIdentity identity;
    identity.device = device;
    if (identifyDevice(device, identity.lunId, identity.targetId, identity.unreadable)) {
        identity.unreadable.clear();
        identity.protocol = identity.targetId.find("iqn") != std::string::npos ? "ISCSI" : "FC";
    } else if (identity.unreadable.empty()) {
        identity.unreadable = "no answer";
    }
    std::string unanswered;
    if (!readLunIdentity(device, identity.identity, unanswered)) {
        identity.identity.text = "its standard INQUIRY is not answered: " + unanswered;
    }
    return identity;
}

void judgeOnArray(DeviceIdentity& device, const ArrayProbe& probe, const std::string& arrayName,
                  const std::vector<ArrayTarget>& targets) {
    if (!device.unreadable.empty() || device.owned) {
        return;
    }
    const auto owner = std::find_if(targets.begin(), targets.end(), [&](const ArrayTarget& t) {
        return t.protocol == device.protocol && t.target == device.targetId;
    });
    if (owner == targets.end()) {
        return;
    }
    device.owned = true;
    const std::string where = "target " + device.targetId + " of array " + arrayName + " (" +
                              owner->protocol + " target group " + arrayText(owner->group) + ")";
    const ApiAnswer answer = probe.call("listLunsById", "[[\"" + device.lunId + "\"]]");
    jsonxx::Array volumes;
    if (!answer.ok || !volumes.parse(answer.body)) {
        device.verdict = "LUN " + device.lunId + " on " + where +
                         ": the array cannot be asked for it (" + whyFailed(answer) + ")";
        device.asked = false;
        return;
    }
    if (volumes.size() != 1 || !volumes.has<jsonxx::Object>(0) ||
        !volumes.get<jsonxx::Object>(0).has<jsonxx::String>("datasetPath")) {
        device.verdict = "LUN " + device.lunId + " on " + where + " is no volume of that array";
        return;
    }
    device.volume = true;
    device.verdict = "LUN " + device.lunId + " is volume " +
                     arrayText(volumes.get<jsonxx::Object>(0).get<jsonxx::String>("datasetPath")) +
                     ", " + where;
}

// `unasked` names each configured array whose targets could not be read, and why: a device
// none of the others presents may be one of theirs, so the configuration is not blamed.
void reportDevice(CheckLines& lines, const DeviceIdentity& device, const HostConfig& config,
                  const std::vector<std::string>& unasked) {
    const std::string subject = "device " + device.device;
    if (device.identity.kind == LunKind::OlderIntelliFlash) {
        lines.warn(subject, "LUN " + device.lunId + " is " + device.identity.text,
                   "the plug-in's support check says no for it, so a backup host does not "
                   "snapshot it through this plug-in");
    } else if (!device.unreadable.empty()) {
        lines.fail(subject, "its page 0x83 cannot be read: " + device.unreadable,
                   "vpd and prepare need it; run kysnap check as root");
    } else if (!device.owned && !unasked.empty()) {
        std::string arrays;
        for (const std::string& array : unasked) {
            arrays += (arrays.empty() ? "" : "; ") + array;
        }
        lines.warn(subject,
                   "LUN " + device.lunId + ": cannot tell which array presents it (target id \"" +
                       device.targetId + "\"), because " + arrays,
                   "run kysnap check again once the array answers");
    } else if (!device.asked) {
        lines.warn(subject, device.verdict, "run kysnap check again once the array answers");
    } else if (!device.owned) {
        lines.fail(subject,
                   "LUN " + device.lunId + ": its target id \"" + device.targetId + "\" names no " +
                       device.protocol + " target of a configured array",
                   "vpd and prepare will not find it: add the [array NAME] section of the array "
                   "that presents it to " +
                       config.path +
                       " (its target must be in one of that array's target groups), or leave "
                       "this device alone: it is not presented by a configured array");
    } else if (!device.volume) {
        lines.fail(subject, device.verdict,
                   "vpd and prepare will not find it: check which array presents this LUN");
    } else {
        lines.ok(subject, device.verdict);
    }
}

// Checks one array and judges the devices against its targets. Returns why its targets could
// not all be read ("" when they were).
std::string checkArray(CheckLines& lines, const ArrayConfig& configured, const HostConfig& config,
                       const std::vector<hostkit::Initiator>& initiators,
                       std::vector<DeviceIdentity>& devices) {
    const std::string subject = "array " + configured.name;
    ArrayAccess array{configured.name, configured.address, configured.user, "", configured.caFile};
    std::string why;
    if (!readPassword(configured, array.password, why)) {
        const std::string prefix = subject + ": ";
        lines.fail(subject, why.rfind(prefix, 0) == 0 ? why.substr(prefix.size()) : why,
                   "the [array " + configured.name + "] section of " + config.path + " names it");
        return subject + " was not asked: its password cannot be read";
    }
    ArrayProbe probe(array, kProbeSeconds);
    if (!probe.reach(why)) {
        lines.fail(subject, "cannot connect to " + array.address + ": " + why,
                   "check address in " + config.path +
                       " and that the array's HTTPS port is "
                       "reachable from this host");
        return subject + " cannot be reached (" + why + ")";
    }
    lines.ok(subject, "reachable at " + array.address);
    std::vector<ReportLine> said;
    const bool accepted = judgeCertificate(probe, array, config, said);
    for (const ReportLine& line : said) {
        lines.report(line, subject);
    }
    if (!accepted) {
        return subject + " was not asked: its certificate is not accepted";
    }
    const ApiAnswer version =
        probe.call("listSystemProperties", "[[\"ZEBI_API_VERSION\",\"ZEBI_API_MINOR_VERSION\"]]");
    if (version.status == 401 || version.body.find("Access Denied") != std::string::npos) {
        lines.fail(subject, "the credentials of user " + array.user + " are refused",
                   "check user and the password (" +
                       (configured.passwordFile.empty() ? "variable " + configured.passwordEnv
                                                        : "file " + configured.passwordFile) +
                       ") in " + config.path);
        return subject + " refused the credentials";
    }
    if (!version.ok && !version.failure.empty() && version.status < 400) {
        lines.fail(subject, "its API version cannot be read: " + version.failure,
                   "make sure the address is the array's management interface and that it "
                   "answers in time");
        return subject + " did not answer (" + version.failure + ")";
    }
    jsonxx::Array values;
    if (!version.ok || !values.parse(version.body) || !values.has<jsonxx::String>(0)) {
        lines.fail(subject,
                   "no API version in its answer (HTTP " + std::to_string(version.status) + ")",
                   "make sure the address is an IntelliFlash array's management interface");
        return subject + " gave no usable answer (HTTP " + std::to_string(version.status) + ")";
    }
    lines.ok(subject, "credentials of user " + array.user + " accepted");
    const std::string versionText = values.get<jsonxx::String>(0);
    const std::string api = arrayText(versionText);
    if (!isApiVersion(versionText)) {
        lines.fail(subject,
                   "API version \"" + api +
                       "\" is no version number (a decimal number such as 2.1, "
                       "optionally with a patch level); not supported",
                   "make sure the address is an IntelliFlash array's management interface");
    } else if (!apiVersionAtLeast(versionText, "2.0")) {
        lines.fail(subject, "API version " + api + " is not supported",
                   "upgrade the array: volumes need API 2.0, shares 2.1");
    } else if (!apiVersionAtLeast(versionText, "2.1")) {
        lines.warn(subject, "API version " + api + ": volumes supported, NFS shares not",
                   "shares need API 2.1");
    } else {
        lines.ok(subject, "API version " + api + ": volumes and NFS shares supported");
    }
    std::vector<ArrayTarget> targets;
    const std::string unread = checkTargetGroups(lines, subject, probe, config, targets);
    for (DeviceIdentity& device : devices) {
        judgeOnArray(device, probe, array.name, targets);
    }
    for (const hostkit::Initiator& initiator : initiators) {
        const std::string name = arrayInitiatorName(initiator);
        const ApiAnswer group = probe.call("getInitiatorGroup", quoted(name));
        if (!group.ok) {
            lines.warn(subject, "cannot tell the group of initiator " + name + " (" +
                                    whyFailed(group) + ")");
        } else if (bareText(group.body).empty()) {
            lines.ok(subject, "initiator " + name +
                                  " is in no initiator group yet; the plug-in makes one "
                                  "when it first maps a snapshot");
        } else {
            lines.ok(subject, "initiator " + name + " is in initiator group " +
                                  arrayText(bareText(group.body)));
        }
    }
    return unread.empty() ? std::string() : subject + ": " + unread;
}

// The HTTP client's own log lines during a check. Its request failures are what the check
// lines already say, so they are not repeated; its warnings (a setting it ignored) are printed
// once each, as terminal-safe text, since they may quote what the array sent.
class ProbeLog : private kyplatform::EvDebugSink {
public:
    ProbeLog() : previous_(kyplatform::setEvDebugSink(this)) {}
    ~ProbeLog() override { kyplatform::setEvDebugSink(previous_); }
    ProbeLog(const ProbeLog&) = delete;
    ProbeLog& operator=(const ProbeLog&) = delete;

private:
    void write(int level, const std::string& header, const std::string& message) override {
        if (message.rfind("warning: ", 0) != 0 || !shown_.insert(message).second) {
            return;
        }
        std::fprintf(stderr, "%s\n",
                     visibleText(kyplatform::formatEvDebugLine(level, header, message)).c_str());
    }

    kyplatform::EvDebugSink* previous_;
    std::set<std::string> shown_;
};

// The settings in force with the HTTP client's waits bounded for the length of a check, unless
// the user chose them.
kyplatform::PlatformSettings withShortTimeouts(kyplatform::PlatformSettings settings) {
    for (const auto& [limit, seconds] :
         {std::make_pair(&settings.connectTimeout, kProbeSeconds),
          std::make_pair(&settings.totalTimeout, 2 * kProbeSeconds)}) {
        if (limit->origin == kyplatform::TimeLimit::Origin::Default) {
            limit->seconds = seconds;
        }
    }
    return settings;
}

}  // namespace

int runCheck(const Options& options) {
    CheckLines lines(options.json, options.command);
    const ProbeLog probeLog;

    const std::string pluginPath = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    std::string error;
    if (auto plugin = PluginLibrary::load(pluginPath, error)) {
        int16_t major = 0, minor = 0, patch = 0;
        plugin->version(&major, &minor, &patch);
        lines.ok("plug-in", pluginPath + " loads, version " + std::to_string(major) + "." +
                                std::to_string(minor) + "." + std::to_string(patch));
    } else {
        lines.fail("plug-in", error, "give --plugin PATH or set KYSNAP_PLUGIN");
    }

    HostConfig config;
    const std::string configPath = options.config.empty() ? defaultConfigPath() : options.config;
    if (!loadHostConfig(configPath, config, error)) {
        // The configuration parsed when its pins file is what failed.
        lines.fail("configuration", error,
                   config.pinsFile.empty()
                       ? "give --config FILE or set KYSNAP_CONFIG (format in kysnap(1))"
                       : "correct that line of " + config.pinsFile +
                             " (format in docs/tls.md), or move the file aside and pin the "
                             "arrays again with kysnap trust");
        lines.finish();
        return 1;
    }
    // Probes through libkyplatform must not hang on a dead array either; the process's later
    // plug-in calls (kysnap demo) get the settings from before back.
    const ScopedPluginSettings timeouts(withShortTimeouts(kyplatform::platformSettings()));
    lines.ok("configuration", configPath + ": " + std::to_string(config.arrays.size()) +
                                  " array(s), backend " +
                                  (config.backend == BackendKind::Sim ? "sim" : "linux"));
    if (config.arrays.empty()) {
        lines.fail("configuration", "no array configured", "add an [array NAME] section");
    }

    // The host. Only the sim backend's view of the LUNs needs the passwords, and only until
    // the devices are identified: each array's own checks read it again and let it go.
    std::vector<ArrayAccess> arrays;
    for (const ArrayConfig& array : config.arrays) {
        arrays.push_back(ArrayAccess{array.name, array.address, array.user, "", array.caFile});
        if (config.backend == BackendKind::Sim) {
            std::string ignored;  // each array's check reports it
            readPassword(array, arrays.back().password, ignored);
        }
    }
    std::unique_ptr<HostBackend> backend = makeBackend(config, arrays);
    std::vector<hostkit::Initiator> initiators;
    if (backend->initiators(initiators, error)) {
        std::string names;
        for (const hostkit::Initiator& initiator : initiators) {
            names += (names.empty() ? "" : ", ") + initiator.name +
                     (initiator.iscsi ? " (iSCSI)" : " (FC)");
        }
        lines.ok("host " + backend->hostName(), backend->kind() + " backend, initiators " + names);
    } else {
        lines.fail("host " + backend->hostName(), error,
                   "snapshots cannot be mapped to this host until it has an initiator");
    }
    std::vector<std::string> devices;
    if (backend->arrayDevices(false, devices, error)) {
        std::string names;
        for (size_t i = 0; i < devices.size() && i < 4; ++i) {
            names += (i == 0 ? ": " : ", ") + devices[i];
        }
        lines.ok("host " + backend->hostName(), "sees " + std::to_string(devices.size()) +
                                                    " IntelliFlash device(s)" + names +
                                                    (devices.size() > 4 ? ", ..." : ""));
    } else {
        lines.warn("host " + backend->hostName(), "its devices cannot be listed: " + error);
    }

    std::vector<DeviceIdentity> identities;
    for (const std::string& device : devices) {
        identities.push_back(readIdentity(device));
    }
    backend.reset();
    arrays.clear();

    std::vector<std::string> unasked;
    for (const ArrayConfig& array : config.arrays) {
        const std::string why = checkArray(lines, array, config, initiators, identities);
        if (!why.empty()) {
            unasked.push_back(why);
        }
    }
    for (const DeviceIdentity& identity : identities) {
        reportDevice(lines, identity, config, unasked);
    }
    lines.finish();
    return lines.failed() ? 1 : 0;
}

}  // namespace kysnap
