// SPDX-License-Identifier: Apache-2.0
#include "Retention.h"

#include <algorithm>
#include <cstdio>

#include "SnapshotNames.h"

namespace kysnap {

namespace {

// A UTC period of a bucket rule: its key (equal for times in the same period) and its label.
struct Period {
    long key = 0;
    std::string label;
};

Period hourOf(const std::tm& utc) {
    char label[32];
    std::strftime(label, sizeof label, "%Y-%m-%dT%H", &utc);
    return {(utc.tm_year * 1000L + utc.tm_yday) * 24 + utc.tm_hour, label};
}
Period dayOf(const std::tm& utc) {
    char label[32];
    std::strftime(label, sizeof label, "%Y-%m-%d", &utc);
    return {utc.tm_year * 1000L + utc.tm_yday, label};
}
Period isoWeekOf(const std::tm& utc) {
    char label[32];
    std::strftime(label, sizeof label, "%G-W%V", &utc);
    char year[16];
    char week[8];
    std::strftime(year, sizeof year, "%G", &utc);
    std::strftime(week, sizeof week, "%V", &utc);
    return {std::stol(year) * 100 + std::stol(week), label};
}
Period monthOf(const std::tm& utc) {
    char label[32];
    std::strftime(label, sizeof label, "%Y-%m", &utc);
    return {utc.tm_year * 12L + utc.tm_mon, label};
}
Period yearOf(const std::tm& utc) {
    return {utc.tm_year, std::to_string(utc.tm_year + 1900)};
}

struct BucketRule {
    const char* name;
    int Policy::*count;
    Period (*period)(const std::tm& utc);
};
const BucketRule kBucketRules[] = {
    {"hourly", &Policy::hourly, hourOf},    {"daily", &Policy::daily, dayOf},
    {"weekly", &Policy::weekly, isoWeekOf}, {"monthly", &Policy::monthly, monthOf},
    {"yearly", &Policy::yearly, yearOf},
};

// A good snapshot with a readable creation time, as the rules see it.
struct Good {
    size_t index;  // into the decisions
    std::time_t created;
    std::tm utc;
};

}  // namespace

bool prunable(const std::string& name) {
    return name.compare(0, 3, "KY-") == 0;
}

std::vector<RetentionDecision> decideRetention(const std::vector<SnapshotRecord>& records,
                                               const Policy& policy, const RetentionFacts& facts) {
    const std::time_t now = facts.now;
    const std::map<std::string, std::string>& protections = facts.protections;
    std::vector<RetentionDecision> decisions;
    std::vector<Good> good;
    for (const SnapshotRecord& record : records) {
        if (!prunable(record.name)) {
            continue;
        }
        RetentionDecision decision;
        decision.snapshot = record.name;
        std::time_t created = 0;
        if (record.state != RecordState::Created) {
            decision.verdict = Verdict::Left;
            decision.reasons.push_back(std::string("its record is \"") + stateName(record.state) +
                                       "\": kysnap reconcile or delete settles it, not prune");
        } else if (facts.absent.count(record.name) != 0) {
            decision.verdict = Verdict::Left;
            decision.reasons.push_back(
                "the array no longer lists it: kysnap reconcile settles its record, not prune");
        } else if (!parseIsoTime(record.created, created)) {
            decision.reasons.push_back("its creation time in the catalog cannot be read");
        } else {
            good.push_back(Good{decisions.size(), created, std::tm()});
            gmtime_r(&created, &good.back().utc);
        }
        decisions.push_back(decision);
    }
    // Newest first; of two made in the same second, the later record is the newer.
    std::stable_sort(good.begin(), good.end(), [](const Good& a, const Good& b) {
        return a.created != b.created ? a.created > b.created : a.index > b.index;
    });
    const auto keep = [&decisions](const Good& snapshot, const std::string& reason) {
        decisions[snapshot.index].reasons.push_back(reason);
    };
    for (const BucketRule& rule : kBucketRules) {
        const int wanted = policy.*rule.count;
        int kept = 0;
        bool any = false;
        long last = 0;
        for (const Good& snapshot : good) {
            if (kept >= wanted) {
                break;
            }
            const Period period = rule.period(snapshot.utc);
            if (any && period.key == last) {
                continue;
            }
            any = true;
            last = period.key;
            ++kept;
            keep(snapshot, std::string(rule.name) + " " + period.label);
        }
    }
    for (size_t i = 0; i < good.size() && static_cast<int>(i) < policy.keepLast; ++i) {
        keep(good[i], "keep-last " + std::to_string(policy.keepLast));
    }
    if (policy.keepWithinSeconds > 0 && !good.empty()) {
        const std::time_t newest = good.front().created;
        for (const Good& snapshot : good) {
            if (newest - snapshot.created < policy.keepWithinSeconds) {
                keep(snapshot, "keep-within " + policy.keepWithin + " of the newest");
            }
        }
    }
    if (!good.empty()) {
        keep(good.front(), "the newest good snapshot of its device");
    }
    for (const Good& snapshot : good) {
        if (snapshot.created > now) {
            keep(snapshot, "made after now (" + isoTime(now) + "): the clock was set back");
        }
    }
    for (RetentionDecision& decision : decisions) {
        const auto protection = protections.find(decision.snapshot);
        if (protection != protections.end() && decision.verdict != Verdict::Left) {
            decision.reasons.push_back(protection->second);
        }
        if (decision.verdict == Verdict::Keep && decision.reasons.empty()) {
            decision.verdict = Verdict::Delete;
            decision.reasons.push_back("outside " + policy.rulesText() + " of policy " +
                                       policy.name);
        }
    }
    return decisions;
}

}  // namespace kysnap
