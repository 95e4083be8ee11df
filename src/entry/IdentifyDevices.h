// SPDX-License-Identifier: Apache-2.0
// Which of the devices mounted on a virtual-host proxy show each request's mounted copy:
// devices listed under the IntelliFlash vendor and product key are identified by INQUIRY and
// matched to the requests by target and clone LUN id; the key's list then holds the matches.
#pragma once

#include "KYOSUtil.h"
#include "KYSOTypes.h"
#include "KysoExports.h"
#include "SnapInfo.h"

// The key of IntelliFlash devices: vendor and product padded to their INQUIRY field widths.
inline constexpr char kIntelliFlashDeviceKey[] = "TEGILE  |::|INTELLIFLASH    ";

// 0 when done (operations other than 3 touch nothing; a failure while matching keeps the
// matches made so far); 1 for invalid arguments or when no copy server can be made.
KYSO::ResultCode identifyDevices(KYSO::SnapInfo** requests, int16_t count, KYSO::DeviceMap& devices,
                                 int32_t operation, KYSO::KYOSUtil* util);
