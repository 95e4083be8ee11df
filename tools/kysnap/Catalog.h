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

// One snapshot of one source device.
struct SnapshotRecord {
    std::string name;           // the host's snapshot id given to the plug-in ("KY-...")
    std::string device;         // the source device as the user named it
    std::string array;          // the array serving it
    std::string metadata;       // as the plug-in last wrote it
    std::string transMetadata;  // as the plug-in last wrote it
    int32_t status = 0;         // the request status the plug-in last set
    std::string mountedDevice;  // the host device (or NFS description) of the mounted copy
    std::string created;        // UTC time of creation, ISO 8601
};

struct Catalog {
    std::map<std::string, std::string> targets;  // target id -> array name
    std::map<std::string, PreparedDevice> devices;
    std::vector<SnapshotRecord> snapshots;  // in creation order

    SnapshotRecord* findSnapshot(const std::string& name);
    void eraseSnapshot(const std::string& name);

    std::string toJson() const;
    // Replaces `catalog` by the one in `text`. False with `error` naming what is wrong.
    static bool fromJson(const std::string& text, Catalog& catalog, std::string& error);
};

}  // namespace kysnap
