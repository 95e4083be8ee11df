// SPDX-License-Identifier: Apache-2.0
// Model: the state of the simulated array. Pools hold projects; a project holds volumes (LUNs)
// and shares, both "datasets" addressed by the path pool/mode/project/name, where the mode is
// "Local" or "Replica". Datasets carry their snapshots; clones are ordinary datasets that
// remember the snapshot they came from. Target groups, initiator groups, the initiators the
// array knows, volume mappings and the behaviour switches complete the state.
//
// The model is a plain value without locking; the server guards it with one mutex. Every
// lookup returns a borrowed pointer into the model, valid until the next change of the
// container it points into, or null when there is no such object.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace arraysim {

enum class DatasetKind { Volume, Share };

struct Snapshot {
    std::string name;       // full name on the array, e.g. "Manual-V-nightly"
    uint64_t sequence = 0;  // array-wide creation order; rollback removes higher ones
    int pendingPolls = 0;   // creation-status polls still answered "in progress"
};

struct NfsAccessRule {
    std::string hostType;  // "IP", "FQDN" or "NETWORK"
    std::string host;
    std::string access;  // "rw" or "ro"
    bool rootAccess = false;
};

// A replication configuration of a dataset: where it is replicated to and the last snapshot sent
// there, which the next incremental send starts from (the "replication base").
struct ReplicationConfig {
    std::string name;
    std::string remoteHost;
    std::string remotePool;
    std::string remoteProject;
    std::string lastReplicatedSnapshot;  // its name as listSnapshots lists it; empty: none yet
};

struct Dataset {
    DatasetKind kind = DatasetKind::Volume;
    std::string pool;
    std::string mode = "Local";
    std::string project;
    std::string name;

    // Volumes.
    std::string luId;   // 32 upper-case hex digits
    uint64_t size = 0;  // bytes
    std::string blockSize = "8KB";
    bool thinProvision = true;
    std::string protocol = "FC";  // "FC" or "iSCSI"
    // The product its standard INQUIRY names: LUNs made before IntelliFlash 3.x still answer
    // "ZEBI-FC" or "ZEBI-ISCSI".
    std::string inquiryProduct = "INTELLIFLASH";

    // Shares.
    std::string mountPoint;
    uint64_t totalSize = 0;  // bytes
    uint64_t availableSize = 0;
    std::vector<NfsAccessRule> accessRules;

    std::string origin;               // snapshot path "dataset@snapshot" of a clone, else empty
    std::string lastRollback;         // snapshot this dataset was last rolled back to
    uint64_t rollbacks = 0;           // rollbacks carried out, so a repeated one is seen too
    std::vector<Snapshot> snapshots;  // in creation order
    std::vector<ReplicationConfig> replications;

    std::string path() const { return pool + "/" + mode + "/" + project + "/" + name; }
    bool local() const { return mode == "Local"; }
    bool isVolume() const { return kind == DatasetKind::Volume; }
    Snapshot* findSnapshot(const std::string& snapshotName);
};

struct TargetGroup {
    std::string name;
    std::string protocol;  // "FC" or "ISCSI"
    std::vector<std::string> targets;
};

struct InitiatorGroup {
    std::string name;
    std::string protocol;  // "FC", "ISCSI", or empty: decided by the members
    std::vector<std::string> initiators;
};

struct Mapping {
    std::string datasetPath;
    std::string initiatorGroup;
    std::string targetGroup;
    int lun = 0;
    bool readOnly = false;
    int hiddenForQueries = 0;  // host-view queries that still do not show it
};

struct SystemInfo {
    std::string model = "IntelliFlash T4700";
    std::string softwareVersion = "3.10.0.1";
    std::string apiVersion = "2.1";
    std::string apiMinorVersion = "1";
    std::string serial = "5A3C9E21";  // 8 hex digits, part of every new LUN id
    // Further listSystemProperties names and their values (seed "system.properties").
    std::map<std::string, std::string> properties;
};

// Switches that tests and benchmarks turn; all can be changed at run time.
struct Behaviour {
    int snapshotPendingPolls = 0;         // new snapshots answer "in progress" this often
    int mappingVisibilityDelay = 0;       // new mappings stay hidden this many host queries
    bool listSnapshotsWholeName = false;  // listSnapshots: whole-name match instead of search
};

struct Project {
    std::string pool;
    std::string name;
};

class Model {
public:
    SystemInfo system;
    Behaviour behaviour;
    std::vector<std::string> pools;
    std::vector<Project> projects;
    std::map<std::string, Dataset> datasets;  // by path
    std::vector<TargetGroup> targetGroups;
    std::vector<InitiatorGroup> initiatorGroups;
    std::set<std::string> knownInitiators;  // FC ports logged in, iSCSI initiators registered
    std::vector<Mapping> mappings;
    std::map<std::string, std::string> users;  // user name -> password

    bool hasPool(const std::string& pool) const;
    bool hasProject(const std::string& pool, const std::string& project) const;
    Dataset* findDataset(const std::string& path);
    Dataset* findByLuId(const std::string& luId);  // case-insensitive
    Dataset* findShareByMountPoint(const std::string& mountPoint);
    TargetGroup* findTargetGroup(const std::string& name);
    InitiatorGroup* findInitiatorGroup(const std::string& name);
    // The first group (in list order) that holds the initiator, or null.
    InitiatorGroup* groupOfInitiator(const std::string& initiator);

    // Clones made from the snapshot "dataset@snapshot" (their paths, in path order).
    std::vector<std::string> clonesOf(const std::string& snapshotPath) const;

    // Destroys what depends on the snapshot "dataset@snapshot" and then the snapshot itself,
    // as the array does for a delete or rollback told to take dependents: each clone of it
    // with the clone's own snapshots and their clones, depth first, and the mappings and
    // access rules of every destroyed dataset. Appends each destroyed path to `destroyed`,
    // dependents before what they came from; a snapshot that is not there adds nothing.
    void destroySnapshotWithDependents(const std::string& snapshotPath,
                                       std::vector<std::string>& destroyed);
    std::vector<Mapping*> mappingsOf(const std::string& datasetPath);

    // Adds a snapshot with the next sequence number and the configured pending polls.
    Snapshot& addSnapshot(Dataset& dataset, const std::string& snapshotName);
    // A LUN id not yet used: "600144F0", the system serial, then a running number.
    std::string newLuId();
    // The lowest LUN number not used by any mapping to `initiatorGroup`.
    int freeLun(const std::string& initiatorGroup) const;

    // Whether the group is listed by the FC (or iSCSI) group listing: its own protocol when it
    // has one, else any member of that protocol; an empty group without protocol is in both.
    bool groupServesProtocol(const InitiatorGroup& group, const std::string& protocol) const;

private:
    uint64_t nextSnapshotSequence_ = 1;
    uint64_t nextLunNumber_ = 1;
};

// Whether the text is an FC port name: 16 hex digits, with or without ':' separators or the
// prefix "wwn.".
bool validPortName(const std::string& text);
// "FC" for Fibre Channel port names (wwn.…, or 16 hex digits with or without ':'), else
// "ISCSI".
std::string initiatorProtocol(const std::string& initiator);
// The array's spelling of a host initiator: FC as "wwn." + 16 upper-case hex digits, iSCSI
// names in lower case. Other texts are returned unchanged.
std::string normalizeInitiator(const std::string& initiator);

// Splits "dataset@snapshot"; false when there is no '@' or either side is empty.
bool splitSnapshotPath(const std::string& path, std::string& dataset, std::string& snapshot);
// Object names follow the array's file-system rules: 1 to 255 characters out of letters,
// digits, '_', '-', '.', ':' and ' ', and not starting with '-'.
bool validObjectName(const std::string& name);
// Initiator group names: 1 to 255 letters, digits, '-', '.' and ':' (no '_', blanks, ',', '/',
// '\', '@', '#' or any other character).
bool validGroupName(const std::string& name);
// iSCSI initiator names: "iqn.", "eui." or "naa." and then letters, digits, '-', '.' and ':',
// at most 223 characters.
bool validIscsiName(const std::string& name);
// Full dataset and snapshot paths are limited to 255 characters.
constexpr size_t kMaxPathLength = 255;
bool isUpperHex32(const std::string& text);
std::string toUpper(std::string text);
std::string toLower(std::string text);

}  // namespace arraysim
