// SPDX-License-Identifier: Apache-2.0
// KyDeviceTree: the host's device library, as far as the plug-in uses it. A block device is
// looked up by name; a device that speaks SCSI offers the "KyDeviceScsiIface" interface, which
// sends one command descriptor block and returns the data the device sent back.
//
// By default devices are the machine's own block devices, reached through the Linux SG_IO
// pass-through (see DeviceProvider.h of the platform library).
#pragma once

#include <string>

#include "CLmError.h"
#include "KyPlatformExport.h"
#include "SP.h"

// The name under which a device offers its SCSI pass-through.
inline constexpr char KY_DEVICE_SCSI_IFACE[] = "KyDeviceScsiIface";

class KYPLATFORM_API KyDeviceScsiIface {
public:
    // Data transfer directions of sendCommand.
    static constexpr int DIRECTION_NONE = 0;
    static constexpr int DIRECTION_IN = 1;  // device to host

    virtual ~KyDeviceScsiIface() = default;

    // Sends `cdb` (`cdbLength` bytes) and transfers up to `dataLength` bytes in `direction`.
    // `reserved`, `retries` and `flags` are accepted for the host's interface and must be 0.
    // Returns 0 when the command completed with GOOD status and no transport error; -1
    // otherwise, with `error` (when not null) saying why. `data` may be partly written on -1.
    virtual int sendCommand(const unsigned char* cdb, unsigned int cdbLength, unsigned char* data,
                            unsigned int dataLength, int reserved, int direction, int retries,
                            int flags, unsigned int timeoutSeconds, CLmError* error) = 0;
};

class KYPLATFORM_API KyDevice : public SPBase {
public:
    // The interface called `name`, owned by the device and valid while it lives; null when
    // the device has none (a block device that is not SCSI has no "KyDeviceScsiIface").
    virtual void* getInterface(const std::string& name) = 0;
    // The name the device was looked up by, for messages.
    virtual std::string getDeviceName() const = 0;
};

class KYPLATFORM_API KyDeviceTree {
public:
    // The device called `name` (a path such as /dev/sdb), from the installed provider. Null
    // when there is no such device or it cannot be opened; `error` (when not null) then holds
    // the reason, with the system's error text where there is one.
    static SP<KyDevice> getDevice(const std::string& name, CLmError* error);
};
