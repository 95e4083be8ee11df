// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for the key-value and value-list codec (CMParser). Fields: the text, a
// separator, metadata for setKeyValues. Splitting must lose nothing: joining the values with
// the separator gives the text back (up to one trailing separator).
#include <list>
#include <string>
#include <vector>

#include "CMParser.h"
#include "FuzzFields.h"

namespace {

template <typename Container>
std::string joined(const Container& values, const std::string& separator) {
    std::string text;
    bool first = true;
    for (const std::string& value : values) {
        text += (first ? "" : separator) + value;
        first = false;
    }
    return text;
}

void checkSplit(const std::string& text, const std::string& separator) {
    CMParser parser;
    std::vector<std::string> vector;
    std::list<std::string> list;
    parser.getValues(text, separator, vector);
    parser.getValues(text, separator, list);
    if (vector.size() != list.size() || joined(vector, "\x01") != joined(list, "\x01")) {
        fuzz::fail("parser_fuzz", "vector and list splits differ");
    }
    if (separator.empty()) {
        if (vector.size() != (text.empty() ? 0u : 1u)) {
            fuzz::fail("parser_fuzz", "an empty separator must give the whole text");
        }
        return;
    }
    const std::string back = joined(vector, separator);
    if (back != text && back + separator != text) {
        fuzz::fail("parser_fuzz", "split values do not join back to the text");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> in = fuzz::fields(data, size, 3);
    const std::string& text = in[0];
    CMParser parser;

    CMParser::KeyValues keyValues;
    parser.getKeyValues(text, keyValues);
    for (const auto& [key, value] : keyValues) {
        if (key.find(',') != std::string::npos || value.find(',') != std::string::npos) {
            fuzz::fail("parser_fuzz", "a key or value holds the item separator");
        }
    }
    // Metadata bound by position to the keys just read: no value gains a '|'.
    CMParser::KeyValues bound;
    for (const auto& entry : keyValues) {
        bound[entry.first];
    }
    parser.setKeyValues(in[2], bound);
    for (const auto& entry : bound) {
        if (entry.second.find('|') != std::string::npos) {
            fuzz::fail("parser_fuzz", "a metadata value holds the field separator");
        }
    }

    std::vector<std::string> values;
    std::list<std::string> valueList;
    parser.getValues(text, values);
    parser.getValues(text, valueList);
    checkSplit(text, "|");
    checkSplit(text, in[1]);

    std::string upper = text;
    std::string lower = text;
    parser.toUpper(upper);
    parser.toLower(lower);
    if (upper.size() != text.size() || lower.size() != text.size()) {
        fuzz::fail("parser_fuzz", "case change altered the length");
    }
    return 0;
}
