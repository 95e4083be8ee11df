// SPDX-License-Identifier: Apache-2.0
#include "BatchOperations.h"

namespace kysnap {

namespace batch {

namespace {

// Builds one operation's row a named field at a time; a field not given keeps the default the
// row declares.
class Row {
public:
    Row(const char* name, Source source, KYSO::BatchFn PluginLibrary::*call) {
        op_.name = name;
        op_.source = source;
        op_.call = call;
    }
    Row& succeedsWithStatus(int32_t status) {
        op_.judged = Judged::ByStatus;
        op_.successStatus = status;
        return *this;
    }
    Row& judged(Judged judged) {
        op_.judged = judged;
        return *this;
    }
    Row& shown(Shown shown) {
        op_.shown = shown;
        return *this;
    }
    Row& ids(Ids ids) {
        op_.ids = ids;
        return *this;
    }
    Row& unfinished(Unfinished unfinished) {
        op_.unfinished = unfinished;
        return *this;
    }
    Row& absence(Absence absence) {
        op_.absence = absence;
        return *this;
    }
    Row& records(Records records) {
        op_.records = records;
        return *this;
    }
    Row& hostCheck(HostCheck check) {
        op_.hostCheck = check;
        return *this;
    }
    Row& detail(Detail detail) {
        op_.detail = detail;
        return *this;
    }
    Row& clones(Clones clones) {
        op_.clones = clones;
        return *this;
    }
    Row& destroys(Destruction destruction) {
        op_.destroys = destruction;
        return *this;
    }
    Row& unrecorded(UnrecordedWork work) {
        op_.unrecorded = work;
        return *this;
    }
    Row& audited(Audited audited) {
        op_.audited = audited;
        return *this;
    }
    Row& quiesce(Quiesce quiesce) {
        op_.quiesce = quiesce;
        return *this;
    }
    operator Operation() const { return op_; }

private:
    Operation op_;
};

const Operation kOperations[] = {
    Row("vpd", Source::NamedDevice, &PluginLibrary::processVPDInfo)
        .judged(Judged::ByLunIdentified)
        .shown(Shown::Identification)
        .detail(Detail::LunAndTarget),
    Row("prepare", Source::NamedDevice, &PluginLibrary::prepareDevices)
        .succeedsWithStatus(KYSO::SNAP_PREPARED)
        .records(Records::PreparedDevice)
        .detail(Detail::Array),
    Row("unprepare", Source::PreparedDevice, &PluginLibrary::unprepareDevices)
        .succeedsWithStatus(KYSO::SNAP_UNPREPARED)
        .records(Records::UnpreparedDevice),
    Row("snap", Source::PreparedDevice, &PluginLibrary::snapDevices)
        .succeedsWithStatus(KYSO::SNAP_CREATED)
        .ids(Ids::MadeNew)
        .records(Records::CreatedSnapshot)
        .detail(Detail::Array)
        .unrecorded(UnrecordedWork::CreatingRecords)
        .audited(Audited::EachRequest)
        .quiesce(Quiesce::AroundCall),
    Row("map", Source::CatalogSnapshot, &PluginLibrary::mapSnaps)
        .succeedsWithStatus(KYSO::SNAP_MOUNTED)
        .records(Records::SnapshotState)
        .detail(Detail::MountedCopy)
        .unrecorded(UnrecordedWork::MountedClones)
        .audited(Audited::EachRequest),
    Row("unmap", Source::CatalogSnapshot, &PluginLibrary::unmapSnaps)
        .succeedsWithStatus(KYSO::SNAP_UNMOUNTED)
        .records(Records::UnmountedSnapshot)
        .hostCheck(HostCheck::DevicesRemoved)
        .audited(Audited::EachRequest),
    Row("delete", Source::CatalogSnapshot, &PluginLibrary::deleteSnaps)
        .succeedsWithStatus(KYSO::SNAP_DELETED)
        .unfinished(Unfinished::Settled)
        .absence(Absence::UnlistedBeforeCall)
        .records(Records::DeletedSnapshot)
        .destroys(Destruction::Delete)
        .audited(Audited::EachRequest),
    Row("revert", Source::CatalogSnapshot, &PluginLibrary::revertSnaps)
        .succeedsWithStatus(KYSO::SNAP_REVERTED)
        .records(Records::SnapshotState)
        .destroys(Destruction::Revert)
        .audited(Audited::EachRequest),
    // Reconcile sets no status when the snapshot is still there; its failure line tells.
    Row("reconcile", Source::CatalogSnapshot, &PluginLibrary::reconcileSnaps)
        .judged(Judged::ByNoFailureLine)
        .shown(Shown::CatalogStatus)
        .unfinished(Unfinished::Settled)
        .records(Records::SnapshotState)
        .detail(Detail::Presence)
        .clones(Clones::AdoptedWhenUnrecorded),
};

}  // namespace

const Operation* findOperation(const std::string& name) {
    for (const Operation& operation : kOperations) {
        if (name == operation.name) {
            return &operation;
        }
    }
    return nullptr;
}

}  // namespace batch

}  // namespace kysnap
