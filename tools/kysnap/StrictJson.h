// SPDX-License-Identifier: Apache-2.0
// StrictJson: the structural checks the catalog needs beyond what the JSON library enforces.
// The library reads the first value of a text and ignores what follows it, keeps the later of
// two equal keys and takes single-quoted strings; for a file kysnap rewrites, any of these
// would silently change or drop data.
#pragma once

#include <string>

namespace kysnap {

// True when `text` is exactly one JSON object (white space around it allowed) whose strings
// are double-quoted and whose objects, at any depth, repeat no key. False with `error` saying
// what and where (byte offset) otherwise. Values are not checked beyond their extent.
bool isStrictJsonObject(const std::string& text, std::string& error);

}  // namespace kysnap
