// SPDX-License-Identifier: Apache-2.0
#include "IdentifyDevices.h"

#include <chrono>
#include <memory>
#include <new>

#include "CMCopyRequest.h"
#include "CMCopyServerTegile.h"
#include "CallScope.h"
#include "CallSummary.h"
#include "EvDebug.h"

namespace {
const char* const kHeader =
    "KYSO::ResultCode kyso_identifyDevices(KYSO::SnapInfo**, int16_t, "
    "std::map<std::__cxx11::basic_string<char>, std::__cxx11::list<std::__cxx11::basic_string<"
    "char> > >&, int32_t, int16_t&, KYSO::KYOSUtil*)";
constexpr int32_t kIdentifyProxyDevices = 3;
}  // namespace

KYSO::ResultCode identifyDevices(KYSO::SnapInfo** requests, int16_t count, KYSO::DeviceMap& devices,
                                 int32_t operation, KYSO::KYOSUtil* util) {
    EvDebug log(nullptr);
    if (count < 1) {
        log.DebugLvl(kHeader, EvDebug::LEVEL_ERROR, "Device count[%d] not valid",
                     static_cast<int>(count));
        return KYSO::RESULT_FAILED;
    }
    if (requests == nullptr || requests[0] == nullptr) {
        log.DebugLvl(kHeader, EvDebug::LEVEL_ERROR, "Device list is null");
        return KYSO::RESULT_FAILED;
    }
    if (util == nullptr) {
        log.DebugLvl(kHeader, EvDebug::LEVEL_ERROR, "Snap util object is null");
        return KYSO::RESULT_FAILED;
    }
    for (int16_t i = 0; i < count; ++i) {
        if (requests[i] == nullptr) {
            log.DebugLvl(kHeader, EvDebug::LEVEL_ERROR, "Invalid snapInfo pointer.");
            return KYSO::RESULT_FAILED;
        }
    }
    kyplatform::CallScope call;
    const auto started = std::chrono::steady_clock::now();
    KYSO::SnapInfo* first = requests[0];
    first->log(1, kHeader, "Number of devices to be identified - [%d]", static_cast<int>(count));
    if (operation == kIdentifyProxyDevices) {
        auto listed = devices.find(kIntelliFlashDeviceKey);
        if (listed == devices.end() || listed->second.empty()) {
            first->log(1, kHeader,
                       "None of the mounted devices belongs to vendor [%s] and product [%s]",
                       "TEGILE  ", "INTELLIFLASH    ");
            return KYSO::RESULT_SUCCESS;
        }
        std::unique_ptr<CMCopyServerTegile> server(new (std::nothrow) CMCopyServerTegile(util));
        if (!server) {
            first->log(2, kHeader, "%s", "CMCopyServerTegile object allocation failed");
            first->setError(KYSO::ERROR_IDENTIFY,
                            "Identify devices operation failed. System is running out of memory");
            return KYSO::RESULT_FAILED;
        }
        first->log(1, kHeader, "%s", "CMCopyServerTegile created");
        server->setLogger(first);
        std::unique_ptr<CMCopyRequest> firstWrapper(new (std::nothrow) CMCopyRequest(first));
        if (!firstWrapper) {
            first->log(2, kHeader, "%s", "CMCopyRequest object allocation failed");
            return KYSO::RESULT_FAILED;
        }
        server->setCopyRequest(firstWrapper.get());
        CMCopyServerTegile::ProxyDeviceMap proxies;
        const Copy_Status status = server->getArrayIdLunId(listed->second, proxies);
        if (status != COPY_SUCCESS) {
            first->log(2, kHeader, "Identify devices request failed. Error [%d]",
                       static_cast<int>(status));
            first->setError(KYSO::ERROR_IDENTIFY, "Identify devices operation failed.");
            return KYSO::RESULT_FAILED;
        }
        std::list<std::string> identified;
        for (int16_t i = 0; i < count; ++i) {
            first->log(1, kHeader, "Copy identify devices request index [%d]", static_cast<int>(i));
            std::unique_ptr<CMCopyRequest> wrapper(new (std::nothrow) CMCopyRequest(requests[i]));
            if (!wrapper) {
                first->log(2, kHeader, "%s", "CMCopyRequest object allocation failed");
                break;
            }
            server->setCopyRequest(wrapper.get());
            const Copy_Status found = server->getHBXProxyDevices(proxies, identified);
            server->setCopyRequest(firstWrapper.get());
            if (found != COPY_SUCCESS) {
                first->log(2, kHeader, "Identify devices request failed. Error [%d]",
                           static_cast<int>(found));
                first->setError(KYSO::ERROR_IDENTIFY, "Identify devices operation failed.");
                break;
            }
        }
        listed->second = identified;
    }
    first->log(
        1, kHeader, "call summary %s",
        callSummary(call.statistics(), std::chrono::steady_clock::now() - started, 0).c_str());
    first->log(1, kHeader, "%s", "Identify devices completed");
    return KYSO::RESULT_SUCCESS;
}
