// SPDX-License-Identifier: Apache-2.0
// What bounds the memory and time one answer of the array can cost a plug-in call, in one
// place. In order:
//  1. The HTTP client takes at most 64 MiB of answer (libkyplatform); more fails the request.
//  2. An answer is parsed within kAnswerLimits: more values or deeper nesting fails the call
//     with "JSON parsing failed: JSON response exceeds N values" (or "nests deeper than N
//     levels") instead of building a document model of several gigabytes.
//  3. A list the plug-in walks (volumes, shares, snapshots, target or initiator group members)
//     may hold at most kMaxListElements elements, and a list of groups, each of which costs a
//     request of its own, at most kMaxListedGroups; a longer one fails the call with
//     "JSON response lists N elements, more than M" before any element is used.
// The values leave room for a large array: tens of thousands of volumes, snapshots or
// initiators, and thousands of groups.
#pragma once

#include <cstddef>

#include "jsonxx.h"

constexpr jsonxx::ParseLimits kAnswerLimits = jsonxx::kDefaultLimits;
constexpr size_t kMaxListElements = 200000;
constexpr size_t kMaxListedGroups = 4096;
