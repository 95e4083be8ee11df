// SPDX-License-Identifier: Apache-2.0
// The device library's seam: where KyDeviceTree finds devices. A host process may install
// another provider (simulated devices, test doubles); the plug-in never chooses one itself.
#pragma once

#include <string>

#include "CLmError.h"
#include "KyDeviceTree.h"
#include "KyPlatformExport.h"
#include "SP.h"

namespace kyplatform {

// Where KyDeviceTree finds devices.
class KYPLATFORM_API DeviceProvider {
public:
    virtual ~DeviceProvider() = default;
    // As KyDeviceTree::getDevice.
    virtual SP<KyDevice> getDevice(const std::string& name, CLmError* error) = 0;
};

// Installs `provider` (borrowed; null restores the SG_IO provider) and returns the previous
// one (null when it was the SG_IO provider).
KYPLATFORM_API DeviceProvider* setDeviceProvider(DeviceProvider* provider);

// The machine's block devices through SG_IO: opened read-only and non-blocking when looked up,
// closed when the last reference goes.
KYPLATFORM_API DeviceProvider& sgioDeviceProvider();

}  // namespace kyplatform
