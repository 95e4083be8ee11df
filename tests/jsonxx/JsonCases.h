// SPDX-License-Identifier: Apache-2.0
// What jsonxx makes of a text, as one comparable record, and a source of texts to ask it about.
// The compatibility test compares records with those kept in compat/cases.txt, which the older
// implementation wrote; the tool json_cases writes such records, so any two builds of jsonxx
// can be compared over as many texts as one likes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jsonxx_cases {

// For each of Object, Array and Value: what parse() followed by json() gives, or "!" when the
// text is refused; one escaped line each.
struct Outcome {
    std::string object;
    std::string array;
    std::string value;
};

Outcome outcomeOf(const std::string& text);

// Bytes as one line: printable ASCII as itself (backslash doubled), newline and tab as \n and
// \t, anything else as \xHH.
std::string escapeLine(const std::string& bytes);
bool unescapeLine(const std::string& line, std::string& bytes);

// Texts chosen to exercise the grammar's corners: numbers of every form and size, escapes,
// quotes, white space, nesting, truncations and stray bytes. The same `seed` and `count` give
// the same texts on every machine.
std::vector<std::string> generatedTexts(uint64_t seed, size_t count);

}  // namespace jsonxx_cases
