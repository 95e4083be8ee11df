// SPDX-License-Identifier: Apache-2.0
// Which snapshots a policy keeps, with the test's clock: a year of hourly snapshots pruned every
// hour keeps exactly what the rules name (computed here by calendar arithmetic of its own, not
// by the engine), the protected kinds survive every hour, and failing creation never lowers the
// number of good snapshots.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "Retention.h"
#include "SnapshotNames.h"

namespace kysnap_test {
namespace {

using kysnap::Policy;
using kysnap::RecordState;
using kysnap::RetentionDecision;
using kysnap::RetentionFacts;
using kysnap::SnapshotRecord;
using kysnap::Verdict;

constexpr long kHour = 3600;
constexpr long kDay = 24 * kHour;
// 2025-01-01T00:00:00Z, a Wednesday; 2025 has 365 days, so 8,760 hours.
constexpr std::time_t kYearStart = 1735689600;

std::string idAt(std::time_t t) {
    return "KY-" + std::to_string(t);
}

SnapshotRecord record(std::time_t created, RecordState state = RecordState::Created,
                      const std::string& name = "") {
    SnapshotRecord made;
    made.name = name.empty() ? idAt(created) : name;
    made.device = "/dev/sim/db";
    made.created = kysnap::isoTime(created);
    made.state = state;
    return made;
}

Policy policy(int hourly, int daily, int weekly, int monthly, int yearly = 0, int keepLast = 0,
              long keepWithin = 0) {
    Policy made;
    made.name = "db";
    made.devices = {"/dev/sim/db"};
    made.hourly = hourly;
    made.daily = daily;
    made.weekly = weekly;
    made.monthly = monthly;
    made.yearly = yearly;
    made.keepLast = keepLast;
    made.keepWithinSeconds = keepWithin;
    made.keepWithin = std::to_string(keepWithin / kHour) + "h";
    return made;
}

// Applies the decisions: the records that are not deleted stay, in order.
std::vector<SnapshotRecord> survivors(const std::vector<SnapshotRecord>& records,
                                      const std::vector<RetentionDecision>& decisions,
                                      std::vector<std::string>& deleted) {
    std::set<std::string> gone;
    for (const RetentionDecision& decision : decisions) {
        if (decision.verdict == Verdict::Delete) {
            gone.insert(decision.snapshot);
            deleted.push_back(decision.snapshot);
        }
    }
    std::vector<SnapshotRecord> kept;
    for (const SnapshotRecord& each : records) {
        if (gone.count(each.name) == 0) {
            kept.push_back(each);
        }
    }
    return kept;
}

// Calendar arithmetic of its own: days since 1970-01-01 to (year, month) by Howard Hinnant's
// civil_from_days, and Monday-based weeks counted from the Monday 1969-12-29.
long monthIndex(std::time_t t) {
    long z = static_cast<long>(t / kDay) + 719468;
    const long era = z / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    const long month = mp < 10 ? mp + 3 : mp - 9;
    const long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return year * 12 + month;
}
long weekIndex(std::time_t t) {
    return (static_cast<long>(t / kDay) + 3) / 7;
}

// What hourly 24, daily 7, weekly 4, monthly 12 keep at hour `now` of hourly snapshots made
// every hour since kYearStart: the newest of each of the newest periods, by walking back from
// `now` and noting where a period changes.
std::set<std::time_t> expectedAt(std::time_t now) {
    std::set<std::time_t> kept;
    const std::vector<std::pair<int, std::function<long(std::time_t)>>> rules = {
        {24, [](std::time_t t) { return static_cast<long>(t / kHour); }},
        {7, [](std::time_t t) { return static_cast<long>(t / kDay); }},
        {4, weekIndex},
        {12, monthIndex},
    };
    for (const auto& [count, period] : rules) {
        int found = 0;
        long last = -1;
        for (std::time_t t = now; t >= kYearStart && found < count; t -= kHour) {
            if (period(t) != last) {
                kept.insert(t);
                last = period(t);
                ++found;
            }
        }
    }
    return kept;
}

// Ids that must survive every hour of the simulated year, and why.
struct Protected {
    std::time_t created;
    const char* reason;
};
const Protected kProtected[] = {
    {kYearStart + 5 * kHour, "mounted as /dev/sim/600144F05A3C9E21"},
    {kYearStart + 30 * kDay + 7 * kHour, "in use: clone pool-a/Local/oracle/MNT_x"},
    {kYearStart + 100 * kDay + 13 * kHour, "the replication base of replication dr"},
};

TEST(KysnapRetention, AYearOfHourlySnapshotsPrunedEveryHourKeepsExactlyWhatThePolicyNames) {
    const Policy rules = policy(24, 7, 4, 12);
    RetentionFacts facts;
    std::set<std::string> protectedIds;
    for (const Protected& kind : kProtected) {
        facts.protections[idAt(kind.created)] = kind.reason;
        protectedIds.insert(idAt(kind.created));
    }
    // Another host's snapshot of the same device, in the catalog: never considered.
    std::vector<SnapshotRecord> records = {
        record(kYearStart - kDay, RecordState::Created, "nightly-2024-12-31")};
    size_t deletions = 0;
    for (int hour = 0; hour < 8760; ++hour) {
        const std::time_t now = kYearStart + hour * kHour;
        records.push_back(record(now));
        facts.now = now;
        std::vector<std::string> deleted;
        records = survivors(records, kysnap::decideRetention(records, rules, facts), deleted);
        deletions += deleted.size();

        std::set<std::string> expected;
        for (const std::time_t t : expectedAt(now)) {
            expected.insert(idAt(t));
        }
        for (const Protected& kind : kProtected) {
            if (kind.created <= now) {
                expected.insert(idAt(kind.created));
            }
        }
        expected.insert("nightly-2024-12-31");
        std::set<std::string> actual;
        for (const SnapshotRecord& each : records) {
            actual.insert(each.name);
        }
        ASSERT_EQ(actual, expected) << "at " << kysnap::isoTime(now);
        // A deleted snapshot is one the policy does not name now; since the policy's choice
        // only ever shrinks for an older snapshot, none is deleted that a later hour wants.
        for (const std::string& name : deleted) {
            ASSERT_EQ(expected.count(name), 0u) << name;
            ASSERT_EQ(protectedIds.count(name), 0u) << name;
        }
    }
    // 24 hours, the other 6 days, 3 other weeks and 11 other months (2025-12-31 is a
    // Wednesday, so its week's last hour is not yet made), and three protected, and the
    // foreign one.
    EXPECT_EQ(records.size(), expectedAt(kYearStart + 8759 * kHour).size() + 3 + 1);
    EXPECT_EQ(deletions, 8760u + 1 - records.size());
}

TEST(KysnapRetention, SeventyTwoHoursOfFailingCreationKeepTheCountOfGoodSnapshots) {
    struct Case {
        const char* what;
        Policy rules;
    };
    const Case cases[] = {
        {"24h/7d/4w/12m", policy(24, 7, 4, 12)},
        {"hourly 24 alone", policy(24, 0, 0, 0)},
        {"keep-within 36h alone", policy(0, 0, 0, 0, 0, 0, 36 * kHour)},
        {"keep-last 10 and daily 3", policy(0, 3, 0, 0, 0, 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RetentionFacts facts;
        std::vector<SnapshotRecord> records;
        std::vector<std::string> deleted;
        // 30 days of working creation, pruned every hour.
        std::time_t now = kYearStart;
        for (; now < kYearStart + 30 * kDay; now += kHour) {
            records.push_back(record(now));
            facts.now = now;
            records = survivors(records, kysnap::decideRetention(records, c.rules, facts), deleted);
        }
        const size_t good = records.size();
        ASSERT_GT(good, 1u);
        // Then 72 hours in which every creation fails: the failed records pile up, and every
        // hourly prune leaves them and keeps every good snapshot.
        for (int hour = 0; hour < 72; ++hour, now += kHour) {
            records.push_back(record(now, RecordState::Failed));
            facts.now = now;
            deleted.clear();
            const std::vector<RetentionDecision> decisions =
                kysnap::decideRetention(records, c.rules, facts);
            records = survivors(records, decisions, deleted);
            ASSERT_TRUE(deleted.empty()) << deleted.front() << " at hour " << hour;
        }
        size_t left = 0;
        size_t stillGood = 0;
        for (const RetentionDecision& decision : kysnap::decideRetention(records, c.rules, facts)) {
            left += decision.verdict == Verdict::Left ? 1 : 0;
            stillGood += decision.verdict == Verdict::Keep ? 1 : 0;
        }
        EXPECT_EQ(stillGood, good);
        EXPECT_EQ(left, 72u);
    }
}

// Each row: the snapshots (hours after the start, newest last), the policy, and which survive.
TEST(KysnapRetention, EachRuleKeepsItsOwnAndWhatIsProtectedOrUnsettledNeverGoes) {
    struct Case {
        const char* what;
        std::vector<long> hours;
        std::vector<RecordState> states;  // by index; Created when not given
        Policy rules;
        std::map<long, std::string> protections;
        std::set<long> absent;  // not listed by the array
        std::set<long> kept;    // what is not deleted (Keep or Left)
        std::set<long> left;
    };
    const std::vector<Case> cases = {
        {"keep-last 2 keeps the two newest",
         {1, 2, 3, 4},
         {},
         policy(0, 0, 0, 0, 0, 2),
         {},
         {},
         {3, 4},
         {}},
        {"hourly counts hours that hold a snapshot, newest of each",
         {0, 1, 25, 26, 50},
         {},
         policy(2, 0, 0, 0),
         {},
         {},
         {26, 50},
         {}},
        {"daily keeps the newest of each day, not the first",
         {1, 5, 23, 24, 30},
         {},
         policy(0, 2, 0, 0),
         {},
         {},
         {23, 30},
         {}},
        {"keep-within is measured from the newest good one, not from now",
         {0, 100, 110, 120},
         {},
         policy(0, 0, 0, 0, 0, 0, 12 * kHour),
         {},
         {},
         {110, 120},
         {}},
        {"yearly keeps one per year",
         {0, 8000, 8800, 9000},
         {},
         policy(0, 0, 0, 0, 1),
         {},
         {},
         {9000},
         {}},
        {"a failed newest one does not count as the newest good",
         {1, 2, 3},
         {RecordState::Created, RecordState::Created, RecordState::Failed},
         policy(0, 0, 0, 0, 0, 1),
         {},
         {},
         {2, 3},
         {3}},
        {"a snapshot the array no longer lists counts for no rule",
         {1, 2, 3},
         {},
         policy(0, 0, 0, 0, 0, 2),
         {},
         {3},
         {1, 2, 3},
         {3}},
        {"the newest good snapshot stays even outside every rule",
         {1, 2},
         {},
         policy(0, 0, 0, 0, 0, 0, 1),
         {},
         {},
         {2},
         {}},
        {"protected ones stay whatever the rules say",
         {1, 2, 3, 4},
         {},
         policy(0, 0, 0, 0, 0, 1),
         {{1, "mounted"}, {2, "the replication base"}},
         {},
         {1, 2, 4},
         {}},
        {"creating and unknown records are left",
         {1, 2, 3},
         {RecordState::Creating, RecordState::Unknown, RecordState::Created},
         policy(0, 0, 0, 0, 0, 1),
         {},
         {},
         {1, 2, 3},
         {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<SnapshotRecord> records;
        RetentionFacts facts;
        facts.now = kYearStart + 10000 * kHour;
        for (size_t i = 0; i < c.hours.size(); ++i) {
            const std::time_t t = kYearStart + c.hours[i] * kHour;
            records.push_back(record(t, i < c.states.size() ? c.states[i] : RecordState::Created));
        }
        for (const auto& [hour, reason] : c.protections) {
            facts.protections[idAt(kYearStart + hour * kHour)] = reason;
        }
        for (const long hour : c.absent) {
            facts.absent.insert(idAt(kYearStart + hour * kHour));
        }
        std::set<long> kept;
        std::set<long> left;
        for (const RetentionDecision& decision : kysnap::decideRetention(records, c.rules, facts)) {
            const long hour = (std::stol(decision.snapshot.substr(3)) - kYearStart) / kHour;
            ASSERT_FALSE(decision.reasons.empty()) << decision.snapshot;
            if (decision.verdict != Verdict::Delete) {
                kept.insert(hour);
            } else {
                EXPECT_EQ(decision.reasons.front().rfind("outside ", 0), 0u);
            }
            if (decision.verdict == Verdict::Left) {
                left.insert(hour);
            }
            const auto protection = c.protections.find(hour);
            if (protection != c.protections.end()) {
                EXPECT_NE(
                    std::find(decision.reasons.begin(), decision.reasons.end(), protection->second),
                    decision.reasons.end());
            }
        }
        EXPECT_EQ(kept, c.kept);
        EXPECT_EQ(left, c.left);
    }
}

TEST(KysnapRetention, ASnapshotMadeAfterNowOrWithAnUnreadableTimeIsKept) {
    std::vector<SnapshotRecord> records = {record(kYearStart), record(kYearStart + kHour),
                                           record(kYearStart + 2 * kHour)};
    records[0].created = "yesterday";
    RetentionFacts facts;
    facts.now = kYearStart;  // the clock was set back: the other two lie in its future
    const std::vector<RetentionDecision> decisions =
        kysnap::decideRetention(records, policy(0, 0, 0, 0, 0, 1), facts);
    ASSERT_EQ(decisions.size(), 3u);
    for (const RetentionDecision& decision : decisions) {
        EXPECT_EQ(decision.verdict, Verdict::Keep) << decision.snapshot;
    }
    EXPECT_EQ(decisions[0].reasons.front(), "its creation time in the catalog cannot be read");
}

}  // namespace
}  // namespace kysnap_test
