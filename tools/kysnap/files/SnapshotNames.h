// SPDX-License-Identifier: Apache-2.0
// The snapshot ids kysnap gives the plug-in: "KY-" + the UTC time + "-" + a counter, for
// example KY-20250301T101500Z-1. The counter makes names of one second unique in the catalog;
// it continues after the last name the catalog handed out, so a name whose record is gone (a
// deleted snapshot, or a failed creation resolved by reconcile) is not given again either.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace kysnap {

// The first name of time `now`, after `last` when that is of the same second, for which
// `taken` answers false.
std::string newSnapshotName(std::time_t now, const std::string& last,
                            const std::function<bool(const std::string&)>& taken);

// `now` as "2025-03-01T10:15:00Z".
std::string isoTime(std::time_t now);
// The time of an isoTime() text; false when `text` is not of that form.
bool parseIsoTime(const std::string& text, std::time_t& time);

}  // namespace kysnap
