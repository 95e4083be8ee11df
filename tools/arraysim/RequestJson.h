// SPDX-License-Identifier: Apache-2.0
// RequestJson: how the simulator reads a request body (the REST parameters and the control
// routes' bodies). It is the tools' strict reader (StrictJson.h): one JSON value, no key given
// twice in an object, no text after the value, bounded nesting. One leniency is kept, because
// the plug-in sends it: it copies a name's bytes into a string unescaped beyond the control
// characters, so a string may hold bytes that are not UTF-8. Raw control characters inside a
// string are taken as the array takes them too. Both reach the value as the bytes sent.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace arraysim {

// Reads `body` into `value`. False with `error` saying what and where otherwise, as
// strictjson::parse says it; byte offsets count in the body as sent when its strings hold no
// byte that is not UTF-8, and are approximate when they do. A body that mixes such bytes with
// the code points U+10FF80 to U+10FFFF (which stand for them while reading) is refused.
bool parseRequestJson(const std::string& body, nlohmann::json& value, std::string& error);

}  // namespace arraysim
