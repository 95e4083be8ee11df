// SPDX-License-Identifier: Apache-2.0
// KYSO::KYOSUtil: the host's operating-system utilities. Owned by the host and borrowed by
// the plug-in for one exported call.
#pragma once

#include <cstdint>

namespace KYSO {

class KYOSUtil {
public:
    virtual ~KYOSUtil() = default;

    // Rescans the buses of `host` (null = local). Both lists are null-terminated and may be
    // null themselves. True when the rescan succeeded.
    virtual bool refreshBus(const char* host, const char** initiators, const char** devices) = 0;

    // Fills `buf` with the `separator`-separated device names of `vendor` on `host` (null =
    // local). 0 = done; positive = the size needed; negative = error.
    virtual int32_t getDeviceList(const char* host, const char* vendor, char separator,
                                  int32_t size, char* buf) = 0;

    // As getDeviceList, for the names of the arrays of `arrayType` configured in the host.
    virtual int32_t getArrayListByID(const char* arrayType, char separator, int32_t size,
                                     char* buf) = 0;

    // Two-phase: with null buffers it reports the lengths and the count; with buffers of those
    // lengths it fills `names` with ','-separated initiator names and `flags` with one byte per
    // name (1 = iSCSI, other = FC). Non-zero with a zero names length means no initiators.
    virtual int32_t getLocalHbaList(const char* reserved, const char* arrayHost, char* names,
                                    int16_t& namesLength, char* flags, int16_t& flagsLength,
                                    int16_t& count) = 0;

    // 0 = `buf` holds the array description (key-value text); positive = `size` was set to
    // the size needed; negative = error.
    virtual int32_t getArrayInfoByName(const char* arrayName, char* buf, int16_t& size) = 0;

    // As getLocalHbaList, for the remote ESX server `esxHost`.
    virtual int32_t getRemoteHbaList(const char* esxHost, const char* arrayHost, char* names,
                                     int16_t& namesLength, char* flags, int16_t& flagsLength,
                                     int16_t& count) = 0;
};

}  // namespace KYSO
