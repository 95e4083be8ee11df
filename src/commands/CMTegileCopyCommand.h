// SPDX-License-Identifier: Apache-2.0
// CMTegileCopyCommand: one operation on one device. A command checks that the device's
// property map holds what its operation needs, calls the array's storage server, and turns
// the property map into the metadata string the host keeps with the snapshot.
//
// Metadata comes in two forms, chosen by SNAP_CONFIG_PROTOCOL:
//   block (not "NFS"): values in a fixed order, each followed by "|" (the last one too);
//   NFS:               a JSON object of string members named by property names.
// The host stores these strings and hands them back to later operations (possibly of a later
// version of this plug-in), so their layout must not change.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CMCopyRequest.h"
#include "CMLog.h"
#include "CMStorageDevice.h"
#include "CopyStatus.h"
#include "SnapInfo.h"

class CMStorageServerTegile;

// The operations and phases a command's type names.
namespace CopyType {
inline constexpr char PREPARE[] = "prepare";
inline constexpr char CREATE[] = "create";
inline constexpr char GET_COPY_CREATED_STATUS[] = "getCopyCreatedStatus";
inline constexpr char BATCH_CREATE[] = "batchCreate";
inline constexpr char BATCH_CREATE_UPDATE[] = "batchCreateUpdate";
inline constexpr char COPY_DONE[] = "copyDone";
inline constexpr char MOUNT[] = "mount";
inline constexpr char MAP_COPY_TO_HOST[] = "mapCopyToHost";
inline constexpr char UNMOUNT[] = "unmount";
inline constexpr char UNMAP_COPY_FROM_HOST[] = "unmapCopyFromHost";
inline constexpr char DELETE[] = "delete";
inline constexpr char CHECK[] = "check";
inline constexpr char REVERT[] = "revert";
}  // namespace CopyType

class CMTegileCopyCommand {
public:
    // Metadata layout versions: "1.0" below array API 2.1, "2.0" from it on.
    static const std::string META_DATA_VERSION;
    static const std::string META_DATA_VERSION_2;

    // Takes ownership of `device`; `storageServer` is borrowed.
    CMTegileCopyCommand(CMStorageServerTegile* storageServer, CMStorageDevice* device,
                        const std::string& type);
    virtual ~CMTegileCopyCommand();
    CMTegileCopyCommand(const CMTegileCopyCommand&) = delete;
    CMTegileCopyCommand& operator=(const CMTegileCopyCommand&) = delete;

    // Performs what the current type names; a type the class does not act on does nothing
    // and succeeds.
    virtual Copy_Status execute();

    std::string getMetaData() const { return metaData_; }
    std::string getTransMetaData() const { return transMetaData_; }
    std::string getType() const { return type_; }
    void setType(std::string type) { type_ = std::move(type); }
    CMStorageDevice* getDevice() const { return device_.get(); }
    CMStorageServerTegile* getStorageServer() const { return storageServer_; }
    // Takes ownership of `request`.
    void setCopyRequest(CMCopyRequest* request) { copyRequest_.reset(request); }
    CMCopyRequest* getCopyRequest() const { return copyRequest_.get(); }
    // Must be called before execute().
    void setLogger(KYSO::SnapInfo* logger) { logger_ = logger; }

protected:
    // (member name for the NFS form, value) in field order
    using Fields = std::vector<std::pair<std::string, std::string>>;

    std::string& property(const char* name) { return device_->getProperties()[name]; }
    bool isShare();
    // The snapshot record after creation: version, source and snapshot name, as the share
    // record or as the block record.
    Fields createFields(bool share);
    // The fields as a metadata string of the device's form.
    std::string serialize(const Fields& fields);
    // Block form, whatever the protocol.
    std::string blockForm(const Fields& fields) const;

    template <typename... Args>
    void info(const char* header, const char* format, Args... args) const {
        logLine(logger_, 1, header, format, args...);
    }
    template <typename... Args>
    void error(const char* header, const char* format, Args... args) const {
        logLine(logger_, 2, header, format, args...);
    }
    std::string printed() const { return device_->print(); }

    const char* fieldSeparator_ = "|";
    CMStorageServerTegile* storageServer_;
    std::unique_ptr<CMStorageDevice> device_;
    std::unique_ptr<CMCopyRequest> copyRequest_;
    std::string type_;
    KYSO::SnapInfo* logger_ = nullptr;
    std::string metaData_;
    std::string transMetaData_;
};
