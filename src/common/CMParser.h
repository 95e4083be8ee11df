// SPDX-License-Identifier: Apache-2.0
// CMParser: the codec of the flat texts exchanged with the host and the array.
//   key-value text:  "key:value,key:value" (only the first ':' of an item splits it);
//   value lists:     values separated by '|' or a given separator;
//   metadata values: '|'-separated values bound by position to the keys of a prepared map.
// Nothing is trimmed, unbraced or case-changed unless asked: every character between two
// separators belongs to the item.
#pragma once

#include <list>
#include <map>
#include <string>
#include <vector>

class CMParser {
public:
    using KeyValues = std::map<std::string, std::string>;

    // Adds one entry per item of key-value text; existing keys are overwritten. An item
    // without ':' is stored with the whole item as key and value; an empty text, or one ending
    // in ',', yields an entry with the empty key.
    void getKeyValues(std::string text, KeyValues& map);

    // Assigns the '|'-separated fields of `text` to the values of `map` in key order. Fields
    // beyond the number of entries are ignored; entries beyond the fields keep their values.
    void setKeyValues(std::string text, KeyValues& map);

    // Appends the fields of `text` split at `separator` (default '|'). An empty field in the
    // middle counts; a trailing separator adds no empty field; an empty text adds nothing.
    // An empty separator appends the whole text as one field (when not empty).
    void getValues(std::string text, std::vector<std::string>& values);
    void getValues(std::string text, std::list<std::string>& values);
    void getValues(const std::string& text, const std::string& separator,
                   std::vector<std::string>& values);
    void getValues(const std::string& text, const std::string& separator,
                   std::list<std::string>& values);

    void toUpper(std::string& text);
    void toLower(std::string& text);
};
