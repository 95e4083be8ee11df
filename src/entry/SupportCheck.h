// SPDX-License-Identifier: Apache-2.0
// Whether a host device is an IntelliFlash volume: its standard INQUIRY data, sent to a block
// device or carried as hex text in a VMware description, names vendor "TEGILE" and product
// "INTELLIFLASH". Logs through the debug log; no request exists yet.
#pragma once

#include "KYOSUtil.h"
#include "KYSOTypes.h"

// 0 supported, 1 not (also for a null name, an unreadable device or unusable hex text).
KYSO::ResultCode checkSupport(const char* device, KYSO::KYOSUtil* util);
