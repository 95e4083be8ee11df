// SPDX-License-Identifier: Apache-2.0
#include "StatusNames.h"

#include "KYSOTypes.h"

namespace kysnap {

std::string statusName(int32_t status) {
    switch (status) {
        case 0:
            return "not set";
        case KYSO::SNAP_PREPARED:
            return "prepared";
        case KYSO::SNAP_PREPARE_FAILED:
            return "prepare failed";
        case KYSO::SNAP_UNPREPARED:
            return "unprepared";
        case KYSO::SNAP_CREATED:
            return "snapshot created";
        case KYSO::SNAP_CREATE_FAILED:
            return "snapshot create failed";
        case KYSO::SNAP_MOUNT_FAILED:
            return "mount failed";
        case KYSO::SNAP_MOUNTED:
            return "mounted";
        case KYSO::SNAP_UNMOUNTED:
            return "unmounted";
        case KYSO::SNAP_UNMOUNT_FAILED:
            return "unmount failed";
        case KYSO::SNAP_DELETED:
            return "deleted";
        case KYSO::SNAP_DELETE_FAILED:
            return "delete failed";
        case KYSO::SNAP_REVERTED:
            return "reverted";
        case KYSO::SNAP_REVERT_FAILED:
            return "revert failed";
        case KYSO::SNAP_UNAVAILABLE:
            return "gone from the array";
        default:
            return "status " + std::to_string(status);
    }
}

std::string resultName(int32_t result) {
    switch (result) {
        case KYSO::RESULT_SUCCESS:
            return "success";
        case KYSO::RESULT_FAILED:
            return "failed";
        case KYSO::RESULT_PARTIAL:
            return "partial success";
        default:
            return "result " + std::to_string(result);
    }
}

}  // namespace kysnap
