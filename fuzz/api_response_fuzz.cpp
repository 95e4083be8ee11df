// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for the response handling of every array API method: an HTTP transport
// installed in the platform answers each request with the next of the fuzzer's texts, with
// status 200 or an error status, or fails the exchange. The first four bytes choose the
// method, the device (block or NFS share, Hyper-V or not, polling or not), which answers carry
// an error status and which one; the rest are the answers, separated by "\n----\n" (the last
// repeats). No answer may crash, leak, hang or read outside what it was given.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CMStorageDevice.h"
#include "CMTegileStorageAPI.h"
#include "FuzzFields.h"
#include "HttpTransport.h"
#include "LMSleep.h"
#include "PropertyNames.h"
#include "Sleeper.h"
#include "TestSnapInfo.h"

namespace {

const uint32_t kErrorStatuses[] = {400, 401, 404, 409, 500, 503, 0, 200};

struct Script {
    std::vector<std::string> answers;
    unsigned errorMask = 0;
    uint32_t errorStatus = 500;
    size_t next = 0;
};

class ScriptedTransport : public kyplatform::HttpTransport {
public:
    explicit ScriptedTransport(Script& script) : script_(script) {}
    bool addHeader(const std::string&) override { return true; }
    bool setCredentials(const std::string&, const std::string&) override { return true; }
    bool perform(const kyplatform::HttpRequest&, kyplatform::HttpResponse& response) override {
        response = kyplatform::HttpResponse();
        const size_t index = script_.next++;
        const bool error = index < 8 && (script_.errorMask & (1u << index)) != 0;
        const uint32_t status = error ? script_.errorStatus : 200;
        response.body = script_.answers[std::min(index, script_.answers.size() - 1)];
        if (status == 0) {
            response.error = "connection dropped";
            return false;
        }
        response.status = status;
        return true;
    }

private:
    Script& script_;
};

class ScriptedFactory : public kyplatform::HttpTransportFactory {
public:
    explicit ScriptedFactory(Script& script) : script_(script) {}
    std::unique_ptr<kyplatform::HttpTransport> create(const kyplatform::HttpTransportSettings&,
                                                      std::string&) override {
        return std::make_unique<ScriptedTransport>(script_);
    }

private:
    Script& script_;
};

class NoSleep : public kyplatform::Sleeper {
public:
    void sleepMs(unsigned int) override {}
};

void fillDevice(CMTegileStorageAPI::Properties& map, bool nfs, bool hyperV) {
    map[SOURCE_DEVICE_POOL_NAME] = "pool-a";
    map[SOURCE_DEVICE_PROJECT_NAME] = "oracle";
    map[SOURCE_DEVICE_NAME] = "ora-data";
    map[SOURCE_DEVICE_MODE] = "Local";
    map[SOURCE_DEVICE_ID] = "600144F0C8A7B3D1E45F4A2B00010001";
    map[SOURCE_DEVICE_SIZE] = "536870912000";
    map[SOURCE_DEVICE_BLOCK_SIZE] = "8KB";
    map[SOURCE_DEVICE_THIN_PROVISION] = "true";
    map[SOURCE_DEVICE_PROTOCOL] = "FC";
    map[SOURCE_DEVICE_DATASET_PATH] = "pool-a/Local/oracle/ora-data";
    map[SOURCE_DEVICE_DATASET_PATH_NAME] = "pool-a/Local/oracle/ora-data";
    map[SOURCE_DEVICE_MOUNT_POINT_NAME_HINT] = "/export/files/home";
    map[SOURCE_DEVICE_MOUNTPOINT_NAME] = "/export/files/home";
    map[SOURCE_DEVICE_AVAILABLE_SIZE] = "751619276800";
    map[SOURCE_DEVICE_TOTAL_SIZE] = "1099511627776";
    map[TARGET_DEVICE_NAME] = "KY-20261209T024100Z-1";
    map[TARGET_DEVICE_MOUNT_ID] = "600144F0C8A7B3D1E45F4A2B00010009";
    map[TARGET_DEVICE_MOUNT_NAME] = "MNT_KY-20261209T024100Z-1";
    map[TARGET_DEVICE_MOUNT_HOST] = "10.0.0.5";
    map[TARGET_DEVICE_MAPPING_HOST_NAME] = "db-host";
    map[TARGET_DEVICE_MAPPING_INITIATOR_NAME] = "wwn.21000024FF3D2A10";
    map[TARGET_DEVICE_MAPPING_INITIATOR_TYPE] = "FC";
    map[TARGET_DEVICE_MAPPING_INITIATOR_GROUP_NAME] = "db-host-fc";
    map[TARGET_DEVICE_MAPPING_TARGET_GROUP_NAME] = "default-fc-target-group";
    map[TARGET_DEVICE_MAPPING_PROTOCOL] = "FC";
    map[DEVICE_TARGET_ID] = "wwn.2100001B32A1B2C3";
    map[DEVICE_MAPPING_INITIATOR_NAME] = "iqn.1994-05.com.example:backup01";
    map[DEVICE_MAPPING_INITIATOR_GROUP_NAME] = "KY-backup01-FC";
    map[DEVICE_MAPPING_PROTOCOL] = "iSCSI";
    map[STORAGE_SERVER_API_VERSION] = "2.1";
    map[STORAGE_SERVER_API_MINOR_VERSION] = "1";
    if (nfs) {
        map[SNAP_CONFIG_PROTOCOL] = PROTOCOL_NFS;
    }
    if (hyperV) {
        map[SNAP_CONFIG_OS] = OS_HYPERV;
    }
}

// Runs the method `which` picks; its status.
Copy_Status runMethod(unsigned which, CMTegileStorageAPI& api, CMTegileStorageAPI::Properties& map,
                      bool nfs, bool hyperV) {
    std::map<std::string, std::string> initiators;
    CMStorageDevice first;
    CMStorageDevice second;
    switch (which % 23) {
        case 0:
            return api.getConfig(map);
        case 1:
            return api.getdevice(map);
        case 2:
            return api.getdeviceNFS(map);
        case 3:
            return api.createCopy(map);
        case 4:
            fillDevice(first.getProperties(), nfs, hyperV);
            fillDevice(second.getProperties(), nfs, hyperV);
            second.getProperties()[TARGET_DEVICE_NAME] = "KY-20261209T024100Z-2";
            api.addRequest(&first);
            api.addRequest(&second);
            return api.batchCreateCopy();
        case 5:
            return api.getCopyCreatedStatus(map);
        case 6:
            return api.getCopy(map);
        case 7: {
            // Repeated questions about one dataset are answered from the listing's cache.
            const Copy_Status asked = api.getCopies(map);
            map[TARGET_DEVICE_NAME] = "KY-20261209T024100Z-2";
            const Copy_Status askedAgain = api.getCopies(map);
            return asked != COPY_SUCCESS ? asked : askedAgain;
        }
        case 8:
            return api.deleteCopy(map);
        case 9:
            return api.rollbackCopy(map);
        case 10:
            return api.mountCopy(map);
        case 11:
            return api.getMountedCopy(map);
        case 12:
            return api.getMountedCopyByID(map);
        case 13:
            return api.unmountCopy(map);
        case 14:
            return api.findTarget(map);
        case 15:
            return api.mapCopyToHost(map);
        case 16:
            return api.mapCopyToHostNFS(map);
        case 17:
            return api.unmapCopyFromHost(map);
        case 18:
            return api.getInitiators(map, initiators);
        case 19:
            return api.getInitiatorGroup(map);
        case 20:
            return api.createInitiatorGroup(map);
        case 21:
            return api.addInitiatorToGroup(map);
        default:
            return api.createISCSIInitiator(map);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const unsigned which = data[0];
    const unsigned flags = data[1];
    Script script;
    script.errorMask = data[2];
    script.errorStatus = kErrorStatuses[data[3] % 8];
    script.answers = fuzz::fields(data + 4, size - 4, 64);
    while (script.answers.size() > 1 && script.answers.back().empty()) {
        script.answers.pop_back();
    }

    ScriptedFactory factory(script);
    NoSleep noSleep;
    kyplatform::HttpTransportFactory* previousFactory =
        kyplatform::setHttpTransportFactory(&factory);
    kyplatform::Sleeper* previousSleeper = kyplatform::setSleeper(&noSleep);
    {
        const bool nfs = (flags & 0x01) != 0;
        const bool hyperV = (flags & 0x04) != 0;
        testhost::TestSnapInfo logger;
        std::string host = "127.0.0.1:8443";
        std::string user = "admin";
        std::string password = "tegile";
        CMTegileStorageAPI api(host, user, password, 3, 1, (flags & 0x08) != 0);
        api.setLogger(&logger);
        if (api.init() == COPY_SUCCESS) {
            CMTegileStorageAPI::Properties map;
            fillDevice(map, nfs, hyperV);
            api.setRetry((flags & 0x02) != 0);
            ignoreStatus(runMethod(which, api, map, nfs, hyperV),
                         "a fuzz target looks for crashes and undefined behaviour, whatever the "
                         "array answered");
        }
    }
    kyplatform::setSleeper(previousSleeper);
    kyplatform::setHttpTransportFactory(previousFactory);
    return 0;
}
