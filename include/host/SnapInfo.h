// SPDX-License-Identifier: Apache-2.0
// KYSO::SnapInfo: one device request of the host snap framework. The host creates, owns and
// fills it; the plug-in only borrows it for the length of one exported call. It carries the
// request's inputs, receives its results and is the log sink of every layer.
#pragma once

#include <cstdint>
#include <string>

#include "KYSOTypes.h"

namespace KYSO {

class SnapInfo {
public:
    virtual ~SnapInfo() = default;

    // Buffer-get operations: `size` holds the capacity of `buf` on entry. Answer 0: `buf` holds
    // NUL-terminated text. Answer 2: the buffer is too small and `size` now holds the size
    // needed. Answer 1: the host could not supply the value.
    virtual int32_t getSnapUUID(char* buf, int16_t& size) = 0;
    virtual int32_t getArrayInfo(char* buf, int16_t& size) = 0;

    // `target` is a target id, or an array name and a target id joined by '|'. 0 means the
    // host knows the array of the target (first form) or accepted the pairing (second form).
    virtual int32_t findArrayHost(const char* target) = 0;

    // 1 = failed; otherwise `buf` holds the ESX server's identifier as key-value text.
    virtual int32_t getHostIdentifier(char* buf, int16_t& size) = 0;

    // Non-zero when the request carries the option (only OPTION_HYPERV is asked).
    virtual int32_t checkOption(uint32_t mask) = 0;

    virtual int32_t getSnapStatus() = 0;
    virtual void setSnapStatus(int32_t status) = 0;

    // The source device: a device path, or a key-value description of a VMware or NFS device.
    virtual int32_t getDevice(char* buf, int16_t& size) = 0;
    virtual int32_t getSnapDevice(char* buf, int16_t& size) = 0;
    virtual void setSnapDevice(const char* device) = 0;

    // kind META_SNAPSHOT or META_TRANS; buffer-get.
    virtual int32_t getMetaData(int32_t kind, char* buf, int16_t& size) = 0;
    // kind META_SNAPSHOT; null clears the metadata.
    virtual void setMetaData(int32_t kind, const char* text) = 0;

    // The error the host shows for the whole operation.
    virtual void setError(int32_t code, const char* message) = 0;

    // level 0 milestone, 1 detail, 2 failure or warning; `header` names the function.
    virtual void log(int32_t level, const char* header, const char* format, ...)
        __attribute__((format(printf, 4, 5))) = 0;

    // 0 = found.
    virtual int32_t getConfigInt(const char* name, int32_t& value) = 0;
    virtual int32_t getConfigString(const char* name, char* buf, int16_t& size) = 0;

    // kind META_TRANS.
    virtual void setTransMetaData(int32_t kind, const char* text) = 0;

    // Only used in failure messages.
    virtual int32_t getSnapId() = 0;

    // Non-zero when a value was supplied.
    virtual int32_t getSnapProperty(int32_t id, std::string& value) = 0;

    // 255 bytes of cached INQUIRY data for page 0 (standard) or 0x83, or null when the host
    // holds none; the pointer stays owned by the host.
    virtual const unsigned char* getInquiryData(int32_t page) = 0;

    virtual void setTargetId(const char* targetId) = 0;
    virtual void setLunId(const char* lunId) = 0;
};

}  // namespace KYSO
