// SPDX-License-Identifier: Apache-2.0
// PrunePlan: what kysnap prune would delete, read from the catalog and the arrays before anything
// is changed. For each device of each policy it reads what the array says of the device's
// sources, each at most once per run: the snapshots of each dataset (listSnapshots), the
// datasets of each project (its clones, listVolumes or listShares) and the replication
// configurations of each dataset (getReplicationConfigList). From these it protects what must
// not go (mounted, with a clone, the replication base), and Retention decides the rest.
// A device whose array cannot be asked, or answers what cannot be read, has nothing deleted:
// whether a snapshot is in use or is the replication base could not be told.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "Retention.h"
#include "Session.h"

namespace kysnap {

struct PrunedDevice {
    std::string policy;
    std::string device;
    std::string problem;  // why nothing of it is deleted; "" when all was read
    std::vector<RetentionDecision> decisions;
};

struct PrunePlan {
    std::vector<PrunedDevice> devices;
    // The snapshots to delete, in the order decided.
    std::vector<std::string> deletions() const;
};

// The policies a prune covers: the one `name` gives, or every policy when it is empty. False
// with `error` set when the configuration has no such policy, or none at all.
bool selectPolicies(const HostConfig& config, const std::string& name,
                    std::vector<const Policy*>& policies, std::string& error);

// Reads the facts of each device of `policies` and decides; `now` is the run's clock.
PrunePlan readPrunePlan(const Session& session, const std::vector<const Policy*>& policies,
                        std::time_t now);

}  // namespace kysnap
