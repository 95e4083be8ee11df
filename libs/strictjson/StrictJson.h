// SPDX-License-Identifier: Apache-2.0
// StrictJson: the tools' one way to read JSON (the catalog, the simulator's seed, the host view
// and the request bodies the simulator receives). It reads with nlohmann::json, which already
// refuses what is not JSON (single quotes, comments, invalid UTF-8, ...), and refuses beyond
// it what would silently change or drop data in a file the tools rewrite:
//   - a key given twice in one object, at any depth (which of the two would count?);
//   - any text after the document (it would be lost on the next write);
//   - nesting deeper than kMaxDepth.
// Typed access is nlohmann's; the helpers below are the checks several readers share.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace strictjson {

// Deeper than any document the tools read or write; far below what exhausts a stack.
constexpr int kMaxDepth = 64;

// Reads `text` as exactly one JSON value (white space around it allowed) into `value`. False
// with `error` saying what and where (byte offset from 0) otherwise, e.g.
//   the key "snapshots" appears twice in one object (at byte 81)
//   there is text after the JSON document (at byte 120)
//   it is not valid JSON (at byte 7: invalid literal)
//   it is nested too deeply (at byte 65)
// `value` is then unspecified.
bool parse(const std::string& text, nlohmann::json& value, std::string& error);

// The same, and the value must be an object: else false with "it is not a JSON object".
bool parseObject(const std::string& text, nlohmann::json& object, std::string& error);

// Whether `value` is a number holding a whole value in [min, max] (5, 5.0 and 5e0 do; 5.5,
// 1e999 and "5" do not); its value in `out` when it is.
bool wholeNumber(const nlohmann::json& value, int64_t min, int64_t max, int64_t& out);

// The text of a string member, or `fallback` when `object` has no such string member.
std::string textOr(const nlohmann::json& object, const char* key, const std::string& fallback);

}  // namespace strictjson
