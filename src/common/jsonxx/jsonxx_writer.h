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

    // What value(), object() and array() append, in bytes, or a little more: a number that is
    // not a plain integer is counted at the longest a number can be written. Reserving it first
    // lets a large document be written into one allocation.
    static size_t length(const Value& value, int level);
    static size_t length(const Object& object, int level);
    static size_t length(const Array& array, int level);
    static size_t escapedLength(const std::string& text);
};

}  // namespace jsonxx
