// SPDX-License-Identifier: Apache-2.0
#include "DataStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "ImageFiles.h"
#include "Model.h"

namespace arraysim {

namespace {

std::string imageName(const std::string& luId) {
    return luId + ".img";
}

std::string snapshotImageName(uint64_t sequence) {
    return std::to_string(sequence) + ".img";
}

std::string snapshotTreeName(uint64_t sequence) {
    return std::to_string(sequence);
}

// Names in a directory, "." and ".." left out.
std::vector<std::string> entries(int dirFd) {
    std::vector<std::string> names;
    const int listFd = dup(dirFd);
    DIR* dir = listFd < 0 ? nullptr : fdopendir(listFd);
    if (dir == nullptr) {
        if (listFd >= 0) {
            close(listFd);
        }
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    return names;
}

// Keeps the first failure: later ones are often its consequences.
void note(std::string& first, const std::string& error) {
    if (first.empty()) {
        first = error;
    }
}

const Snapshot* snapshotOf(Model& model, const std::string& snapshotPath, Dataset*& dataset) {
    std::string datasetPath;
    std::string name;
    dataset = nullptr;
    if (!splitSnapshotPath(snapshotPath, datasetPath, name)) {
        return nullptr;
    }
    dataset = model.findDataset(datasetPath);
    return dataset == nullptr ? nullptr : dataset->findSnapshot(name);
}

}  // namespace

std::string encodedShareName(const std::string& datasetPath) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : datasetPath) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
            c == '_' || c == '.' || c == ':' || c == '-') {
            out += c;
        } else {
            out += '%';
            out += digits[u >> 4];
            out += digits[u & 0x0f];
        }
    }
    // A path always has a '/', so the name always holds "%2F" and is never "." or "..".
    return out;
}

DataStore::~DataStore() {
    for (const int fd : {volumesFd_, snapshotsFd_, sharesFd_, shareSnapshotsFd_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::unique_ptr<DataStore> DataStore::open(const std::string& directory, uint64_t imageCap,
                                           Model& model, std::string& error) {
    std::unique_ptr<DataStore> store(new DataStore());
    store->imageCap_ = imageCap;
    const int rootFd = openDirectory(-1, directory, error);
    if (rootFd < 0) {
        return nullptr;
    }
    char resolved[PATH_MAX];
    if (realpath(directory.c_str(), resolved) == nullptr) {
        close(rootFd);
        error = "cannot resolve " + directory;
        return nullptr;
    }
    store->root_ = resolved;
    store->volumesFd_ = openDirectory(rootFd, "volumes", error);
    store->snapshotsFd_ = openDirectory(rootFd, "snapshots", error);
    store->sharesFd_ = openDirectory(rootFd, "shares", error);
    store->shareSnapshotsFd_ = openDirectory(rootFd, "share-snapshots", error);
    close(rootFd);
    if (store->volumesFd_ < 0 || store->snapshotsFd_ < 0 || store->sharesFd_ < 0 ||
        store->shareSnapshotsFd_ < 0) {
        return nullptr;
    }
    // What belongs to the model's datasets stays; snapshots and anything else of an earlier
    // run go, so no new clone or snapshot can meet stale bytes under a reused name.
    std::map<std::string, std::string> keptVolumes;
    std::set<std::string> keptShares;
    for (const auto& entry : model.datasets) {
        const Dataset& dataset = entry.second;
        if (dataset.isVolume() && isUpperHex32(dataset.luId)) {
            keptVolumes[imageName(dataset.luId)] = dataset.luId;
        } else if (!dataset.isVolume()) {
            keptShares.insert(encodedShareName(entry.first));
        }
    }
    // Only what has the kind it should have is kept: a link planted under an image's name goes.
    const auto isKind = [](int dirFd, const std::string& name, mode_t kind) {
        struct stat info {};
        return fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
               (info.st_mode & S_IFMT) == kind;
    };
    for (const std::string& name : entries(store->volumesFd_)) {
        const auto kept = keptVolumes.find(name);
        if (kept != keptVolumes.end() && isKind(store->volumesFd_, name, S_IFREG)) {
            store->volumes_[kept->second] = model.findByLuId(kept->second)->path();
        } else if (!removeEntry(store->volumesFd_, name, error)) {
            return nullptr;
        }
    }
    std::set<std::string> presentShares;
    for (const std::string& name : entries(store->sharesFd_)) {
        if (keptShares.count(name) != 0 && isKind(store->sharesFd_, name, S_IFDIR)) {
            presentShares.insert(name);
        } else if (!removeEntry(store->sharesFd_, name, error)) {
            return nullptr;
        }
    }
    for (const auto& entry : model.datasets) {
        if (!entry.second.isVolume() && presentShares.count(encodedShareName(entry.first)) != 0) {
            store->shares_.insert(entry.first);
        }
    }
    for (const int fd : {store->snapshotsFd_, store->shareSnapshotsFd_}) {
        for (const std::string& name : entries(fd)) {
            if (!removeEntry(fd, name, error)) {
                return nullptr;
            }
        }
    }
    if (!store->sync(model, error)) {
        return nullptr;
    }
    return store;
}

std::string DataStore::volumeImage(const Dataset& volume) const {
    const auto it = volumes_.find(volume.luId);
    if (!volume.isVolume() || it == volumes_.end() || it->second != volume.path()) {
        return "";
    }
    return root_ + "/volumes/" + imageName(volume.luId);
}

std::string DataStore::shareTree(const Dataset& share) const {
    if (share.isVolume() || shares_.count(share.path()) == 0) {
        return "";
    }
    return root_ + "/shares/" + encodedShareName(share.path());
}

void DataStore::removeStale(Model& model, std::string& error) {
    for (auto it = volumes_.begin(); it != volumes_.end();) {
        const Dataset* owner = model.findDataset(it->second);
        if (owner != nullptr && owner->isVolume() && owner->luId == it->first) {
            ++it;
            continue;
        }
        std::string why;
        if (!removeEntry(volumesFd_, imageName(it->first), why)) {
            note(error, why);
        }
        it = volumes_.erase(it);
    }
    for (auto it = shares_.begin(); it != shares_.end();) {
        const Dataset* owner = model.findDataset(*it);
        if (owner != nullptr && !owner->isVolume()) {
            ++it;
            continue;
        }
        std::string why;
        if (!removeEntry(sharesFd_, encodedShareName(*it), why)) {
            note(error, why);
        }
        rollbacks_.erase(*it);
        it = shares_.erase(it);
    }
    std::set<uint64_t> live;
    for (const auto& entry : model.datasets) {
        for (const Snapshot& snapshot : entry.second.snapshots) {
            live.insert(snapshot.sequence);
        }
    }
    for (auto it = snapshots_.begin(); it != snapshots_.end();) {
        if (live.count(*it) != 0) {
            ++it;
            continue;
        }
        // The sequence says nothing of the kind; whichever of the two exists goes.
        std::string why;
        if (!removeEntry(snapshotsFd_, snapshotImageName(*it), why) ||
            !removeEntry(shareSnapshotsFd_, snapshotTreeName(*it), why)) {
            note(error, why);
        }
        it = snapshots_.erase(it);
    }
    for (auto it = rollbacks_.begin(); it != rollbacks_.end();) {
        it = model.findDataset(it->first) == nullptr ? rollbacks_.erase(it) : std::next(it);
    }
}

// Gives the dataset its image or tree when it has none: a clone copies its snapshot (made
// first), anything else starts empty.
bool DataStore::ensureDataset(Model& model, const std::string& path,
                              std::set<std::string>& visiting, std::string& error) {
    Dataset* dataset = model.findDataset(path);
    if (dataset == nullptr || !visiting.insert(path).second) {
        return true;  // gone, or a loop of origins that only a broken seed can make
    }
    const bool volume = dataset->isVolume();
    if (volume ? volumes_.count(dataset->luId) != 0 : shares_.count(path) != 0) {
        return true;
    }
    if (volume && !isUpperHex32(dataset->luId)) {
        error = "volume " + path + " has no LUN id of 32 hex digits; it gets no image";
        return false;
    }
    Dataset* source = nullptr;
    const Snapshot* origin = snapshotOf(model, dataset->origin, source);
    if (origin != nullptr && source->isVolume() == volume) {
        if (!ensureDataset(model, source->path(), visiting, error) ||
            !ensureSnapshots(*source, error)) {
            return false;
        }
        dataset = model.findDataset(path);
    }
    bool made = false;
    if (origin != nullptr && snapshots_.count(origin->sequence) != 0) {
        made = volume ? copyImage(snapshotsFd_, snapshotImageName(origin->sequence), volumesFd_,
                                  imageName(dataset->luId), error)
                      : copyTree(shareSnapshotsFd_, snapshotTreeName(origin->sequence), sharesFd_,
                                 encodedShareName(path), error);
    } else if (volume) {
        made = createSparseImage(volumesFd_, imageName(dataset->luId),
                                 std::min(dataset->size, imageCap_), error);
    } else {
        std::string unused;
        removeEntry(sharesFd_, encodedShareName(path), unused);
        const int fd = openDirectory(sharesFd_, encodedShareName(path), error);
        made = fd >= 0;
        if (made) {
            close(fd);
        }
    }
    if (!made) {
        return false;
    }
    if (volume) {
        volumes_[dataset->luId] = path;
    } else {
        shares_.insert(path);
    }
    rollbacks_[path] = dataset->rollbacks;
    return true;
}

// Takes each snapshot of the dataset that has no copy yet from the dataset as it is now.
bool DataStore::ensureSnapshots(Dataset& dataset, std::string& error) {
    for (const Snapshot& snapshot : dataset.snapshots) {
        if (snapshots_.count(snapshot.sequence) != 0) {
            continue;
        }
        const bool made =
            dataset.isVolume()
                ? copyImage(volumesFd_, imageName(dataset.luId), snapshotsFd_,
                            snapshotImageName(snapshot.sequence), error)
                : copyTree(sharesFd_, encodedShareName(dataset.path()), shareSnapshotsFd_,
                           snapshotTreeName(snapshot.sequence), error);
        if (!made) {
            return false;
        }
        snapshots_.insert(snapshot.sequence);
    }
    return true;
}

bool DataStore::applyRollback(Dataset& dataset, std::string& error) {
    uint64_t& seen = rollbacks_[dataset.path()];
    if (dataset.rollbacks == seen) {
        return true;
    }
    seen = dataset.rollbacks;
    const Snapshot* target = dataset.findSnapshot(dataset.lastRollback);
    if (target == nullptr || snapshots_.count(target->sequence) == 0) {
        error = dataset.path() + " was rolled back to " + dataset.lastRollback +
                ", which has no copy to restore";
        return false;
    }
    return dataset.isVolume() ? overwriteImage(snapshotsFd_, snapshotImageName(target->sequence),
                                               volumesFd_, imageName(dataset.luId), error)
                              : replaceTree(shareSnapshotsFd_, snapshotTreeName(target->sequence),
                                            sharesFd_, encodedShareName(dataset.path()), error);
}

bool DataStore::sync(Model& model, std::string& error) {
    std::string first;
    removeStale(model, first);
    std::vector<std::string> paths;
    for (const auto& entry : model.datasets) {
        paths.push_back(entry.first);
    }
    for (const std::string& path : paths) {
        std::set<std::string> visiting;
        std::string why;
        if (!ensureDataset(model, path, visiting, why)) {
            note(first, why);
        }
    }
    for (auto& entry : model.datasets) {
        std::string why;
        Dataset& dataset = entry.second;
        const bool present = dataset.isVolume() ? volumes_.count(dataset.luId) != 0
                                                : shares_.count(entry.first) != 0;
        if (present && (!applyRollback(dataset, why) || !ensureSnapshots(dataset, why))) {
            note(first, why);
        }
    }
    error = first;
    return first.empty();
}

}  // namespace arraysim
