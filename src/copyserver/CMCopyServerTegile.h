// SPDX-License-Identifier: Apache-2.0
// CMCopyServerTegile: the orchestrator of one plug-in call. For each host request in turn the
// entry function hands it the request (setCopyRequest) and a logger (setLogger) and calls one
// driver; the copy server identifies the device, finds the array, turns the request into a
// CMStorageDevice and a copy command, runs it and reports the outcome to the host request.
//
// Ownership: the OS utility, the logger and the copy request are borrowed. The copy server
// owns the per-call copy context, one storage server per array host name (shared by every
// request of the call on that array) and the commands kept between a driver and the batch
// step (create, mount, unmount) until clearCmdList. A command that keeps a request gets its
// own CMCopyRequest for the same host request, so the entry function always keeps and
// destroys the wrapper it made.
//
// Every operation returns a Copy_Status (0 = success) or says otherwise below, logs each
// failure once through the logger, and throws nothing. The operations are grouped by topic
// into the files CMCopyServerTegile*.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CMCopyContext.h"
#include "CMCopyRequest.h"
#include "CMLog.h"
#include "CMStorageDevice.h"
#include "CopyStatus.h"
#include "HostBuffer.h"
#include "KYOSUtil.h"
#include "SecretMemory.h"
#include "SnapInfo.h"

class CMStorageServerTegile;
class CMTegileCopyCommand;

class CMCopyServerTegile {
public:
    // (target id, LUN id) -> host device description, for proxy identification.
    using ProxyDeviceMap = std::map<std::pair<std::string, std::string>, std::string>;

    explicit CMCopyServerTegile(KYSO::KYOSUtil* osUtil);
    ~CMCopyServerTegile();
    CMCopyServerTegile(const CMCopyServerTegile&) = delete;
    CMCopyServerTegile& operator=(const CMCopyServerTegile&) = delete;

    void setLogger(KYSO::SnapInfo* logger) { logger_ = logger; }
    // The request the next driver serves; borrowed, and must be set before any driver runs.
    void setCopyRequest(CMCopyRequest* request) { copyRequest_ = request; }
    int getNumFailedCmds() const { return failedCmds_; }
    // The call's copy context; null until the first driver made it.
    const CMCopyContext* getCopyContext() const { return context_.get(); }
    // The copy context's retry settings; the defaults (30, 60 s) before one exists.
    unsigned int getRetryCount() const;
    unsigned int getRetryInterval() const;
    // Destroys every kept command, last first.
    void clearCmdList();
    // The text the host shows for a failed operation.
    std::string getErrorMessage(Copy_Status status) const;

    // ---- SCSI identification ----
    // The lines of the vendor and product check: wrong vendor, vendor, wrong product, product
    // (each "%s" device, "%s" value).
    struct FamilyLines {
        const char* wrongVendor;
        const char* vendor;
        const char* wrongProduct;
        const char* product;
    };
    // Sends a 6-byte INQUIRY to `device` through KyDeviceTree into `buffer`, which is zeroed
    // first. 0 on success; 1 when the name is empty, the buffer is null or shorter than 255
    // bytes, the device cannot be found, is not SCSI, or the command fails (logged when a
    // logger is set; nothing is thrown).
    int sendSCSIInquiry(const std::string& device, bool evpd, unsigned int page,
                        unsigned char* buffer, unsigned int length);
    // The LUN id (32 upper-case hex digits) and target id of an IntelliFlash block device,
    // from the host's cached INQUIRY data or from the device (always the device when `force`).
    // COPY_FAILED when either inquiry fails or the vendor or product is not the array's.
    Copy_Status getSCSIDeviceProperties(const std::string& device, std::string& lunId,
                                        std::string& targetId, bool force);
    // The same from a VMware device description ("standardinqury", "lunuuid",
    // "targetidentifier"). COPY_FAILED when the inquiry text is unusable, the device is not
    // the array's, or "lunuuid" is too short to hold a LUN id.
    Copy_Status getSCSIDevicePropertiesVMware(const std::string& description, std::string& lunId,
                                              std::string& targetId);
    // Standard data: DEVICE_VENDOR_ID and DEVICE_PRODUCT_ID; page 0x83: DEVICE_LUN_ID and
    // DEVICE_TARGET_ID. A failed inquiry yields empty values. Always COPY_SUCCESS.
    Copy_Status getSCSIDeviceData(const std::string& device, bool evpd, unsigned int page,
                                  CMStorageDevice::Properties& properties);
    // The request's source device description; false when the host cannot supply it.
    bool getSourceDevice(std::string& description);

    // ---- array discovery and device records ----
    // COPY_SUCCESS when the host knows the array of `targetId`, or (with `search`) when one
    // of the host's configured arrays serves it and the host accepted the pairing; without
    // `search` an unknown target is accepted. COPY_NOT_FOUND when no array serves it;
    // COPY_FAILED when the array list or an array's information cannot be read.
    Copy_Status findStorageServer(const std::string& targetId, bool search);
    // Fills `device` from everything the host holds for the request and returns the array's
    // host name and credentials. COPY_FAILED when a required host text is missing; for NFS
    // requests the status of parseMetaDataNFS.
    Copy_Status buildCopyDevices(CMStorageDevice* device, std::string& hostName,
                                 std::string& userName, std::string& password);
    // Creates the call's copy context for `operation` ("prepare", "create", "mount",
    // "unmount", "delete", "revert", "reconcile"). A failure leaves the partly filled context.
    // A negative retry setting becomes the default, one above 1000 retries or 3600 s that
    // bound, each with a warning line.
    Copy_Status createCopyContext(const std::string& operation);

    // ---- NFS datastores ----
    // "lunuuid" and "targethostname" of the description (empty when missing). Always success.
    Copy_Status getNFSSharePropertiesVMware(const std::string& description, std::string& mountPoint,
                                            std::string& serverName);
    // Reads the JSON metadata and trans metadata into `device`. COPY_FAILED when the host
    // cannot supply them or a non-empty text is not a JSON object.
    Copy_Status parseMetaDataNFS(CMStorageDevice* device);

    // ---- host initiators and device scans ----
    // The initiators of `host` (empty = the local host) toward `arrayHost`: FC names
    // upper-cased, iSCSI names lower-cased, in the host's order.
    Copy_Status detectHbalist(const std::string& host, const std::string& arrayHost,
                              std::list<std::string>& fcList, std::list<std::string>& iscsiList);
    // Has the request's array choose the initiator (FC first, else the first iSCSI one) and
    // its group. COPY_FAILED when none can be used.
    Copy_Status selectInitiator(const std::list<std::string>& fcList,
                                const std::list<std::string>& iscsiList, std::string& name,
                                std::string& group, std::string& type);
    // Appends the array devices `host` (empty = local) sees.
    Copy_Status scanDevices(const std::string& host, std::list<std::string>& devices);
    // Appends to `added`, in the order of `after`, the entries of `after` not in `before`.
    void getDiffDevices(const std::list<std::string>& before, const std::list<std::string>& after,
                        std::list<std::string>& added);
    // Sets `mapped` when `device` answers page 0x83 with `lunId`. Always COPY_SUCCESS.
    Copy_Status isDeviceMappedToHost(const std::string& device, const std::string& lunId,
                                     bool& mapped);
    // Rescans the local host's buses for `initiator`. Always COPY_SUCCESS.
    Copy_Status refreshSystemBus(const std::string& unused, const std::string& initiator,
                                 const std::list<std::string>& unusedList);
    // Sets the command's mapping initiator to the local host's first iSCSI initiator.
    void setInitiator(CMTegileCopyCommand* command);

    // ---- drivers, one request each ----
    Copy_Status prepare();
    Copy_Status prepareNFS();
    Copy_Status createCopy();
    // The batch step of a create call: the batch create of every array with queued snapshots,
    // then every kept command's second phase. Failures are counted in getNumFailedCmds.
    void processCmdList();
    Copy_Status unmountCopy();
    Copy_Status deleteCopy();
    Copy_Status revertCopy();
    Copy_Status reconcileCopy();
    // A command of `type` for the current request, with its device built and its storage
    // server found in (or added to) the cache. On failure `command` is null.
    Copy_Status buildCopyCommand(const std::string& type, CMTegileCopyCommand*& command);

    // ---- mapping copies to the host ----
    Copy_Status mountCopy();
    Copy_Status mountCopyNFS();
    // Finds the host devices of the kept mount commands' clones (only the new ones unless
    // `useAllDevices`) and reports them to their requests. COPY_FAILED when some clone was not
    // found, or when the rescan or device listing fails (statuses then unchanged);
    // COPY_NO_MEMORY, statuses unchanged, when a discovered-device record cannot be made.
    // Either way getNumFailedCmds counts the clones not shown to the host.
    Copy_Status mapCopyToHost(bool useAllDevices);
    // Has the host rescan so that unmapped clones disappear. Always COPY_SUCCESS.
    Copy_Status unmapCopyFromHost();

    // ---- VPD and proxy devices ----
    Copy_Status processVPD();
    // Identifies every non-VMware device of `devices` into `proxies`; devices that cannot be
    // identified are left out. Always COPY_SUCCESS.
    Copy_Status getArrayIdLunId(const std::list<std::string>& devices, ProxyDeviceMap& proxies);
    // Appends the proxy device that shows the current request's mounted copy, if any.
    // COPY_NO_MEMORY only when no device record can be made.
    Copy_Status getHBXProxyDevices(const ProxyDeviceMap& proxies, std::list<std::string>& found);

private:
    template <typename... Args>
    void milestone(const char* header, const char* format, Args... args) const {
        logLine(logger_, 0, header, format, args...);
    }
    template <typename... Args>
    void info(const char* header, const char* format, Args... args) const {
        logLine(logger_, 1, header, format, args...);
    }
    template <typename... Args>
    void error(const char* header, const char* format, Args... args) const {
        logLine(logger_, 2, header, format, args...);
    }

    KYSO::SnapInfo* request() const { return copyRequest_->getObject(); }
    // COPY_FAILED unless standard INQUIRY data names the array's vendor and product.
    Copy_Status checkFamily(const char* header, const std::string& device,
                            const std::vector<unsigned char>& standard, const FamilyLines& lines);
    // Identifies the request's device (a VMware description or a block device) and makes
    // sure its array is known; on failure logs, sets status 2 and returns the status.
    Copy_Status identifySource(const char* header, const std::string& description,
                               std::string& lunId, std::string& targetId);
    // Makes sure the copy context exists (created for `operation`; COPY_FAILED when it cannot
    // be), then buildCopyCommand of `type`; on a build failure logs `failure`, sets
    // `failedStatus` (unless 0) and returns the status.
    Copy_Status startCommand(const char* operation, const char* type, const char* header,
                             const char* failure, int32_t failedStatus,
                             std::unique_ptr<CMTegileCopyCommand>& command);
    // Gives `command` the request and runs it; on success keeps it for the batch step, on
    // failure logs `failure` (one %d), sets `failedStatus` and destroys it.
    Copy_Status executeAndKeep(const char* header, std::unique_ptr<CMTegileCopyCommand> command,
                               const char* failure, int32_t failedStatus);
    // A VMware datastore on an NFS share rather than a block device.
    static bool isNfsDatastore(const std::string& description);
    // SOURCE_DEVICE_DATASET_PATH_NAME from the pool, mode, project and name.
    static void setDatasetPathName(CMStorageDevice::Properties& map);
    bool isVMware() const;
    // Reads one host text of the current request into the device buffer, logging a regrow
    // with `regrowFormat` (size, answer). 0, or 1 when the host could not supply it.
    int readRequestText(const BufferGet& get, const char* header, const char* regrowFormat,
                        std::string& text);
    // Reads the host identifier into a 4096-byte buffer, regrown as the host asks (within the
    // regrow bound). Returns the host's last answer; only BUFFER_FAILED (1) is a refusal, any
    // other answer leaves `identifier` holding what the host put in the buffer.
    int readHostIdentifier(std::string& identifier);
    // The device description loop: the description, or COPY_FAILED after "getdevice failed".
    Copy_Status readDevice(const char* header, const char* regrowFormat, std::string& text);
    // The request's array information with its required keys; logs it with the password
    // masked. `missing` names the failure line of each key.
    struct ArrayAccess {
        std::string host;
        std::string user;
        std::string password;  // zeroed when the access is destroyed
        ~ArrayAccess() { kyplatform::wipeSecret(password); }
    };
    struct MissingKeyLines {
        const char* host;
        const char* user;
        const char* password;
    };
    Copy_Status readArrayInfo(const char* header, const char* regrowFormat,
                              const MissingKeyLines& missing, ArrayAccess& access);
    Copy_Status arrayAccessFrom(const char* header, const std::string& info,
                                const MissingKeyLines& missing, ArrayAccess& access);
    void logArrayInfo(const char* header, const std::string& info) const;
    // A storage server outside the cache, for one question (discovery, initiator choice).
    Copy_Status makeTemporaryServer(const char* header, ArrayAccess& access,
                                    std::unique_ptr<CMStorageServerTegile>& server);
    Copy_Status ensureContext(const char* header, const char* operation);
    // Gives `command` its own wrapper of the current request.
    Copy_Status handRequestTo(CMTegileCopyCommand* command, const char* header);
    void setMappingProperties(CMStorageDevice* device);
    Copy_Status mapNfsCopiesToHost();
    // mapCopyToHost when the host could not rescan or list its devices, or a device record
    // could not be made: returns `status`, statuses unchanged, every copy not yet shown failed.
    Copy_Status failWhole(Copy_Status status = COPY_FAILED);
    // Appends a discovered-device record (DEVICE_ID, DEVICE_NAME); false when it cannot be made.
    static bool keepRecord(const std::string& lunId, const std::string& deviceName,
                           std::vector<std::unique_ptr<CMStorageDevice>>& records);
    // Builds and runs the prepare command with `sourceKey` set to `sourceValue`, and reports
    // its records and status to the host.
    Copy_Status runPrepareCommand(const char* header, const char* sourceKey,
                                  const std::string& sourceValue);
    // What distinguishes the unmount, delete, revert and reconcile drivers.
    struct Driver {
        const char* header;
        const char* context;  // operation name for the copy context
        const char* type;     // command type
        const char* buildFailure;
        const char* executeFailure;  // one %d: the status
        const char* metaDataLine;    // null: the metadata is not stored
        int32_t doneStatus;          // 0: no status on success
        int32_t failedStatus;        // 0: no status on failure
        bool keep;                   // keep the command for the batch step
        std::function<void(CMTegileCopyCommand&)> onSuccess;
    };
    Copy_Status runCommand(const Driver& driver);

    CMCopyRequest* copyRequest_ = nullptr;
    KYSO::KYOSUtil* osUtil_;
    KYSO::SnapInfo* logger_ = nullptr;
    std::vector<std::unique_ptr<CMTegileCopyCommand>> commands_;
    int failedCmds_ = 0;
    const unsigned int defaultRetryCount_ = 30;
    const unsigned int defaultRetryInterval_ = 60;
    const bool defaultDiagLogging_ = false;
    HostBuffer deviceBuffer_;
    std::unique_ptr<CMCopyContext> context_;
    std::map<std::string, std::unique_ptr<CMStorageServerTegile>> storageServers_;
    bool batchMode_ = false;
};
