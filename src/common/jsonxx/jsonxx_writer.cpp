#include "jsonxx_writer.h"

#include <mutex>

#include "jsonxx_number.h"

namespace jsonxx {

namespace {

// Escape text per byte value; an empty entry means the byte is written as it is. Plain arrays
// and a once_flag are constant-initialised, so call_once is the only synchronisation here.
using EscapeTable = char[256][8];

const EscapeTable& escapeTable() {
    static EscapeTable table;
    static std::once_flag built;
    std::call_once(built, [] {
        static const char kHex[] = "0123456789abcdef";
        for (unsigned c = 0; c < 0x20; ++c) {
            char* entry = table[c];
            entry[0] = '\\';
            entry[1] = 'u';
            entry[2] = '0';
            entry[3] = '0';
            entry[4] = kHex[c >> 4];
            entry[5] = kHex[c & 0xF];
            entry[6] = '\0';
        }
        const struct {
            unsigned char byte;
            const char* text;
        } kShort[] = {{'"', "\\\""}, {'\\', "\\\\"}, {'/', "\\/"},  {'\b', "\\b"},
                      {'\f', "\\f"}, {'\n', "\\n"},  {'\r', "\\r"}, {'\t', "\\t"}};
        for (const auto& e : kShort) {
            table[e.byte][0] = e.text[0];
            table[e.byte][1] = e.text[1];
            table[e.byte][2] = '\0';
        }
    });
    return table;
}

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
    const EscapeTable& table = escapeTable();
    out.reserve(out.size() + text.size());
    for (const char c : text) {
        const char* entry = table[static_cast<unsigned char>(c)];
        if (entry[0] == '\0') {
            out += c;
        } else {
            out += entry;
        }
    }
}

std::string escapeString(const std::string& text) {
    std::string out;
    Writer::escaped(out, text);
    return out;
}

}  // namespace jsonxx
