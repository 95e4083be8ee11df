// SPDX-License-Identifier: Apache-2.0
// CMStorageServerTegile: one array within one plug-in call. It holds the array's credentials
// and API object and owns the policy above the raw REST calls: which API versions are
// accepted, how an NFS mount point is matched to a share, how snapshots and clones are named
// and bounded on the array, how a clone is mapped, and which initiator the host maps through.
//
// Every operation works on a device's property map (the device stays owned by the caller),
// returns a Copy_Status and logs its failures; nothing is retried here.
#pragma once

#include <memory>
#include <string>

#include "CMLog.h"
#include "CMTegileStorageAPI.h"
#include "CopyStatus.h"
#include "SnapInfo.h"

class CMStorageDevice;

class CMStorageServerTegile {
public:
    CMStorageServerTegile(std::string& hostName, std::string& userName, std::string& password,
                          unsigned int retryCount, unsigned int retryInterval, bool diagLogging);
    ~CMStorageServerTegile();
    CMStorageServerTegile(const CMStorageServerTegile&) = delete;
    CMStorageServerTegile& operator=(const CMStorageServerTegile&) = delete;

    void setLogger(KYSO::SnapInfo* logger) { logger_ = logger; }
    std::string getHostName() const { return hostName_; }

    // Creates and initialises the API object. COPY_NO_MEMORY when it cannot be made,
    // COPY_FAILED when its initialisation fails.
    Copy_Status init();

    // ---- set-up, prepare and snapshot creation ----
    // Checks the array's API version (2.0 for volumes, 2.1 for shares; COPY_NOT_SUPPORTED
    // below, and for any text that is no plain version number, see ApiVersion.h) and fills the
    // source properties: a volume by its LUN id, a share by walking up its mount point until a
    // share is found.
    Copy_Status prepare(CMStorageDevice* device);
    // Creates one snapshot now. COPY_PATH_TOO_LONG, without an array call, when its dataset
    // path would exceed 255 characters.
    Copy_Status createCopy(CMStorageDevice* device);
    // Queues the device (borrowed; it must outlive batchCreateCopy) for the batch create.
    void addRequest(CMStorageDevice* device);
    Copy_Status batchCreateCopy();
    // Waits, polling the array, until it reports the snapshot created.
    Copy_Status getCopyCreatedStatus(CMStorageDevice* device);
    // Set TARGET_DEVICE_STATUS of the snapshot named by the device.
    Copy_Status getCopy(CMStorageDevice* device);
    Copy_Status getCopies(CMStorageDevice* device);

    // ---- clones, mapping, delete, rollback ----
    // Clones the snapshot (unless SKIP_TARGET_DEVICE_MOUNT is "true") and maps the clone to
    // one or two initiator groups, or opens a share clone to the host. A failing second
    // mapping is logged and does not fail the mount.
    Copy_Status mountCopy(CMStorageDevice* device);
    Copy_Status getMountedCopy(CMStorageDevice* device);
    // Deletes the clone (a Hyper-V host: removes its mapping); success when already gone.
    Copy_Status unmountCopy(CMStorageDevice* device);
    Copy_Status deleteCopy(CMStorageDevice* device);
    Copy_Status rollbackCopy(CMStorageDevice* device);
    // Sets DEVICE_TARGET_FOUND to "TRUE" when the array serves DEVICE_TARGET_ID.
    Copy_Status findTarget(CMStorageDevice* device);

    // ---- initiator selection ----
    // The first host FC initiator the array knows wins; otherwise the host's group
    // "KY-<host>-FC" is ensured and the initiators are added in byte order until one is
    // accepted. COPY_NOT_FOUND when none can be used.
    Copy_Status selectFCInitiator(CMStorageDevice* device);
    // Makes sure the host's iSCSI initiator is registered and in a group.
    Copy_Status selectISCSIInitiator(CMStorageDevice* device);

private:
    // "Tegile CMStorageServerTegile::<function>() -"
    static std::string header(const char* function);
    template <typename... Args>
    void info(const char* function, const char* format, Args... args) const {
        logLine(logger_, 1, header(function), format, args...);
    }
    template <typename... Args>
    void error(const char* function, const char* format, Args... args) const {
        logLine(logger_, 2, header(function), format, args...);
    }
    using ApiMethod = Copy_Status (CMTegileStorageAPI::*)(CMTegileStorageAPI::Properties&);
    // The operations that add nothing but naming to an API call: log the device in, let
    // `name` write the names the call needs, call `method`, then log the device out, or
    // `failure` (one %d for the status).
    Copy_Status forward(const char* function, const char* failure, CMStorageDevice* device,
                        ApiMethod method, void (*name)(CMTegileStorageAPI::Properties&) = nullptr);
    void dataIn(const char* function, CMStorageDevice* device) const;
    void dataOut(const char* function, CMStorageDevice* device) const;

    std::unique_ptr<CMTegileStorageAPI> api_;
    std::string hostName_;
    std::string userName_;
    std::string password_;
    unsigned int retryCount_;
    unsigned int retryInterval_;
    KYSO::SnapInfo* logger_ = nullptr;
    bool diagLogging_;
};
