// SPDX-License-Identifier: Apache-2.0
// Values exchanged with the host snap framework: result codes, request status values,
// error codes, metadata kinds and request options.
#pragma once

#include <cstdint>

namespace KYSO {

// What every exported operation returns.
enum ResultCode : int32_t {
    RESULT_SUCCESS = 0,  // every request succeeded
    RESULT_FAILED = 1,   // no request succeeded, or the call was rejected
    RESULT_PARTIAL = 2,  // some but not all requests succeeded
};

// Request status values written with SnapInfo::setSnapStatus.
enum SnapStatus : int32_t {
    SNAP_PREPARED = 1,
    SNAP_PREPARE_FAILED = 2,
    SNAP_UNPREPARED = 3,
    SNAP_CREATED = 5,
    SNAP_CREATE_FAILED = 6,
    SNAP_MOUNT_FAILED = 11,
    SNAP_MOUNTED = 12,
    SNAP_UNMOUNTED = 14,
    SNAP_UNMOUNT_FAILED = 15,
    SNAP_DELETED = 20,
    SNAP_DELETE_FAILED = 21,
    SNAP_REVERTED = 22,
    SNAP_REVERT_FAILED = 23,
    SNAP_UNAVAILABLE = 24,  // the snapshot no longer exists on the array
};

// Error codes given to SnapInfo::setError for a whole operation.
enum ErrorCode : int32_t {
    ERROR_CREATE = 60001,
    ERROR_MOUNT = 60002,
    ERROR_UNMOUNT = 60003,
    ERROR_DELETE = 60004,
    ERROR_REVERT = 60005,
    ERROR_RECONCILE = 60298,
    ERROR_PREPARE = 62008,  // prepare and process-VPD
    ERROR_IDENTIFY = 62013,
};

// Kinds of metadata kept by the host for a request.
enum MetaDataKind : int32_t {
    META_SNAPSHOT = 6,  // the snapshot metadata string
    META_TRANS = 102,   // the trans metadata string
};

// Answers of the buffer-get operations (getDevice, getSnapUUID, getMetaData, ...).
enum BufferAnswer : int32_t {
    BUFFER_OK = 0,         // the buffer holds NUL-terminated text
    BUFFER_FAILED = 1,     // the host could not supply the value
    BUFFER_TOO_SMALL = 2,  // the size argument now holds the size needed
};

// Request options tested with SnapInfo::checkOption.
constexpr uint32_t OPTION_HYPERV = 0x1000;

// Property id asked with SnapInfo::getSnapProperty when proxy devices are identified.
constexpr int32_t SNAP_PROPERTY_PROXY = 32;

}  // namespace KYSO
