// SPDX-License-Identifier: Apache-2.0
// The property names of a device's property map and the host configuration names: the
// vocabulary every layer uses to pass a request's values up and down. Each name is defined
// here once.
#pragma once

// Source device: the volume or share being protected.
inline constexpr char SOURCE_DEVICE_ID[] = "SOURCE_DEVICE_ID";
inline constexpr char SOURCE_DEVICE_NAME[] = "SOURCE_DEVICE_NAME";
inline constexpr char SOURCE_DEVICE_POOL_NAME[] = "SOURCE_DEVICE_POOL_NAME";
inline constexpr char SOURCE_DEVICE_PROJECT_NAME[] = "SOURCE_DEVICE_PROJECT_NAME";
inline constexpr char SOURCE_DEVICE_MODE[] = "SOURCE_DEVICE_MODE";
inline constexpr char SOURCE_DEVICE_DATASET_PATH[] = "SOURCE_DEVICE_DATASET_PATH";
inline constexpr char SOURCE_DEVICE_DATASET_PATH_NAME[] = "SOURCE_DEVICE_DATASET_PATH_NAME";
inline constexpr char SOURCE_DEVICE_PATH[] = "SOURCE_DEVICE_PATH";
inline constexpr char SOURCE_DEVICE_SIZE[] = "SOURCE_DEVICE_SIZE";
inline constexpr char SOURCE_DEVICE_BLOCK_SIZE[] = "SOURCE_DEVICE_BLOCK_SIZE";
inline constexpr char SOURCE_DEVICE_THIN_PROVISION[] = "SOURCE_DEVICE_THIN_PROVISION";
inline constexpr char SOURCE_DEVICE_PROTOCOL[] = "SOURCE_DEVICE_PROTOCOL";
inline constexpr char SOURCE_DEVICE_AVAILABLE_SIZE[] = "SOURCE_DEVICE_AVAILABLE_SIZE";
inline constexpr char SOURCE_DEVICE_TOTAL_SIZE[] = "SOURCE_DEVICE_TOTAL_SIZE";
// Two distinct names: the host's request supplies MOUNT_POINT_NAME; NFS metadata stores and
// gives back MOUNTPOINT_NAME.
inline constexpr char SOURCE_DEVICE_MOUNTPOINT_NAME[] = "SOURCE_DEVICE_MOUNTPOINT_NAME";
inline constexpr char SOURCE_DEVICE_MOUNT_POINT_NAME[] = "SOURCE_DEVICE_MOUNT_POINT_NAME";
inline constexpr char SOURCE_DEVICE_MOUNT_POINT_NAME_HINT[] = "SOURCE_DEVICE_MOUNT_POINT_NAME_HINT";

// Target device: the snapshot and the clone through which it is mounted.
inline constexpr char TARGET_DEVICE_NAME[] = "TARGET_DEVICE_NAME";
inline constexpr char TARGET_DEVICE_STATUS[] = "TARGET_DEVICE_STATUS";
inline constexpr char TARGET_DEVICE_DATASET_PATH_NAME[] = "TARGET_DEVICE_DATASET_PATH_NAME";
inline constexpr char TARGET_DEVICE_MOUNT_ID[] = "TARGET_DEVICE_MOUNT_ID";
inline constexpr char TARGET_DEVICE_MOUNT_NAME[] = "TARGET_DEVICE_MOUNT_NAME";
inline constexpr char TARGET_DEVICE_MOUNTED[] = "TARGET_DEVICE_MOUNTED";
inline constexpr char TARGET_DEVICE_MOUNT_HOST[] = "TARGET_DEVICE_MOUNT_HOST";
inline constexpr char TARGET_DEVICE_MOUNTPOINT_NAME[] = "TARGET_DEVICE_MOUNTPOINT_NAME";
inline constexpr char TARGET_DEVICE_MOUNT_DATASET_PATH[] = "TARGET_DEVICE_MOUNT_DATASET_PATH";
inline constexpr char TARGET_DEVICE_MOUNT_DATASET_PATH_NAME[] =
    "TARGET_DEVICE_MOUNT_DATASET_PATH_NAME";
inline constexpr char TARGET_DEVICE_MAPPING_NAME[] = "TARGET_DEVICE_MAPPING_NAME";
inline constexpr char TARGET_DEVICE_MAPPING_INDEX[] = "TARGET_DEVICE_MAPPING_INDEX";
inline constexpr char TARGET_DEVICE_MAPPING_COUNT[] = "TARGET_DEVICE_MAPPING_COUNT";
inline constexpr char TARGET_DEVICE_MAPPING_HOST_NAME[] = "TARGET_DEVICE_MAPPING_HOST_NAME";
inline constexpr char TARGET_DEVICE_MAPPING_INITIATOR_NAME[] =
    "TARGET_DEVICE_MAPPING_INITIATOR_NAME";
inline constexpr char TARGET_DEVICE_MAPPING_INITIATOR_TYPE[] =
    "TARGET_DEVICE_MAPPING_INITIATOR_TYPE";
inline constexpr char TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME[] =
    "TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME";
inline constexpr char TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME[] =
    "TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME";
inline constexpr char TARGET_DEVICE_MAPPING_PROTOCOL[] = "TARGET_DEVICE_MAPPING_PROTOCOL";
inline constexpr char TARGET_DEVICE_MAPPING_HOST_NAME2[] = "TARGET_DEVICE_MAPPING_HOST_NAME2";
inline constexpr char TARGET_DEVICE_MAPPING_INITIATOR_NAME2[] =
    "TARGET_DEVICE_MAPPING_INITIATOR_NAME2";
inline constexpr char TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME2[] =
    "TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME2";
inline constexpr char TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME2[] =
    "TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME2";
inline constexpr char TARGET_DEVICE_MAPPING_PROTOCOL2[] = "TARGET_DEVICE_MAPPING_PROTOCOL2";
// Set by the mount command when the clone already exists, so that only the mapping runs.
inline constexpr char SKIP_TARGET_DEVICE_MOUNT[] = "SKIP_TARGET_DEVICE_MOUNT";

// Host device and initiator.
inline constexpr char DEVICE_ID[] = "DEVICE_ID";
inline constexpr char DEVICE_NAME[] = "DEVICE_NAME";
inline constexpr char DEVICE_VENDOR_ID[] = "DEVICE_VENDOR_ID";
inline constexpr char DEVICE_PRODUCT_ID[] = "DEVICE_PRODUCT_ID";
inline constexpr char DEVICE_LUN_ID[] = "DEVICE_LUN_ID";
inline constexpr char DEVICE_TARGET_ID[] = "DEVICE_TARGET_ID";
inline constexpr char DEVICE_TARGET_FOUND[] = "DEVICE_TARGET_FOUND";
inline constexpr char DEVICE_PROTOCOL[] = "DEVICE_PROTOCOL";
inline constexpr char DEVICE_MAPPING_HOST_NAME[] = "DEVICE_MAPPING_HOST_NAME";
inline constexpr char DEVICE_MAPPING_INITIATOR_NAME[] = "DEVICE_MAPPING_INITIATOR_NAME";
inline constexpr char DEVICE_MAPPING_INITIATOR_GROUP_NAME[] = "DEVICE_MAPPING_INITIATOR_GROUP_NAME";
inline constexpr char DEVICE_MAPPING_INITIATOR_LIST[] = "DEVICE_MAPPING_INITIATOR_LIST";
inline constexpr char DEVICE_MAPPING_PROTOCOL[] = "DEVICE_MAPPING_PROTOCOL";

// Request configuration.
inline constexpr char SNAP_CONFIG_PROTOCOL[] = "SNAP_CONFIG_PROTOCOL";
inline constexpr char SNAP_CONFIG_OS[] = "SNAP_CONFIG_OS";

// Array properties.
inline constexpr char STORAGE_SERVER_MODEL[] = "STORAGE_SERVER_MODEL";
inline constexpr char STORAGE_SERVER_VERSION[] = "STORAGE_SERVER_VERSION";
inline constexpr char STORAGE_SERVER_API_VERSION[] = "STORAGE_SERVER_API_VERSION";
inline constexpr char STORAGE_SERVER_API_MINOR_VERSION[] = "STORAGE_SERVER_API_MINOR_VERSION";

// Layout version of a snapshot metadata string.
inline constexpr char META_DATA_VERSION[] = "META_DATA_VERSION";

// Host configuration names: looked up through the host, never stored in a property map.
inline constexpr char SMCONFIG_NAME_SNAP_OP_RETRY_COUNT[] = "SMCONFIG_NAME_SNAP_OP_RETRY_COUNT";
inline constexpr char SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC[] =
    "SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC";
inline constexpr char SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING[] =
    "SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING";
inline constexpr char SMCONFIG_NAME_TARGET_GROUP[] = "SMCONFIG_NAME_TARGET_GROUP";

// Values stored in property maps and compared by several layers.
inline constexpr char PROTOCOL_NFS[] = "NFS";
inline constexpr char OS_HYPERV[] = "HYPERV";
inline constexpr char VALUE_TRUE[] = "true";
inline constexpr char VALUE_FALSE[] = "false";
