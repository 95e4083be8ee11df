// SPDX-License-Identifier: Apache-2.0
// Policy: one [policy NAME] section of the host configuration, the snapshots a set of devices
// is to keep:
//
//   [policy oradb]
//   devices = /dev/mapper/ora-data /dev/mapper/ora-logs   # as `kysnap snap` names them
//   hourly = 24          # the newest snapshot of each of the 24 newest hours that hold one
//   daily = 7            # ... of each of the 7 newest days (UTC)
//   weekly = 4           # ... ISO weeks
//   monthly = 12         # ... months
//   yearly = 0           # ... years
//   keep-last = 3        # the 3 newest
//   keep-within = 36h    # all made within 36 hours of the newest (s, m, h or d)
//
// Every key but devices may be left out (0: the rule keeps nothing), but a policy keeps at
// least something by one rule: a policy of no rule would let prune delete all but the newest.
// A device belongs to one policy at most, so that two policies never disagree on a snapshot.
// Retention.h says how the rules decide.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kysnap {

struct Policy {
    std::string name;
    std::vector<std::string> devices;  // as the user names them for `kysnap snap`
    int hourly = 0;
    int daily = 0;
    int weekly = 0;
    int monthly = 0;
    int yearly = 0;
    int keepLast = 0;
    long keepWithinSeconds = 0;  // 0: no keep-within rule
    std::string keepWithin;      // the duration as written ("36h"), for messages
    int line = 0;                // the line of its section header, for messages

    // "hourly 24, daily 7, keep-within 36h": the rules it has, in the order above.
    std::string rulesText() const;
    bool keepsSomething() const;
};

// What is wrong with `value` for the key `key` of a policy section, or "" when it was taken
// into `policy`. "unknown" problems name the keys a policy takes.
std::string takePolicyKey(Policy& policy, const std::string& key, const std::string& value);

// What is wrong with the policies of one configuration as a whole, or "": a policy without
// devices or that keeps nothing, a device in two policies. `place(line)` names a line of the
// file ("kysnap.conf:12").
std::string policiesProblem(const std::vector<Policy>& policies,
                            const std::function<std::string(int line)>& place);

// A duration as keep-within takes it: a whole number from 1 and one unit, s, m, h or d ("36h"),
// at most 100 years. False when `text` is anything else.
bool parseDuration(const std::string& text, long& seconds);

}  // namespace kysnap
