// SPDX-License-Identifier: Apache-2.0
// The fourteen entry points of a snapshot-engine plug-in, as the host loads them with dlsym.
// Batch functions take the host's request array, its length and the OS-utility object; all
// of these stay owned by the host.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "KYOSUtil.h"
#include "KYSOTypes.h"
#include "SnapInfo.h"

#define KYSO_EXPORT extern "C" __attribute__((visibility("default")))

namespace KYSO {
using DeviceMap = std::map<std::string, std::list<std::string>>;
}

KYSO_EXPORT void kyso_version(int16_t* major, int16_t* minor, int16_t* patch);
KYSO_EXPORT KYSO::ResultCode kyso_isSupported(const char* device, int32_t flags,
                                              KYSO::KYOSUtil* util, void* reserved, int16_t option);
KYSO_EXPORT KYSO::ResultCode kyso_processVPDInfo(KYSO::SnapInfo** requests, int16_t count,
                                                 KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_prepareDevices(KYSO::SnapInfo** requests, int16_t count,
                                                 KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_unprepareDevices(KYSO::SnapInfo** requests, int16_t count,
                                                   KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_snapDevices(KYSO::SnapInfo** requests, int16_t count,
                                              KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_isMapped(KYSO::SnapInfo** requests, int16_t count,
                                           KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_mapSnaps(KYSO::SnapInfo** requests, int16_t count,
                                           KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_unmapSnaps(KYSO::SnapInfo** requests, int16_t count,
                                             KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_deleteSnaps(KYSO::SnapInfo** requests, int16_t count,
                                              KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_revertSnaps(KYSO::SnapInfo** requests, int16_t count,
                                              KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_reconcileSnaps(KYSO::SnapInfo** requests, int16_t count,
                                                 KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_execSnapEngineOp(KYSO::SnapInfo** requests, int16_t count,
                                                   KYSO::KYOSUtil* util);
KYSO_EXPORT KYSO::ResultCode kyso_identifyDevices(KYSO::SnapInfo** requests, int16_t count,
                                                  KYSO::DeviceMap& devices, int32_t operation,
                                                  int16_t& reserved, KYSO::KYOSUtil* util);

namespace KYSO {

// The names a host resolves, in the order of the table of entry points.
inline constexpr const char* kEntryPointNames[] = {
    "kyso_version",          "kyso_isSupported",     "kyso_processVPDInfo", "kyso_prepareDevices",
    "kyso_unprepareDevices", "kyso_snapDevices",     "kyso_isMapped",       "kyso_mapSnaps",
    "kyso_unmapSnaps",       "kyso_deleteSnaps",     "kyso_revertSnaps",    "kyso_reconcileSnaps",
    "kyso_execSnapEngineOp", "kyso_identifyDevices",
};

using VersionFn = decltype(&kyso_version);
using IsSupportedFn = decltype(&kyso_isSupported);
using BatchFn = decltype(&kyso_prepareDevices);
using IdentifyDevicesFn = decltype(&kyso_identifyDevices);

}  // namespace KYSO
