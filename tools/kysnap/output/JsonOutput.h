// SPDX-License-Identifier: Apache-2.0
// JsonOutput: the one shape of kysnap's --json output, for scripts. Every command prints one
// document on standard output, an object whose first members are
//   "version": kJsonFormatVersion   the format of the document (not kysnap's version)
//   "command": "snap"               the command it answers (null when none was given)
// then the command's own members. Collections are arrays of objects (a map's key is a member
// of its object), each fact has one member, and "/" is written as it is. On any error the
// document is {"version", "command", "exitStatus", "error"} (printErrorDocument).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace kysnap {

// Raised only when a member is removed or changes its meaning; new members keep it.
constexpr int kJsonFormatVersion = 1;

using JsonDocument = nlohmann::ordered_json;

// {"version": kJsonFormatVersion, "command": command}; a command's members follow.
JsonDocument jsonDocument(const std::string& command);

// Prints `document` on standard output and flushes it. A text that is not UTF-8 is written
// with U+FFFD in place of its bad bytes (kysnap passes what it shows through visibleText
// first, which leaves none).
void printJsonDocument(const JsonDocument& document);

}  // namespace kysnap
