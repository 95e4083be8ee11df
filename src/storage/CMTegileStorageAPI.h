// SPDX-License-Identifier: Apache-2.0
// CMTegileStorageAPI: the array's REST vocabulary. One object per storage server, that is per
// array within one plug-in call. Each method turns one storage operation into one or a few
// POSTs to "https://<host>/zebi/api/v2/<method>", reads its inputs from and writes its outputs
// to a device's property map, and returns a Copy_Status. No method throws.
//
// Calling order: constructor, setLogger, init, then any operation.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "AnswerLimits.h"
#include "CopyStatus.h"
#include "SnapInfo.h"
#include "StorageApiCall.h"

class CMRESTClient;
class CMStorageDevice;

class CMTegileStorageAPI {
public:
    using Properties = std::map<std::string, std::string>;

    CMTegileStorageAPI(std::string& hostName, std::string& userName, std::string& password,
                       unsigned int retryCount, unsigned int retryInterval, bool diagLogging);
    // Deletes the REST client; the devices of the batch list belong to their commands.
    ~CMTegileStorageAPI();
    CMTegileStorageAPI(const CMTegileStorageAPI&) = delete;
    CMTegileStorageAPI& operator=(const CMTegileStorageAPI&) = delete;

    // Borrowed; every log line of the object goes to it. Call before init().
    void setLogger(KYSO::SnapInfo* logger);

    // Creates the REST client and initialises it with the credentials.
    // COPY_SUCCESS; COPY_NO_MEMORY when the client cannot be made; else the client's status.
    Copy_Status init();

    // With true, the next polling method (getCopyCreatedStatus, getMountedCopy, unmountCopy)
    // polls the array; every polling method resets it to false after it ran.
    void setRetry(bool on) { retry_ = on; }

    // `text` as a JSON string: wrapped in double quotes, with '"', '\' and control characters
    // escaped as JSON requires (other bytes, '/' included, unchanged).
    std::string QString(const std::string& text) const;

    // ---- system properties ----
    // Stores STORAGE_SERVER_MODEL, _VERSION, _API_VERSION, _API_MINOR_VERSION.
    Copy_Status getConfig(Properties& map);

    // ---- source lookup ----
    // Finds the volume whose LUN id is SOURCE_DEVICE_ID and fills its source properties.
    Copy_Status getdevice(Properties& map);
    // Finds the share mounted at SOURCE_DEVICE_MOUNT_POINT_NAME_HINT and fills its properties.
    Copy_Status getdeviceNFS(Properties& map);

    // ---- snapshots ----
    Copy_Status createCopy(Properties& map);
    // Queues `device` (borrowed) for batchCreateCopy.
    void addRequest(CMStorageDevice* device);
    // Creates the snapshots of every queued device in one call.
    Copy_Status batchCreateCopy();
    // COPY_SUCCESS once the array reports the snapshot, COPY_IN_PROGRESS while it is made.
    Copy_Status getCopyCreatedStatus(Properties& map);
    // Set TARGET_DEVICE_STATUS to "available" or "unavailable"; success whenever the array
    // answered. getCopies answers repeated questions about one dataset from a cache.
    Copy_Status getCopy(Properties& map);
    Copy_Status getCopies(Properties& map);
    // Success when deleted or already absent.
    Copy_Status deleteCopy(Properties& map);
    Copy_Status rollbackCopy(Properties& map);

    // ---- clones and mappings ----
    Copy_Status mountCopy(Properties& map);
    // Success whether or not the clone exists; see TARGET_DEVICE_MOUNTED.
    Copy_Status getMountedCopy(Properties& map);
    Copy_Status getMountedCopyByID(Properties& map);
    // Success when the clone is deleted or already absent (Hyper-V: its mapping removed).
    Copy_Status unmountCopy(Properties& map);
    // Sets DEVICE_TARGET_FOUND to "TRUE" when a target group holds DEVICE_TARGET_ID.
    Copy_Status findTarget(Properties& map);
    // Success when the mapping or access rule exists afterwards.
    Copy_Status mapCopyToHost(Properties& map);
    Copy_Status mapCopyToHostNFS(Properties& map);
    Copy_Status unmapCopyFromHost(Properties& map);

    // ---- initiators ----
    // Fills `initiators` with initiator name -> initiator group name for every group.
    Copy_Status getInitiators(Properties& map, std::map<std::string, std::string>& initiators);
    // COPY_NOT_FOUND when the array knows no group for the initiator.
    Copy_Status getInitiatorGroup(Properties& map);
    Copy_Status createInitiatorGroup(Properties& map);
    // COPY_NOT_FOUND when the array does not know the initiator; otherwise success or
    // COPY_FAILED.
    Copy_Status addInitiatorToGroup(Properties& map);
    Copy_Status createISCSIInitiator(Properties& map);

private:
    Copy_Status getCopyCreatedStatusInternal(Properties& map);
    Copy_Status getMountedCopyInternal(Properties& map);
    Copy_Status unmountCopyInternal(Properties& map);

    // Logs "started": every method that logs it does so before anything else, so it is the
    // method's own first statement rather than part of its first call.
    void started(const char* function) const;
    // Sends `call` and applies the failure lines and error-text tests; `response` receives
    // the answer text either way. `answered`, when given, tells whether the array accepted
    // the call (an error text may still have turned a refusal into success).
    Copy_Status send(const ApiCall& call, std::string& response, bool* answered = nullptr);
    // Sends a call whose answer is only a command status or nothing, and logs "completed" when
    // the array accepted it. A refusal that a recognised error text turns into success logs
    // that text's line only: the array never said it did the work. An accepted call whose
    // command status is not 0 (or not a number) fails.
    Copy_Status perform(const ApiCall& call);
    // listLunsById for one LUN id: the dataset path of the one volume returned.
    Copy_Status datasetPathById(const char* function, const std::string& lunId,
                                std::string& datasetPath);
    // Lists the groups of `groupsMethod`, then the members of each with `membersMethod`,
    // handing each (group, member) to `visit`, which answers whether to go on with the
    // group's remaining members; stops at the first failure.
    Copy_Status listGroupMembers(
        const char* function, ArrayMethod groupsMethod, ArrayMethod membersMethod,
        const char* groupLog,
        const std::function<bool(const std::string& group, const std::string& member)>& visit);
    // Polls `attempt` while `done` rejects its status, at most `attempts` times, waiting
    // `waitMs` between attempts; logs the attempts left first when `function` is set.
    // COPY_SUCCESS when no attempt is made.
    Copy_Status poll(unsigned int attempts, unsigned int waitMs, const char* function,
                     const std::function<Copy_Status()>& attempt,
                     const std::function<bool(Copy_Status)>& done);

    // Parses `response` as the JSON container a method expects, within kAnswerLimits; logs
    // "JSON parsing failed" (with the limit, when one was exceeded) and answers false
    // otherwise.
    template <typename Container>
    bool parsed(const char* function, const std::string& response, Container& out) const {
        jsonxx::ParseError error = jsonxx::ParseError::None;
        if (out.parse(response, kAnswerLimits, error)) {
            return true;
        }
        if (error == jsonxx::ParseError::Syntax) {
            log().error(function, "JSON parsing failed");
        } else {
            log().error(function, "JSON parsing failed: JSON response %s",
                        jsonxx::parseErrorText(error, kAnswerLimits).c_str());
        }
        return false;
    }
    // Parses a listing answer as `parsed` does, or hands back the listing parsed last when the
    // text is the same: a call that looks up many volumes of one project is given one answer
    // many times (the call's memory) and need not parse it again each time.
    bool parsedListing(const char* function, const std::string& response,
                       const jsonxx::Array*& listing);
    // Logs "completed": the array has done all the method asked of it.
    void completed(const char* function) const;
    // "listSnapshots" of SOURCE_DEVICE_DATASET_PATH_NAME with `selector`: marks the device
    // available when `fullName` is listed and hands every listed name to `visit`. `listed`
    // tells whether the array answered with a list (an empty answer lists nothing).
    Copy_Status listSnapshots(const char* function, Properties& map, const std::string& selector,
                              const std::string& fullName, bool& listed,
                              const std::function<void(const std::string&)>& visit);

    ApiLog log() const { return ApiLog(logger_); }
    std::string snapshotName(const Properties& map) const;

    std::string hostName_;
    std::string userName_;
    std::string password_;
    std::unique_ptr<CMRESTClient> restClient_;
    KYSO::SnapInfo* logger_ = nullptr;
    std::string baseUrl_;
    bool retry_ = false;
    unsigned int retryCount_;
    unsigned int retryInterval_;
    bool diagLogging_;
    // What getCopies has listed: dataset path + "@" + full snapshot name, and the datasets
    // (as dataset path + "@") of which it holds at least one; hashed, so that checking many
    // snapshots costs linear time.
    std::unordered_set<std::string> listedSnapshots_;
    std::unordered_set<std::string> listedDatasets_;
    std::vector<CMStorageDevice*> batchList_;  // borrowed; filled by addRequest
    // The listing parsedListing parsed last, and its text (empty: none).
    std::string lastListingText_;
    jsonxx::Array lastListing_;
};
