// SPDX-License-Identifier: Apache-2.0
#include "VisibleText.h"

#include <cstdio>

namespace kysnap {

namespace {

std::string hexEscape(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Code points that print as nothing (or move the text around) on a terminal.
bool invisible(unsigned code) {
    return (code >= 0x80 && code <= 0xa0) || code == 0xad || code == 0x034f || code == 0x061c ||
           code == 0x115f || code == 0x1160 || code == 0x17b4 || code == 0x17b5 || code == 0x180e ||
           (code >= 0x2000 && code <= 0x200f) || (code >= 0x2028 && code <= 0x202f) ||
           (code >= 0x205f && code <= 0x206f) || code == 0x3000 || code == 0x3164 ||
           (code >= 0xfe00 && code <= 0xfe0f) || code == 0xfeff || code == 0xffa0 ||
           (code >= 0xfff0 && code <= 0xfffb) || (code >= 0xe0000 && code <= 0xe0fff);
}

// The length of the valid UTF-8 sequence at `at` (its code point in `code`), or 0.
size_t utf8Sequence(const std::string& text, size_t at, unsigned& code) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned minimum = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, code = lead & 0x1f, minimum = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, code = lead & 0x0f, minimum = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xc0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3f);
    }
    const bool surrogate = code >= 0xd800 && code <= 0xdfff;
    return code < minimum || code > 0x10ffff || surrogate ? 0 : length;
}

}  // namespace

std::string visibleText(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if (byte == '\t' || byte == '\r' || byte == '\n') {
            shown += byte == '\t' ? "\\t" : byte == '\r' ? "\\r" : "\\n";
            ++at;
        } else if (byte < 0x20 || byte == 0x7f) {
            shown += hexEscape("\\x%02x", byte);
            ++at;
        } else if (byte < 0x80) {
            shown += static_cast<char>(byte);
            ++at;
        } else {
            unsigned code = 0;
            const size_t length = utf8Sequence(text, at, code);
            if (length == 0) {
                shown += hexEscape("\\x%02x", byte);
                ++at;
            } else {
                shown += invisible(code) ? hexEscape("\\u{%04X}", code) : text.substr(at, length);
                at += length;
            }
        }
    }
    return shown;
}

}  // namespace kysnap
