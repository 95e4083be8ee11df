// SPDX-License-Identifier: Apache-2.0
#include "RequestJson.h"

#include <cctype>
#include <cstdio>
#include <utility>

#include "StrictJson.h"

namespace arraysim {

namespace {

using Json = nlohmann::json;

// A byte that is not UTF-8 is read as the private code point U+10FF00 + byte (0x80..0xFF),
// written in UTF-8 as F4 8F (BE|BF) xx, and turned back into the byte once read.
constexpr unsigned char kMarkLead0 = 0xF4;
constexpr unsigned char kMarkLead1 = 0x8F;

bool continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at `at`, or 0 when there is none.
size_t utf8Length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    };
    const unsigned char b0 = byte(0);
    const unsigned char b1 = byte(1);
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        return continuation(b1) ? 2 : 0;
    }
    const bool second = b0 == 0xE0   ? b1 >= 0xA0 && b1 <= 0xBF
                        : b0 == 0xED ? b1 >= 0x80 && b1 <= 0x9F
                        : b0 == 0xF0 ? b1 >= 0x90 && b1 <= 0xBF
                        : b0 == 0xF4 ? b1 >= 0x80 && b1 <= 0x8F
                                     : continuation(b1);
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        return second && continuation(byte(2)) ? 3 : 0;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        return second && continuation(byte(2)) && continuation(byte(3)) ? 4 : 0;
    }
    return 0;
}

bool isMark(const std::string& text, size_t at) {
    return at + 3 < text.size() && static_cast<unsigned char>(text[at]) == kMarkLead0 &&
           static_cast<unsigned char>(text[at + 1]) == kMarkLead1 &&
           static_cast<unsigned char>(text[at + 2]) >= 0xBE;
}

struct Prepared {
    std::string text;
    bool marked = false;     // a byte that is not UTF-8 was replaced by its mark
    bool lookalike = false;  // the body itself holds a code point a mark could stand for
};

// The body with its strings' raw control characters escaped and their bytes that are not
// UTF-8 marked. Bytes outside strings are left for the reader to refuse.
Prepared prepare(const std::string& body) {
    Prepared out;
    out.text.reserve(body.size());
    bool inString = false;
    for (size_t at = 0; at < body.size(); ++at) {
        const auto byte = static_cast<unsigned char>(body[at]);
        if (!inString) {
            inString = byte == '"';
            out.text += body[at];
            continue;
        }
        if (byte == '"') {
            inString = false;
            out.text += body[at];
        } else if (byte == '\\') {
            // \uDBFF starts U+10FC00..U+10FFFF: as a mark would, so it is taken as one.
            if (at + 5 < body.size() && (body[at + 1] == 'u' || body[at + 1] == 'U')) {
                std::string hex = body.substr(at + 2, 4);
                for (char& c : hex) {
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
                out.lookalike = out.lookalike || hex == "dbff";
            }
            out.text += body[at];
            if (at + 1 < body.size()) {
                out.text += body[++at];
            }
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out.text += escaped;
        } else if (byte < 0x80) {
            out.text += body[at];
        } else if (const size_t length = utf8Length(body, at)) {
            out.lookalike = out.lookalike || isMark(body, at);
            out.text.append(body, at, length);
            at += length - 1;
        } else {
            out.marked = true;
            const unsigned code = 0x10FF00u + byte;
            out.text += static_cast<char>(kMarkLead0);
            out.text += static_cast<char>(kMarkLead1);
            out.text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out.text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::string unmarked(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        if (isMark(text, at)) {
            const unsigned code = ((static_cast<unsigned char>(text[at + 2]) & 0x3Fu) << 6) |
                                  (static_cast<unsigned char>(text[at + 3]) & 0x3Fu);
            out += static_cast<char>(code & 0xFF);
            at += 3;
        } else {
            out += text[at];
        }
    }
    return out;
}

Json unmarkedValue(Json&& value) {
    if (value.is_string()) {
        return unmarked(value.get_ref<const std::string&>());
    }
    if (value.is_array()) {
        for (Json& element : value) {
            element = unmarkedValue(std::move(element));
        }
        return std::move(value);
    }
    if (value.is_object()) {
        Json object = Json::object();
        for (auto member = value.begin(); member != value.end(); ++member) {
            object[unmarked(member.key())] = unmarkedValue(std::move(member.value()));
        }
        return object;
    }
    return std::move(value);
}

}  // namespace

bool parseRequestJson(const std::string& body, nlohmann::json& value, std::string& error) {
    Prepared prepared = prepare(body);
    if (prepared.marked && prepared.lookalike) {
        error =
            "it holds both bytes that are not UTF-8 and the code points U+10FC00 to "
            "U+10FFFF, which cannot be told apart while reading";
        return false;
    }
    if (!strictjson::parse(prepared.text, value, error)) {
        return false;
    }
    if (prepared.marked) {
        value = unmarkedValue(std::move(value));
    }
    return true;
}

}  // namespace arraysim
