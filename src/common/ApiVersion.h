// SPDX-License-Identifier: Apache-2.0
// ApiVersion: the array's API version as the plug-in and kysnap judge it. How arrays write it
// is not published, so a version is read by its leading decimal number: optional blanks or
// tabs, ASCII digits, optionally one '.' and ASCII digits ("2", "2.1"); then optionally a patch
// level, each part a '.' and ASCII digits ("2.1.0", "3.10.0.1"), which is not compared; then
// optionally blanks or tabs. At most 32 characters in all. Anything else is no version and is
// never supported: a sign, an exponent, hex, other text after the number, text without digits,
// any control character (a tab only around the number) or any byte outside ASCII.
#pragma once

#include <string>

// Whether `text` is a version and its leading decimal number is at least that of `least`
// (itself a version): "2.10" equals "2.1", "2.05" is below it, "2.1.0" equals "2.1". False for
// any text that is no version.
bool apiVersionAtLeast(const std::string& text, const std::string& least);

// Whether `text` is a version by the rule above.
bool isApiVersion(const std::string& text);

// `text` as a log line may show it: each control character, byte outside ASCII and '\' as
// "\xNN" (two lower-case hex digits), every other byte as it is, so that nothing the array sent
// is hidden or acts on a terminal.
std::string printableVersion(const std::string& text);
