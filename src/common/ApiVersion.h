// SPDX-License-Identifier: Apache-2.0
// ApiVersion: the array's API version as the plug-in and kysnap judge it. A version is
// "MAJOR" or "MAJOR.MINOR": ASCII digits, at most one dot followed by ASCII digits, and
// nothing else (no sign, blank, exponent, NUL or other byte), at most 32 characters. Anything
// else is no version and is never supported.
#pragma once

#include <string>

// Whether `text` is a version and at least `least` (itself a version), comparing both as
// decimal numbers: "2.10" equals "2.1", "2.05" is below it. False for any text that is no
// version.
bool apiVersionAtLeast(const std::string& text, const std::string& least);

// Whether `text` is a version by the rule above.
bool isApiVersion(const std::string& text);
