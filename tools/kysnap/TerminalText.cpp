#include "TerminalText.h"

#include <cstdio>

namespace kysnap {

namespace {

void escapeByte(unsigned char byte, std::string& out) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    out += escaped;
}

// The length of the valid UTF-8 sequence at `at` (overlong forms, surrogates and values above
// U+10FFFF excluded), or 0 when none starts there.
size_t utf8Length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xbf) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string terminalText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            if (byte < 0x20 || byte == 0x7f) {
                escapeByte(byte, out);
            } else {
                out += text[at];
            }
            ++at;
            continue;
        }
        const size_t length = utf8Length(text, at);
        // U+0080 to U+009F (C1 controls, CSI among them) are written as their two bytes.
        const bool c1 =
            length == 2 && byte == 0xc2 && static_cast<unsigned char>(text[at + 1]) < 0xa0;
        if (length == 0 || c1) {
            for (size_t i = 0; i < (c1 ? 2 : 1); ++i) {
                escapeByte(static_cast<unsigned char>(text[at + i]), out);
            }
            at += c1 ? 2 : 1;
            continue;
        }
        out.append(text, at, length);
        at += length;
    }
    return out;
}

}  // namespace kysnap
