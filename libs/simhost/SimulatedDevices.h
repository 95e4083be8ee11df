// SPDX-License-Identifier: Apache-2.0
// SimulatedDevices: block devices that exist only in memory, for a host without the real
// thing. Each answers INQUIRY (standard data and page 0x83) from the buffers it was given, and
// can be told to be no SCSI device, to fail its commands or to throw from them.
//
// Install one with kyplatform::setDeviceProvider (Installation does it for a scope); the
// plug-in then reaches these devices through KyDeviceTree. Thread-safe.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceProvider.h"
#include "KyDeviceTree.h"

namespace simhost {

struct SimulatedDevice {
    // Page answers; an empty one makes the device refuse that page.
    std::vector<unsigned char> standard;  // page 0
    std::vector<unsigned char> page83;    // page 0x83
    bool scsi = true;                     // offers "KyDeviceScsiIface"
    bool failCommands = false;            // every command answers -1
    bool throwFromCommands = false;       // every command throws std::runtime_error
};

class SimulatedDevices : public kyplatform::DeviceProvider {
public:
    // Replaces the whole set, or one device.
    void setDevices(std::map<std::string, SimulatedDevice> devices);
    void setDevice(const std::string& name, SimulatedDevice device);
    std::vector<std::string> names() const;
    // Every CDB sent, in order, with the device it went to.
    std::vector<std::pair<std::string, std::vector<unsigned char>>> commands() const;
    int lookups() const;

    SP<KyDevice> getDevice(const std::string& name, CLmError* error) override;

    // Installs the provider for its lifetime and restores the previous one after.
    class Installation {
    public:
        explicit Installation(SimulatedDevices& devices)
            : previous_(kyplatform::setDeviceProvider(&devices)) {}
        ~Installation() { kyplatform::setDeviceProvider(previous_); }
        Installation(const Installation&) = delete;
        Installation& operator=(const Installation&) = delete;

    private:
        kyplatform::DeviceProvider* previous_;
    };

    // Called by the devices' SCSI interfaces.
    int answer(const std::string& name, const unsigned char* cdb, unsigned int cdbLength,
               unsigned char* data, unsigned int dataLength, CLmError* error);

private:
    mutable std::mutex mutex_;
    std::map<std::string, SimulatedDevice> devices_;
    std::vector<std::pair<std::string, std::vector<unsigned char>>> commands_;
    int lookups_ = 0;
};

// INQUIRY buffers of 255 bytes, as an IntelliFlash LUN answers them.
std::vector<unsigned char> standardInquiryData(const std::string& vendor,
                                               const std::string& product);
// `lunId` is 32 hex digits; the target name follows as the second designator.
std::vector<unsigned char> identificationPageData(const std::string& lunId,
                                                  const std::string& targetId);
// Lower- or upper-case hex text to bytes; false when it is not hex of even length.
bool hexBytes(const std::string& hex, std::vector<unsigned char>& bytes);

}  // namespace simhost
