// SPDX-License-Identifier: Apache-2.0
// Writer of the document model as JSON text, by the layout stated in jsonxx.h. Internal to the
// jsonxx library; escapeString() is the public face of its string escaping.
#pragma once

#include <cstddef>
#include <string>

#include "jsonxx.h"

namespace jsonxx {

class Writer {
public:
    // Each appends to `out`; `level` is the nesting level of the line the item starts on.
    static void value(std::string& out, const Value& value, int level);
    static void object(std::string& out, const Object& object, int level);
    static void array(std::string& out, const Array& array, int level);
    // Appends `text` escaped, in double quotes.
    static void quoted(std::string& out, const std::string& text);
    // Appends `text` escaped, without quotes.
    static void escaped(std::string& out, const std::string& text);

    // About what value(), object() and array() append, in bytes: strings are counted as they
    // are, without their escapes, and a number that is not a plain integer at the longest a
    // number can be written. Reserving it (with some room for escapes) first lets a large
    // document be written into one allocation.
    static size_t length(const Value& value, int level);
    static size_t length(const Object& object, int level);
    static size_t length(const Array& array, int level);
    // Room to reserve for writing `value` at level 0.
    template <typename Item>
    static size_t room(const Item& item) {
        const size_t estimate = length(item, 0);
        return estimate + estimate / 8;
    }
};

}  // namespace jsonxx
