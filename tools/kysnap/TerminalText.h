// TerminalText: text from an array (names, versions, error answers, the plug-in's log lines
// that quote them) made safe to print on a terminal. Control characters (C0, DEL and the C1
// range, line breaks and ESC included) and bytes that are no part of valid UTF-8 are written as
// \xNN, so that no answer can move the cursor, retitle the window or hide what came before.
// Valid printable UTF-8 is kept as it is.
#pragma once

#include <string>

namespace kysnap {

std::string terminalText(const std::string& text);

}  // namespace kysnap
