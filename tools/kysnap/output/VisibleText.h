// SPDX-License-Identifier: Apache-2.0
// VisibleText: text from a file, the command line or an array (names, versions, error answers,
// the plug-in's log lines that quote them) made safe to print on a terminal. A
// control character, an invisible or line-breaking code point (a byte order mark, a zero-width
// space, a no-break space, a bidirectional override) and a byte that is not UTF-8 would
// otherwise show as nothing, or rearrange or garble the terminal; each is written escaped.
#pragma once

#include <string>

namespace kysnap {

// `text` with '\t', '\r' and '\n' as those escapes, other control bytes and bytes outside
// valid UTF-8 as "\xNN", invisible code points as "\u{XXXX}", and everything else (printable
// ASCII and visible UTF-8) unchanged.
std::string visibleText(const std::string& text);

}  // namespace kysnap
