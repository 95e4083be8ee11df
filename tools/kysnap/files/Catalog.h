// SPDX-License-Identifier: Apache-2.0
// Catalog: what the host keeps between plug-in calls, as a real backup host keeps it in its
// database: the devices prepared for snapshots, each snapshot's record, and which array serves
// which target. Never a password: arrays are named, their credentials stay in the host
// configuration. Serialised as one JSON document (CatalogStore keeps it on disk).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kysnap {

// A source device after prepare: the metadata the plug-in wrote for it.
struct PreparedDevice {
    std::string array;
    std::string metadata;
    std::string transMetadata;
    int32_t status = 0;
};

// Where a snapshot's creation stands. A record is written as Creating and saved before the
// plug-in is asked to make the snapshot, so a run that dies or loses the array's answer still
// leaves a record that reconcile and delete can resolve.
enum class RecordState {
    Creating,  // the plug-in was (or was about to be) asked; no answer was recorded
    Failed,    // the plug-in reported failure; the array may still hold the snapshot
    Created,   // the plug-in made it and wrote its metadata
    // Not on the array when last asked, but its creation may still finish there (an array
    // works on a request whose answer was lost): kept, its id reserved, until the array has
    // had time to finish.
    Unknown,
};

const char* stateName(RecordState state);

// What the snapshot's moment promises about the data on it, weakest first.
enum class Consistency {
    CrashConsistent,   // as after a power cut: what the filesystems had written
    FilesystemFrozen,  // its filesystems were frozen (FIFREEZE) until the array had made it
    HookQuiesced,      // a pre-hook quiesced the application (and any freeze asked for held)
};

// "crash-consistent", "filesystem-frozen", "hook-quiesced": how the catalog and list say it.
const char* consistencyName(Consistency consistency);

// One snapshot of one source device.
struct SnapshotRecord {
    std::string name;           // the host's snapshot id given to the plug-in ("KY-...")
    std::string device;         // the source device as the user named it
    std::string array;          // the array serving it
    std::string metadata;       // as the plug-in last wrote it
    std::string transMetadata;  // as the plug-in last wrote it
    int32_t status = 0;         // the request status the plug-in last set
    std::string mountedDevice;  // the host device (or NFS description) of the mounted copy
    // A clone of the snapshot found on the array that no map recorded (a map killed or not
    // saved): its dataset path, until an unmap removes it.
    std::string clone;
    std::string created;  // UTC time of creation, ISO 8601
    // Until Created, metadata and transMetadata are those of the prepared device, which with
    // the snapshot id is what the plug-in reads to find the snapshot on the array.
    RecordState state = RecordState::Created;
    // Written only when not crash-consistent, so catalogs of snapshots taken without a freeze
    // or hook stay as earlier kysnap wrote (and reads) them.
    Consistency consistency = Consistency::CrashConsistent;
};

struct Catalog {
    std::map<std::string, std::string> targets;  // target id -> array name
    std::map<std::string, PreparedDevice> devices;
    std::vector<SnapshotRecord> snapshots;  // in creation order
    // The last snapshot id handed out, so that an id is never given twice, even after its
    // record is gone ("" in a catalog written before it was kept).
    std::string lastName;

    SnapshotRecord* findSnapshot(const std::string& name);
    void eraseSnapshot(const std::string& name);

    // The catalog as the JSON text fromJson reads. False with `error` set when a text in it is
    // not UTF-8, which JSON cannot hold: nothing is written then rather than a catalog that
    // would not read back, or one whose names were changed.
    bool toJson(std::string& text, std::string& error) const;
    // Replaces `catalog` by the one in `text`, which must match the catalog's form exactly:
    // one JSON object and nothing after it, no repeated key at any depth (StrictJson.h), no unknown
    // member, every member of its type, statuses 32-bit integers, snapshot names unique. A catalog
    // of format 1 (before records had a state) reads with every record Created; a record without
    // "consistency" reads as crash-consistent, one with a value not named above is refused. False
    // with `error` naming the member and what is wrong with it; `catalog` is then untouched.
    static bool fromJson(const std::string& text, Catalog& catalog, std::string& error);
};

}  // namespace kysnap
