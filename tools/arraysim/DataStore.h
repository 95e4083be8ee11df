// SPDX-License-Identifier: Apache-2.0
// DataStore: the bytes of the simulated array, kept in a data directory when the simulator is
// asked to (--data-dir). The model stays the truth of what exists; after every call that may
// have changed it, sync() makes the directory match it:
//
//   volumes/<LUN id>.img          each volume and volume clone: a sparse image file
//   snapshots/<sequence>.img      each volume snapshot: its volume's bytes when it was taken
//   shares/<encoded path>/        each share and share clone: a directory tree
//   share-snapshots/<sequence>/   each share snapshot: its share's tree when it was taken
//
// A new volume gets an empty image of its size (at most `imageCap` bytes, so a seed's
// terabyte volumes stay cheap). A new snapshot copies its dataset at once, before the call
// is answered; a new clone copies its snapshot. A rollback (seen as Dataset::rollbacks going
// up) copies the snapshot back over the volume's image in place, since a kernel target may
// hold the image open and would keep reading the old inode after a rename; a share's tree is
// swapped whole. Whatever the model no longer has loses its file. Snapshots are named by
// their array-wide sequence number and volumes by their LUN id (checked to be 32 hex digits),
// shares by their dataset path with every byte outside [A-Za-z0-9_.:-] written as %XX, so no
// name from the model reaches the file system unchecked.
//
// Not thread-safe: the caller holds the model lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace arraysim {

class Model;
struct Dataset;

constexpr uint64_t kDefaultImageCap = 64ull << 20;

class DataStore {
public:
    ~DataStore();
    DataStore(const DataStore&) = delete;
    DataStore& operator=(const DataStore&) = delete;

    // Opens (making it when missing) the data directory for `model`. Images of the model's
    // volumes and trees of its shares already there are kept as their contents; everything
    // else in the directory (snapshots and clones of an earlier run) is removed, and the
    // model's snapshots are taken afresh. Null with `error` set on failure.
    static std::unique_ptr<DataStore> open(const std::string& directory, uint64_t imageCap,
                                           Model& model, std::string& error);

    // Makes the directory match the model (see above). False with `error` set (one line)
    // when a file operation failed; what could be done is done.
    bool sync(Model& model, std::string& error);

    // Absolute paths of a volume's image and a share's tree, or "" when the dataset has none.
    std::string volumeImage(const Dataset& volume) const;
    std::string shareTree(const Dataset& share) const;

private:
    DataStore() = default;
    bool ensureDataset(Model& model, const std::string& path, std::set<std::string>& visiting,
                       std::string& error);
    bool ensureSnapshots(Dataset& dataset, std::string& error);
    bool applyRollback(Dataset& dataset, std::string& error);
    void removeStale(Model& model, std::string& error);

    std::string root_;
    uint64_t imageCap_ = kDefaultImageCap;
    int volumesFd_ = -1;
    int snapshotsFd_ = -1;
    int sharesFd_ = -1;
    int shareSnapshotsFd_ = -1;
    std::map<std::string, std::string> volumes_;  // LUN id -> dataset path of its image
    std::set<std::string> shares_;                // dataset paths with a tree
    std::set<uint64_t> snapshots_;                // sequences with an image or tree
    std::map<std::string, uint64_t> rollbacks_;   // dataset path -> rollbacks carried out
};

// The share tree's name in shares/ for a dataset path.
std::string encodedShareName(const std::string& datasetPath);

}  // namespace arraysim
