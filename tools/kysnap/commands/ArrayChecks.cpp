// SPDX-License-Identifier: Apache-2.0
#include "ArrayChecks.h"

#include <cctype>

#include "ApiVersion.h"
#include "ArrayProbe.h"
#include "CertificateReport.h"
#include "Passwords.h"

namespace kysnap {

namespace {

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

std::string joined(const nlohmann::json& list) {
    std::string text;
    for (const nlohmann::json& entry : list) {
        if (entry.is_string()) {
            text += (text.empty() ? "" : ", ") + arrayText(entry.get<std::string>());
        }
    }
    return text.empty() ? "none" : text;
}

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
        nlohmann::json names;
        std::string why;
        if (!readList(groups, names, why)) {
            lines.fail(subject, std::string("the ") + protocol + " target groups cannot be read",
                       why);
            unread = std::string("its ") + protocol + " target groups cannot be read (" + why + ")";
            continue;
        }
        if (names.size() == 0) {
            lines.warn(subject, std::string("no ") + protocol + " target group");
        }
        for (const nlohmann::json& name : names) {
            if (!name.is_string()) {
                continue;
            }
            const std::string group = name.get<std::string>();
            configuredFound = configuredFound || group == *config.targetGroup;
            const ApiAnswer answer =
                probe.call("listTargetsInTargetGroup", requestBody(nlohmann::json::array({group})));
            nlohmann::json members;
            if (readList(answer, members, why)) {
                lines.ok(subject, std::string(protocol) + " target group " + arrayText(group) +
                                      ": " + joined(members));
                for (const nlohmann::json& member : members) {
                    if (member.is_string()) {
                        targets.push_back(ArrayTarget{group, protocol, member.get<std::string>()});
                    }
                }
            } else {
                lines.fail(subject, "the targets of " + arrayText(group) + " cannot be read", why);
                unread = "the targets of " + arrayText(group) + " cannot be read (" + why + ")";
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

}  // namespace

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
    nlohmann::json values;
    why.clear();
    if (!readList(version, values, why) || values.empty() || !values[0].is_string()) {
        // An answer that cannot be read says why; one that reads but holds no version does not.
        const std::string read = version.ok && !why.empty() ? "; " + why : "";
        lines.fail(
            subject,
            "no API version in its answer (HTTP " + std::to_string(version.status) + read + ")",
            "make sure the address is an IntelliFlash array's management interface");
        return subject + " gave no usable answer (HTTP " + std::to_string(version.status) + read +
               ")";
    }
    lines.ok(subject, "credentials of user " + array.user + " accepted");
    const std::string versionText = values[0].get<std::string>();
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
        const ApiAnswer group =
            probe.call("getInitiatorGroup", requestBody(nlohmann::json::array({name})));
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

}  // namespace kysnap
