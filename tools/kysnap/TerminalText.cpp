#include "TerminalText.h"

#include <cstdio>

#include "Reply.h"

namespace kysnap {

namespace {

void escapeByte(unsigned char byte, std::string& out) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    out += escaped;
}

bool isControl(const std::string& text, size_t at, size_t length) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (length == 1) {
        return byte < 0x20 || byte == 0x7f;
    }
    // U+0080 to U+009F, the C1 controls (CSI among them), are C2 80 to C2 9F.
    return length == 2 && byte == 0xc2 && static_cast<unsigned char>(text[at + 1]) < 0xa0;
}

}  // namespace

std::string terminalText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = arraysim::utf8SequenceLength(text, at);
        if (length == 0 || isControl(text, at, length)) {
            // A byte that starts no valid sequence goes alone; a control character whole.
            const size_t escaped = length == 0 ? 1 : length;
            for (size_t i = 0; i < escaped; ++i) {
                escapeByte(static_cast<unsigned char>(text[at + i]), out);
            }
            at += escaped;
            continue;
        }
        out.append(text, at, length);
        at += length;
    }
    return out;
}

}  // namespace kysnap
