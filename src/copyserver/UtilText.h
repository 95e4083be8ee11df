// SPDX-License-Identifier: Apache-2.0
// Reading texts from the host's OS utility, whose list and information calls answer 0 (the
// buffer holds the text), a positive size to retry with, or a negative error. A utility that
// keeps asking, asks for less than it has, or asks for an absurd size is treated as failing
// rather than looped on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The largest text the plug-in accepts from the utility.
constexpr int32_t kMaxUtilTextSize = 16 * 1024 * 1024;

// One call with the buffer's capacity and data; answers as the utility does. For calls that
// report the size through an argument, the lambda answers that size when it is positive.
using UtilGet = std::function<int32_t(int32_t size, char* buffer)>;
// Told of each regrow: the size the buffer had and the utility's answer.
using UtilRegrowNotice = std::function<void(int32_t oldSize, int32_t answer)>;

// Returns 0 with `text` set; the utility's negative answer; or -1 when it broke the rules.
int32_t readUtilText(int32_t initialSize, const UtilGet& get, const UtilRegrowNotice& onRegrow,
                     std::string& text);
