// SPDX-License-Identifier: Apache-2.0
// SourceListings: where a catalog snapshot's source lives on the array, and what the array
// lists about it (the source's snapshots, its project's datasets, a snapshot's creation).
//
// Answers are read with the tools' strict JSON reader (StrictJson.h). An answer that holds a
// key twice, or text after its value, is not read at all: which of two values counts cannot be
// known, and what kysnap cannot read it never takes as safe. Each reader says so in its error.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ArrayDirectory.h"
#include "Catalog.h"

namespace kysnap {

// Where a catalog snapshot lives on the array, from its stored metadata.
struct SnapshotSource {
    bool share = false;
    std::string pool;
    std::string mode;
    std::string project;
    std::string name;

    std::string datasetPath() const;  // pool/mode/project/name
    // The snapshot's path on the array: dataset path, "@Manual-V-" or "@Manual-S-", the id.
    std::string snapshotPath(const std::string& id) const;
};

// False with `error` set when the record's metadata does not say where its source is.
bool snapshotSource(const SnapshotRecord& record, SnapshotSource& source, std::string& error);

// The full snapshot names the array lists for the dataset at `datasetPath`, in its order; none
// when the array says the dataset does not exist. False with `error` set when they cannot be
// read.
bool listedSnapshots(const ArrayAccess& array, const std::string& datasetPath,
                     std::vector<std::string>& names, std::string& error);

// What the array says of the creation of snapshot `id` of `source`.
enum class Creation {
    InProgress,  // its creation-status method answers "in progress"
    NotKnown,    // it answers done or failed, or that there is no such snapshot
    Unanswered,  // it cannot be asked, or answers what cannot be read
};
Creation creationOnArray(const ArrayAccess& array, const SnapshotSource& source,
                         const std::string& id);

// The datasets (volumes or shares, as `source` is) the array lists in the source's pool and
// project, as the array answers them: Read with `datasets` a JSON array of objects; Missing
// when the array says the project does not exist; Failed with `error` saying why (the array's
// failure, or an answer that is not a readable JSON array of objects: a dataset that cannot be
// read could be a clone).
enum class Listing { Read, Missing, Failed };
Listing listedDatasets(const ArrayAccess& array, const SnapshotSource& source,
                       nlohmann::json& datasets, std::string& error);

// One replication configuration of a dataset, as the array lists it.
struct ReplicationBase {
    std::string configuration;  // its name
    std::string snapshot;       // the last snapshot it replicated, as listSnapshots names it
};

// The snapshots the array's replication configurations of the dataset at `datasetPath` last
// replicated (getReplicationConfigList; a configuration that has replicated nothing yet adds
// none). An array that replicates nothing answers an empty list; a dataset that does not exist
// has none. False with `error` set when the array cannot be asked or answers what cannot be
// read: each configuration is an object whose "lastReplicatedSnapshot" is a text or null, its
// "name" a text when given. Which snapshot a later send needs cannot then be told.
bool replicationBases(const ArrayAccess& array, const std::string& datasetPath,
                      std::vector<ReplicationBase>& bases, std::string& error);

}  // namespace kysnap
