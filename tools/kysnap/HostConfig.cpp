#include "HostConfig.h"

#include "BoundedFile.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kysnap {

namespace {

std::string trim(const std::string& text) {
    const char* blanks = " \t\r";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The text before a comment: '#' at the start or after a blank.
std::string withoutComment(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
            return line.substr(0, i);
        }
    }
    return line;
}

std::vector<std::string> splitList(const std::string& value) {
    std::vector<std::string> items;
    std::string item;
    std::istringstream in(value);
    while (std::getline(in, item, ',')) {
        item = trim(item);
        if (!item.empty()) {
            items.push_back(item);
        }
    }
    return items;
}

// Array names, users and addresses travel in the plug-in's key-value and list texts, where
// ',', ':', '|', '{' and '}' separate items; names are kept to a safe alphabet.
bool safeName(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    for (char c : name) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.')) {
            return false;
        }
    }
    return true;
}

bool hasSeparator(const std::string& text, const char* separators) {
    return text.find_first_of(separators) != std::string::npos;
}

class Parser {
public:
    Parser(const std::string& path, HostConfig& config) : path_(path), config_(config) {}

    bool line(int number, const std::string& raw, std::string& error) {
        number_ = number;
        const std::string text = trim(withoutComment(raw));
        if (text.empty()) {
            return true;
        }
        if (text.front() == '[') {
            return section(text, error);
        }
        const size_t equals = text.find('=');
        if (equals == std::string::npos) {
            return fail(error, "expected 'key = value' or a [section], found '" + text + "'");
        }
        const std::string key = trim(text.substr(0, equals));
        const std::string value = trim(text.substr(equals + 1));
        if (key.empty()) {
            return fail(error, "a key is missing before '='");
        }
        if (section_.empty()) {
            return fail(error, "'" + key + "' comes before any [host] or [array NAME] section");
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
        error = path_ + ":" + std::to_string(number_) + ": " + message;
        return false;
    }

    bool section(const std::string& text, std::string& error) {
        if (text.back() != ']') {
            return fail(error, "a section header ends with ']'");
        }
        const std::string inner = trim(text.substr(1, text.size() - 2));
        if (inner == "host") {
            section_ = "host";
            return true;
        }
        if (inner.rfind("array", 0) == 0 && inner.size() > 5 &&
            (inner[5] == ' ' || inner[5] == '\t')) {
            const std::string name = trim(inner.substr(5));
            if (!safeName(name)) {
                return fail(error, "array name '" + name +
                                       "' may hold only letters, digits, '-', '_' and '.'");
            }
            if (config_.findArray(name) != nullptr) {
                return fail(error, "array '" + name + "' is configured twice");
            }
            config_.arrays.push_back(ArrayConfig{name, "", "", "", "", ""});
            section_ = "array";
            return true;
        }
        return fail(error, "unknown section [" + inner + "]: use [host] or [array NAME]");
    }

    bool number(const std::string& key, const std::string& value, int low, int high,
                std::optional<int>& out, std::string& error) {
        char* end = nullptr;
        errno = 0;
        const long parsed = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || errno != 0 || parsed < low || parsed > high) {
            return fail(error, key + " must be a whole number from " + std::to_string(low) +
                                   " to " + std::to_string(high) + ", not '" + value + "'");
        }
        out = static_cast<int>(parsed);
        return true;
    }

    bool hostKey(const std::string& key, const std::string& value, std::string& error) {
        if (key == "backend") {
            if (value != "sim" && value != "linux") {
                return fail(error, "backend must be 'sim' or 'linux', not '" + value + "'");
            }
            config_.backend = value == "sim" ? BackendKind::Sim : BackendKind::Linux;
        } else if (key == "name") {
            if (!safeName(value)) {
                return fail(error, "name may hold only letters, digits, '-', '_' and '.'");
            }
            config_.hostName = value;
        } else if (key == "fc-initiators") {
            config_.fcInitiators = splitList(value);
        } else if (key == "iscsi-initiators") {
            config_.iscsiInitiators = splitList(value);
        } else if (key == "esx-name") {
            if (!safeName(value)) {
                return fail(error, "esx-name may hold only letters, digits, '-', '_' and '.'");
            }
            config_.esxName = value;
        } else if (key == "retry-count") {
            return number(key, value, 0, 1000, config_.retryCount, error);
        } else if (key == "retry-interval") {
            return number(key, value, 0, 3600, config_.retryInterval, error);
        } else if (key == "diagnostic-logging") {
            if (value == "yes" || value == "on" || value == "true" || value == "1") {
                config_.diagnosticLogging = true;
            } else if (value == "no" || value == "off" || value == "false" || value == "0") {
                config_.diagnosticLogging = false;
            } else {
                return fail(error, "diagnostic-logging must be yes or no, not '" + value + "'");
            }
        } else if (key == "target-group") {
            config_.targetGroup = value;
        } else {
            return fail(error, "unknown key '" + key + "' in [host]");
        }
        return true;
    }

    bool arrayKey(const std::string& key, const std::string& value, std::string& error) {
        ArrayConfig& array = config_.arrays.back();
        if (key == "address") {
            if (value.empty() || hasSeparator(value, ",|{} \t/@?#")) {
                return fail(error,
                            "address must be a host name or address, with ':port' if "
                            "not 443");
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
            return fail(error, "unknown key '" + key + "' in [array " + array.name + "]");
        }
        return true;
    }

    const std::string& path_;
    HostConfig& config_;
    std::string section_;
    int number_ = 0;
};

}  // namespace

const ArrayConfig* HostConfig::findArray(const std::string& name) const {
    for (const ArrayConfig& array : arrays) {
        if (array.name == name) {
            return &array;
        }
    }
    return nullptr;
}

bool parseHostConfig(const std::string& text, const std::string& path, HostConfig& config,
                     std::string& error) {
    config = HostConfig();
    config.path = path;
    Parser parser(path, config);
    std::istringstream in(text);
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
    return parseHostConfig(file.text, path, config, error);
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
