// SPDX-License-Identifier: Apache-2.0
#include "Model.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "Limits.h"

namespace arraysim {

Snapshot* Dataset::findSnapshot(const std::string& snapshotName) {
    for (Snapshot& snapshot : snapshots) {
        if (snapshot.name == snapshotName) {
            return &snapshot;
        }
    }
    return nullptr;
}

bool Model::hasPool(const std::string& pool) const {
    return std::find(pools.begin(), pools.end(), pool) != pools.end();
}

bool Model::hasProject(const std::string& pool, const std::string& project) const {
    for (const Project& p : projects) {
        if (p.pool == pool && p.name == project) {
            return true;
        }
    }
    return false;
}

Dataset* Model::findDataset(const std::string& path) {
    auto it = datasets.find(path);
    return it == datasets.end() ? nullptr : &it->second;
}

Dataset* Model::findByLuId(const std::string& luId) {
    const std::string wanted = toUpper(luId);
    for (auto& entry : datasets) {
        if (entry.second.isVolume() && entry.second.luId == wanted) {
            return &entry.second;
        }
    }
    return nullptr;
}

Dataset* Model::findShareByMountPoint(const std::string& mountPoint) {
    for (auto& entry : datasets) {
        if (!entry.second.isVolume() && entry.second.mountPoint == mountPoint) {
            return &entry.second;
        }
    }
    return nullptr;
}

TargetGroup* Model::findTargetGroup(const std::string& name) {
    for (TargetGroup& group : targetGroups) {
        if (group.name == name) {
            return &group;
        }
    }
    return nullptr;
}

InitiatorGroup* Model::findInitiatorGroup(const std::string& name) {
    for (InitiatorGroup& group : initiatorGroups) {
        if (group.name == name) {
            return &group;
        }
    }
    return nullptr;
}

InitiatorGroup* Model::groupOfInitiator(const std::string& initiator) {
    for (InitiatorGroup& group : initiatorGroups) {
        if (std::find(group.initiators.begin(), group.initiators.end(), initiator) !=
            group.initiators.end()) {
            return &group;
        }
    }
    return nullptr;
}

std::vector<std::string> Model::clonesOf(const std::string& snapshotPath) const {
    std::vector<std::string> clones;
    for (const auto& entry : datasets) {
        if (entry.second.origin == snapshotPath) {
            clones.push_back(entry.first);
        }
    }
    return clones;
}

void Model::destroySnapshotWithDependents(const std::string& snapshotPath,
                                          std::vector<std::string>& destroyed) {
    std::string datasetPath;
    std::string name;
    if (!splitSnapshotPath(snapshotPath, datasetPath, name)) {
        return;
    }
    for (const std::string& clonePath : clonesOf(snapshotPath)) {
        Dataset* clone = findDataset(clonePath);
        if (clone == nullptr) {
            continue;
        }
        std::vector<std::string> cloneSnapshots;
        for (const Snapshot& snapshot : clone->snapshots) {
            cloneSnapshots.push_back(clonePath + "@" + snapshot.name);
        }
        // Newest first, as a recursive destroy of a dataset goes.
        for (auto it = cloneSnapshots.rbegin(); it != cloneSnapshots.rend(); ++it) {
            destroySnapshotWithDependents(*it, destroyed);
        }
        mappings.erase(std::remove_if(mappings.begin(), mappings.end(),
                                      [&](const Mapping& mapping) {
                                          return mapping.datasetPath == clonePath;
                                      }),
                       mappings.end());
        datasets.erase(clonePath);
        destroyed.push_back(clonePath);
    }
    Dataset* dataset = findDataset(datasetPath);
    if (dataset == nullptr) {
        return;
    }
    std::vector<Snapshot>& snapshots = dataset->snapshots;
    const auto found =
        std::find_if(snapshots.begin(), snapshots.end(),
                     [&](const Snapshot& snapshot) { return snapshot.name == name; });
    if (found != snapshots.end()) {
        snapshots.erase(found);
        destroyed.push_back(snapshotPath);
    }
}

std::vector<Mapping*> Model::mappingsOf(const std::string& datasetPath) {
    std::vector<Mapping*> found;
    for (Mapping& mapping : mappings) {
        if (mapping.datasetPath == datasetPath) {
            found.push_back(&mapping);
        }
    }
    return found;
}

Snapshot& Model::addSnapshot(Dataset& dataset, const std::string& snapshotName) {
    Snapshot snapshot;
    snapshot.name = snapshotName;
    snapshot.sequence = nextSnapshotSequence_++;
    snapshot.pendingPolls = std::max(0, behaviour.snapshotPendingPolls);
    dataset.snapshots.push_back(snapshot);
    return dataset.snapshots.back();
}

std::string Model::newLuId() {
    std::string serial = toUpper(system.serial);
    if (!std::all_of(serial.begin(), serial.end(),
                     [](unsigned char c) { return std::isxdigit(c) != 0; })) {
        serial.clear();
    }
    serial = (serial + "00000000").substr(0, 8);
    for (;;) {
        char number[17];
        std::snprintf(number, sizeof number, "%016llX",
                      static_cast<unsigned long long>(nextLunNumber_++));
        std::string id = "600144F0" + serial + number;
        if (findByLuId(id) == nullptr) {
            return id;
        }
    }
}

int Model::freeLun(const std::string& initiatorGroup) const {
    std::set<int> used;
    for (const Mapping& mapping : mappings) {
        if (mapping.initiatorGroup == initiatorGroup) {
            used.insert(mapping.lun);
        }
    }
    int lun = 0;
    while (used.count(lun) != 0) {
        ++lun;
    }
    return lun;
}

bool Model::groupServesProtocol(const InitiatorGroup& group, const std::string& protocol) const {
    if (!group.protocol.empty()) {
        return group.protocol == protocol;
    }
    if (group.initiators.empty()) {
        return true;
    }
    for (const std::string& initiator : group.initiators) {
        if (initiatorProtocol(initiator) == protocol) {
            return true;
        }
    }
    return false;
}

namespace {

// The 16 hex digits of a port name written as "wwn.X", "X" or with ':' separators; empty when
// the text is no port name.
std::string portNameDigits(const std::string& text) {
    std::string rest = text;
    if (rest.size() > 4 && toLower(rest.substr(0, 4)) == "wwn.") {
        rest = rest.substr(4);
    }
    std::string digits;
    for (char c : rest) {
        if (c == ':') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return "";
        }
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return digits.size() == 16 ? digits : "";
}

}  // namespace

bool validPortName(const std::string& text) {
    return !portNameDigits(text).empty();
}

std::string initiatorProtocol(const std::string& initiator) {
    if (toLower(initiator.substr(0, 4)) == "wwn." || !portNameDigits(initiator).empty()) {
        return "FC";
    }
    return "ISCSI";
}

std::string normalizeInitiator(const std::string& initiator) {
    std::string digits = portNameDigits(initiator);
    if (!digits.empty()) {
        return "wwn." + digits;
    }
    std::string lower = toLower(initiator);
    if (lower.compare(0, 4, "iqn.") == 0 || lower.compare(0, 4, "eui.") == 0 ||
        lower.compare(0, 4, "naa.") == 0) {
        return lower;
    }
    return initiator;
}

bool splitSnapshotPath(const std::string& path, std::string& dataset, std::string& snapshot) {
    size_t at = path.find('@');
    if (at == std::string::npos || at == 0 || at + 1 >= path.size()) {
        return false;
    }
    dataset = path.substr(0, at);
    snapshot = path.substr(at + 1);
    return true;
}

bool validObjectName(const std::string& name) {
    if (name.empty() || name.size() > kMaxPathLength || name[0] == '-') {
        return false;
    }
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '_' && c != '-' && c != '.' && c != ':' && c != ' ') {
            return false;
        }
    }
    return true;
}

bool validGroupName(const std::string& name) {
    if (name.empty() || name.size() > kMaxGroupNameLength) {
        return false;
    }
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != ':') {
            return false;
        }
    }
    return true;
}

bool validIscsiName(const std::string& name) {
    const std::string prefix = toLower(name.substr(0, 4));
    if (name.size() <= 4 || name.size() > kMaxInitiatorNameLength ||
        (prefix != "iqn." && prefix != "eui." && prefix != "naa.")) {
        return false;
    }
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != ':') {
            return false;
        }
    }
    return true;
}

bool isUpperHex32(const std::string& text) {
    if (text.size() != 32) {
        return false;
    }
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'A' || c > 'F')) {
            return false;
        }
    }
    return true;
}

std::string toUpper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string toLower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace arraysim
