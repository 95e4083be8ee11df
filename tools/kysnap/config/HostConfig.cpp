// SPDX-License-Identifier: Apache-2.0
#include "HostConfig.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "BoundedFile.h"
#include "ConfigValues.h"
#include "Pins.h"
#include "PluginSettings.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

using namespace configvalues;

// Reads the configuration line by line into a HostConfig, refusing the first problem.
class Parser {
public:
    Parser(const std::string& path, HostConfig& config) : path_(path), config_(config) {}

    bool line(int number, const std::string& raw, std::string& error) {
        number_ = number;
        if (const size_t at = forbiddenByte(raw); at != std::string::npos) {
            return fail(
                error,
                (raw[at] == '\0' ? std::string("a NUL byte")
                                 : "the control character " + visibleText(raw.substr(at, 1))) +
                    " at column " + std::to_string(at + 1) + ": a configuration holds only text");
        }
        const std::string text = trim(withoutComment(raw));
        if (text.empty()) {
            return true;
        }
        if (text.front() == '[') {
            return section(text, error);
        }
        const size_t equals = text.find('=');
        if (equals == std::string::npos) {
            return fail(error,
                        "expected 'key = value' or a [section], found '" + visibleText(text) + "'");
        }
        const std::string key = trim(text.substr(0, equals));
        const std::string value = trim(text.substr(equals + 1));
        if (key.empty()) {
            return fail(error, "a key is missing before '='");
        }
        if (section_.empty()) {
            return fail(error,
                        "'" + visibleText(key) +
                            "' comes before any [host], [array NAME] or [policy NAME] section");
        }
        if (!firstTime(keyLines_, key, "'" + visibleText(key) + "' in " + sectionTitle_, error)) {
            return false;
        }
        if (section_ == "policy") {
            const std::string problem = takePolicyKey(config_.policies.back(), key, value);
            return problem.empty() || fail(error, problem);
        }
        return section_ == "host" ? hostKey(key, value, error) : arrayKey(key, value, error);
    }

    bool finish(std::string& error) {
        for (const ArrayConfig& array : config_.arrays) {
            const std::string where = path_ + ": [array " + array.name + "]: ";
            if (array.address.empty() || array.user.empty()) {
                error = where + "'" + (array.address.empty() ? "address" : "user") + "' is missing";
                return false;
            }
            if (array.passwordFile.empty() == array.passwordEnv.empty()) {
                error = where + "give exactly one of 'password-file' and 'password-env'";
                return false;
            }
        }
        error = policiesProblem(config_.policies, [this](int line) { return where(line); });
        if (!error.empty()) {
            return false;
        }
        if (config_.backend == BackendKind::Linux &&
            (!config_.fcInitiators.empty() || !config_.iscsiInitiators.empty())) {
            error = path_ +
                    ": [host]: fc-initiators and iscsi-initiators are for the sim backend; "
                    "the linux backend reads the machine's own";
            return false;
        }
        return true;
    }

private:
    bool fail(std::string& error, const std::string& message) {
        error = where(number_) + ": " + message;
        return false;
    }

    std::string where(int number) const { return path_ + ":" + std::to_string(number); }

    // Records that `name` (a section or a key) is given on this line; false with `error` naming
    // both lines when it was given before. A repeated one would silently merge or override.
    bool firstTime(std::map<std::string, int>& seen, const std::string& name,
                   const std::string& what, std::string& error) {
        const auto [earlier, added] = seen.emplace(name, number_);
        if (!added) {
            return fail(error, what + " is given a second time (first at " +
                                   where(earlier->second) + "); give it once");
        }
        return true;
    }

    bool enter(const std::string& name, const std::string& title, std::string& error) {
        if (!firstTime(sectionLines_, name, title, error)) {
            return false;
        }
        section_ = name.substr(0, name.find(' '));
        sectionTitle_ = title;
        keyLines_.clear();
        return true;
    }

    bool section(const std::string& text, std::string& error) {
        if (text.back() != ']') {
            return fail(error, "a section header ends with ']'");
        }
        const std::string inner = trim(text.substr(1, text.size() - 2));
        if (inner == "host") {
            return enter("host", "[host]", error);
        }
        if (inner.rfind("array", 0) == 0 && inner.size() > 5 &&
            (inner[5] == ' ' || inner[5] == '\t')) {
            const std::string name = trim(inner.substr(5));
            if (!safeName(name)) {
                return fail(error, "array name '" + visibleText(name) +
                                       "' may hold only letters, digits, '-', '_' and '.'");
            }
            if (!enter("array " + name, "[array " + name + "]", error)) {
                return false;
            }
            config_.arrays.push_back(ArrayConfig{name, "", "", "", "", ""});
            return true;
        }
        if (inner.rfind("policy", 0) == 0 && inner.size() > 6 &&
            (inner[6] == ' ' || inner[6] == '\t')) {
            const std::string name = trim(inner.substr(6));
            if (!safeName(name)) {
                return fail(error, "policy name '" + visibleText(name) +
                                       "' may hold only letters, digits, '-', '_' and '.'");
            }
            if (!enter("policy " + name, "[policy " + name + "]", error)) {
                return false;
            }
            config_.policies.push_back(Policy());
            config_.policies.back().name = name;
            config_.policies.back().line = number_;
            return true;
        }
        return fail(error, "unknown section [" + visibleText(inner) +
                               "]: use [host], [array NAME] or [policy NAME]");
    }

    bool number(const std::string& key, const std::string& value, int low, int high,
                std::optional<int>& out, std::string& error) {
        char* end = nullptr;
        errno = 0;
        const long parsed = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || errno != 0 || parsed < low || parsed > high) {
            return fail(error, key + " must be a whole number from " + std::to_string(low) +
                                   " to " + std::to_string(high) + ", not '" + visibleText(value) +
                                   "'");
        }
        out = static_cast<int>(parsed);
        return true;
    }

    bool yesOrNo(const std::string& key, const std::string& value, bool& out, std::string& error) {
        if (value == "yes" || value == "on" || value == "true" || value == "1") {
            out = true;
        } else if (value == "no" || value == "off" || value == "false" || value == "0") {
            out = false;
        } else {
            return fail(error, key + " must be yes or no, not '" + visibleText(value) + "'");
        }
        return true;
    }

    bool initiators(const std::string& key, const std::vector<std::string>& names,
                    bool (*valid)(const std::string&), const char* form, std::string& error) {
        for (const std::string& name : names) {
            if (!valid(name)) {
                return fail(error, key + ": '" + visibleText(name) + "' is not " + form);
            }
        }
        return true;
    }

    bool hostKey(const std::string& key, const std::string& value, std::string& error) {
        if (key == "backend") {
            if (value != "sim" && value != "linux") {
                return fail(error,
                            "backend must be 'sim' or 'linux', not '" + visibleText(value) + "'");
            }
            config_.backend = value == "sim" ? BackendKind::Sim : BackendKind::Linux;
        } else if (key == "name") {
            if (!safeName(value)) {
                return fail(error, "name may hold only letters, digits, '-', '_' and '.'");
            }
            config_.hostName = value;
        } else if (key == "fc-initiators") {
            config_.fcInitiators = splitList(value);
            return initiators(key, config_.fcInitiators, validPortName,
                              "an FC port name: 16 hex digits, with or without ':' or wwn.", error);
        } else if (key == "iscsi-initiators") {
            config_.iscsiInitiators = splitList(value);
            return initiators(key, config_.iscsiInitiators, validIscsiName,
                              "an iSCSI name: iqn., eui. or naa., then letters, digits, '-', '.' "
                              "and ':'",
                              error);
        } else if (key == "esx-name") {
            if (!safeName(value)) {
                return fail(error, "esx-name may hold only letters, digits, '-', '_' and '.'");
            }
            config_.esxName = value;
        } else if (key == "retry-count") {
            return number(key, value, 0, 1000, config_.retryCount, error);
        } else if (key == "retry-interval") {
            return number(key, value, 0, 3600, config_.retryInterval, error);
        } else if (key == "create-settle-seconds") {
            return number(key, value, 0, 86400, config_.createSettleSeconds, error);
        } else if (key == "diagnostic-logging") {
            bool on = false;
            if (!yesOrNo(key, value, on, error)) {
                return false;
            }
            config_.diagnosticLogging = on;
        } else if (key == "target-group") {
            config_.targetGroup = value;
        } else if (key == "pins-file") {
            config_.pinsFileKey = value;
        } else if (key == "audit-log") {
            if (value.empty() || value.front() != '/') {
                return fail(error,
                            "audit-log must be an absolute path, not '" + visibleText(value) + "'");
            }
            config_.auditLog = value;
        } else if (key == "audit-syslog") {
            return yesOrNo(key, value, config_.auditSyslog, error);
        } else {
            return fail(error, "unknown key '" + visibleText(key) + "' in [host]");
        }
        return true;
    }

    bool arrayKey(const std::string& key, const std::string& value, std::string& error) {
        ArrayConfig& array = config_.arrays.back();
        if (key == "address") {
            if (const std::string problem = addressProblem(value); !problem.empty()) {
                return fail(error, problem);
            }
            array.address = value;
        } else if (key == "user") {
            if (value.empty() || hasSeparator(value, ",:|{}")) {
                return fail(error, "user must not be empty nor hold ',', ':', '|', '{' or '}'");
            }
            array.user = value;
        } else if (key == "password-file") {
            array.passwordFile = value;
        } else if (key == "password-env") {
            array.passwordEnv = value;
        } else if (key == "ca-file") {
            array.caFile = value;
        } else if (key == "password") {
            return fail(error,
                        "passwords are not kept in the configuration: use password-file "
                        "(mode 0600) or password-env");
        } else {
            return fail(error,
                        "unknown key '" + visibleText(key) + "' in [array " + array.name + "]");
        }
        return true;
    }

    const std::string& path_;
    HostConfig& config_;
    std::string section_;                      // "host", "array" or none yet
    std::string sectionTitle_;                 // as written in messages: "[host]", "[array NAME]"
    std::map<std::string, int> sectionLines_;  // the line of each section given so far
    std::map<std::string, int> keyLines_;      // the line of each key of the current section
    int number_ = 0;
};

// Editors may start a UTF-8 file with a byte order mark; it is not part of the text.
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

const ArrayConfig* HostConfig::findArray(const std::string& name) const {
    for (const ArrayConfig& array : arrays) {
        if (array.name == name) {
            return &array;
        }
    }
    return nullptr;
}

const Policy* HostConfig::findPolicy(const std::string& name) const {
    for (const Policy& policy : policies) {
        if (policy.name == name) {
            return &policy;
        }
    }
    return nullptr;
}

bool parseHostConfig(const std::string& text, const std::string& path, HostConfig& config,
                     std::string& error) {
    config = HostConfig();
    config.path = path;
    Parser parser(path, config);
    const bool marked = text.compare(0, 3, kUtf8ByteOrderMark) == 0;
    std::istringstream in(marked ? text.substr(3) : text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!parser.line(number, line, error)) {
            return false;
        }
    }
    return parser.finish(error);
}

bool loadHostConfig(const std::string& path, HostConfig& config, std::string& error) {
    // A link to the configuration is fine; a FIFO or device in its place is not.
    constexpr size_t kLimit = 1 << 20;
    BoundedRead file;
    if (!readBoundedFile(path, "the configuration " + path, Links::Follow, kLimit, file, error)) {
        return false;
    }
    if (!parseHostConfig(file.text, path, config, error) || !usePinsFile(config, error)) {
        return false;
    }
    installPluginSettings(config);
    return true;
}

std::string defaultConfigPath() {
    if (const char* chosen = std::getenv("KYSNAP_CONFIG"); chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        base = std::string(home) + "/.config";
    }
    const std::string user = base + "/kysnap/kysnap.conf";
    if (!base.empty() && access(user.c_str(), F_OK) == 0) {
        return user;
    }
    return "/etc/kysnap/kysnap.conf";
}

}  // namespace kysnap
