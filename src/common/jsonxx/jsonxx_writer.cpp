// SPDX-License-Identifier: Apache-2.0
#include "jsonxx_writer.h"

#include "jsonxx_number.h"

namespace jsonxx {

namespace {

// Escape text per byte value, and its length; a length of 0 means the byte is written as it
// is. Built at compile time, so it needs no synchronisation.
struct EscapeTable {
    char entries[256][6];
    unsigned char lengths[256];

    constexpr EscapeTable() : entries{}, lengths{} {
        const char hex[] = "0123456789abcdef";
        for (unsigned c = 0; c < 0x20; ++c) {
            const char unicode[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
            for (unsigned i = 0; i < sizeof(unicode); ++i) {
                entries[c][i] = unicode[i];
            }
            lengths[c] = sizeof(unicode);
        }
        const char shortForms[][3] = {{'"', '\\', '"'},  {'\\', '\\', '\\'}, {'/', '\\', '/'},
                                      {'\b', '\\', 'b'}, {'\f', '\\', 'f'},  {'\n', '\\', 'n'},
                                      {'\r', '\\', 'r'}, {'\t', '\\', 't'}};
        for (const auto& form : shortForms) {
            const auto byte = static_cast<unsigned char>(form[0]);
            entries[byte][0] = form[1];
            entries[byte][1] = form[2];
            lengths[byte] = 2;
        }
    }
};

constexpr EscapeTable kEscapes;

void indent(std::string& out, int level) {
    out.append(static_cast<size_t>(level), '\t');
}

// After the members: the last ",\n" becomes " \n", then the closing character at `level`.
void close(std::string& out, bool empty, int level, char closing) {
    if (!empty) {
        out[out.size() - 2] = ' ';
    }
    indent(out, level);
    out += closing;
}

}  // namespace

void Writer::value(std::string& out, const Value& value, int level) {
    switch (value.type_) {
        case Value::NULL_:
            out += "null";
            break;
        case Value::BOOL_:
            out += value.bool_ ? "true" : "false";
            break;
        case Value::NUMBER_:
            detail::writeNumber(out, value.number_);
            break;
        case Value::STRING_:
            quoted(out, value.string_);
            break;
        case Value::OBJECT_:
            object(out, *value.object_, level);
            break;
        case Value::ARRAY_:
            array(out, *value.array_, level);
            break;
    }
}

void Writer::object(std::string& out, const Object& object, int level) {
    out += "{\n";
    for (const auto& member : object.kv_map()) {
        indent(out, level + 1);
        quoted(out, member.first);
        out += ": ";
        value(out, member.second, level + 1);
        out += ",\n";
    }
    close(out, object.empty(), level, '}');
}

void Writer::array(std::string& out, const Array& array, int level) {
    out += "[\n";
    for (const Value& element : array.values()) {
        indent(out, level + 1);
        value(out, element, level + 1);
        out += ",\n";
    }
    close(out, array.empty(), level, ']');
}

void Writer::quoted(std::string& out, const std::string& text) {
    out += '"';
    escaped(out, text);
    out += '"';
}

void Writer::escaped(std::string& out, const std::string& text) {
    out.reserve(out.size() + text.size());
    // Bytes that need no escape are copied in runs.
    const char* run = text.data();
    const char* const end = run + text.size();
    for (const char* at = run; at != end; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        const unsigned length = kEscapes.lengths[byte];
        if (length != 0) {
            out.append(run, at);
            out.append(kEscapes.entries[byte], length);
            run = at + 1;
        }
    }
    out.append(run, end);
}

size_t Writer::length(const Value& value, int level) {
    switch (value.type_) {
        case Value::NULL_:
        case Value::BOOL_:
            return 5;
        case Value::NUMBER_:
            return detail::writtenNumberLength(value.number_);
        case Value::STRING_:
            return 2 + value.string_.size();
        case Value::OBJECT_:
            return length(*value.object_, level);
        case Value::ARRAY_:
            return length(*value.array_, level);
    }
    return 0;
}

// "{\n", then per member a line of indent, key, ": ", value and ",\n"; then the closing line.
size_t Writer::length(const Object& object, int level) {
    size_t total = 2 + static_cast<size_t>(level) + 1;
    for (const auto& member : object.kv_map()) {
        total += static_cast<size_t>(level) + 1 + 2 + member.first.size() + 2 +
                 length(member.second, level + 1) + 2;
    }
    return total;
}

size_t Writer::length(const Array& array, int level) {
    size_t total = 2 + static_cast<size_t>(level) + 1;
    for (const Value& element : array.values()) {
        total += static_cast<size_t>(level) + 1 + length(element, level + 1) + 2;
    }
    return total;
}

std::string escapeString(const std::string& text) {
    std::string out;
    Writer::escaped(out, text);
    return out;
}

}  // namespace jsonxx
