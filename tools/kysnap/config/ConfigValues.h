// SPDX-License-Identifier: Apache-2.0
// The checks of the host configuration's lines and single values (HostConfig.h reads the file
// with them): each says whether a text is acceptable, or what is wrong with it, and changes
// nothing.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kysnap {
namespace configvalues {

// `text` without the blanks (space, tab, '\r') around it.
std::string trim(const std::string& text);

// The text before a comment: '#' at the start or after a blank.
std::string withoutComment(const std::string& line);

// The trimmed, non-empty items of a comma-separated list.
std::vector<std::string> splitList(const std::string& value);

// An FC port name as hosts write it: 16 hex digits, with or without ':' between the bytes, or
// "wwn." and 16 hex digits.
bool validPortName(const std::string& text);

// An iSCSI name: "iqn.", "eui." or "naa.", then letters, digits, '-', '.' and ':' (at most 223
// characters in all).
bool validIscsiName(const std::string& text);

// Whether `name` is non-empty and only letters, digits, '-', '_' and '.': array names, users
// and addresses travel in the plug-in's key-value and list texts, where ',', ':', '|', '{' and
// '}' separate items.
bool safeName(const std::string& name);

// Whether `text` holds any of `separators`.
bool hasSeparator(const std::string& text, const char* separators);

// What is wrong with an array address ("host", "host:port" or "[IPv6]:port"); empty when
// nothing is.
std::string addressProblem(const std::string& address);

// The first byte of `line` that no configuration text holds: a control character other than a
// tab (a line's final '\r', from a file written with CRLF line ends, is allowed);
// std::string::npos when there is none.
size_t forbiddenByte(const std::string& line);

}  // namespace configvalues
}  // namespace kysnap
