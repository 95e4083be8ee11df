// SPDX-License-Identifier: Apache-2.0
#include "ConfigValues.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "VisibleText.h"

namespace kysnap {
namespace configvalues {

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

// An FC port name as hosts write it: 16 hex digits, with or without ':' between the bytes, or
// "wwn." and 16 hex digits.
bool validPortName(const std::string& text) {
    std::string digits = text.compare(0, 4, "wwn.") == 0 ? text.substr(4) : text;
    if (digits.size() == 23) {
        for (size_t i = 2; i < digits.size(); i += 3) {
            if (digits[i] != ':') {
                return false;
            }
        }
        digits.erase(std::remove(digits.begin(), digits.end(), ':'), digits.end());
    }
    return digits.size() == 16 && std::all_of(digits.begin(), digits.end(), [](unsigned char c) {
               return std::isxdigit(c) != 0;
           });
}

// An iSCSI name: "iqn.", "eui." or "naa.", then letters, digits, '-', '.' and ':' (at most 223
// characters in all).
bool validIscsiName(const std::string& text) {
    const std::string prefix = text.substr(0, 4);
    return text.size() > 4 && text.size() <= 223 &&
           (prefix == "iqn." || prefix == "eui." || prefix == "naa.") &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) {
               return std::isalnum(c) != 0 || c == '-' || c == '.' || c == ':';
           });
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

// What is wrong with an array address ("host", "host:port" or "[IPv6]:port"), or nothing.
std::string addressProblem(const std::string& address) {
    if (address.empty() || hasSeparator(address, ",|{} \t/@?#")) {
        return "address must be a host name or address, with ':port' if not 443";
    }
    std::string host = address;
    std::string port;
    bool hasPort = false;
    if (address.front() == '[') {
        const size_t close = address.find(']');
        if (close == std::string::npos ||
            (close + 1 < address.size() && address[close + 1] != ':')) {
            return "address '" + visibleText(address) +
                   "' must be [IPv6 address] or [IPv6 address]:port";
        }
        host = address.substr(1, close - 1);
        hasPort = close + 1 < address.size();
        port = hasPort ? address.substr(close + 2) : "";
    } else if (const size_t colon = address.find(':'); colon != std::string::npos) {
        if (address.find(':', colon + 1) != std::string::npos) {
            return "address '" + visibleText(address) +
                   "': an IPv6 address goes in brackets, as [ADDRESS] or [ADDRESS]:PORT";
        }
        host = address.substr(0, colon);
        port = address.substr(colon + 1);
        hasPort = true;
    }
    if (host.empty()) {
        return "address '" + visibleText(address) + "' has no host before the port";
    }
    if (hasPort) {
        const bool digits = !port.empty() && port.size() <= 5 &&
                            port.find_first_not_of("0123456789") == std::string::npos;
        const long number = digits ? std::strtol(port.c_str(), nullptr, 10) : 0;
        if (number < 1 || number > 65535) {
            return "the port of address '" + visibleText(address) +
                   "' must be a number from 1 to 65535" +
                   (port.empty() ? std::string(" after ':'") : ", not '" + visibleText(port) + "'");
        }
    }
    return std::string();
}

// The first byte of `line` that no configuration text holds: a control character other than a
// tab (a line's final '\r', from a file written with CRLF line ends, is allowed).
size_t forbiddenByte(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        const bool finalReturn = c == '\r' && i + 1 == line.size();
        if ((c < 0x20 && c != '\t' && !finalReturn) || c == 0x7f) {
            return i;
        }
    }
    return std::string::npos;
}

}  // namespace configvalues
}  // namespace kysnap
