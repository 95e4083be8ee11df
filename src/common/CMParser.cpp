// SPDX-License-Identifier: Apache-2.0
#include "CMParser.h"

#include <cctype>

namespace {

const std::string kValueSeparator = "|";

void storeItem(const std::string& item, CMParser::KeyValues& map) {
    const std::string::size_type colon = item.find(':');
    if (colon == std::string::npos) {
        map[item] = item;
    } else {
        map[item.substr(0, colon)] = item.substr(colon + 1);
    }
}

template <typename Container>
void splitInto(const std::string& text, const std::string& separator, Container& values) {
    if (separator.empty()) {
        if (!text.empty()) {
            values.push_back(text);
        }
        return;
    }
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type at = text.find(separator, start);
        if (at == std::string::npos) {
            break;
        }
        values.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    if (start < text.size()) {
        values.push_back(text.substr(start));
    }
}

}  // namespace

void CMParser::getKeyValues(std::string text, KeyValues& map) {
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type comma = text.find(',', start);
        if (comma == std::string::npos) {
            break;
        }
        storeItem(text.substr(start, comma - start), map);
        start = comma + 1;
    }
    storeItem(text.substr(start), map);
}

void CMParser::setKeyValues(std::string text, KeyValues& map) {
    auto entry = map.begin();
    if (entry == map.end()) {
        return;
    }
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type bar = text.find('|', start);
        if (bar == std::string::npos) {
            break;
        }
        entry->second = text.substr(start, bar - start);
        start = bar + 1;
        if (++entry == map.end()) {
            return;
        }
    }
    entry->second = text.substr(start);
}

void CMParser::getValues(std::string text, std::vector<std::string>& values) {
    splitInto(text, kValueSeparator, values);
}

void CMParser::getValues(std::string text, std::list<std::string>& values) {
    splitInto(text, kValueSeparator, values);
}

void CMParser::getValues(const std::string& text, const std::string& separator,
                         std::vector<std::string>& values) {
    splitInto(text, separator, values);
}

void CMParser::getValues(const std::string& text, const std::string& separator,
                         std::list<std::string>& values) {
    splitInto(text, separator, values);
}

void CMParser::toUpper(std::string& text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
}

void CMParser::toLower(std::string& text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
}
