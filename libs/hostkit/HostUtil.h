// SPDX-License-Identifier: Apache-2.0
// HostUtil: the host's OS utility (KYSO::KYOSUtil) over a few questions a concrete host
// answers: which devices of a vendor it sees, which initiators it has, and how it rescans.
// HostUtil does the conventions (size-reporting lists, two-phase initiator lists, array
// descriptions) and keeps a record of every rescan and device-list query. The configured
// arrays are public fields. The test host and the kysnap CLI's backends build on it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "HostTypes.h"
#include "KYOSUtil.h"

namespace hostkit {

class HostUtil : public KYSO::KYOSUtil {
public:
    // ---- inputs ----
    std::vector<std::string> arrayNames;                 // in the order configured
    std::map<std::string, std::string> arrayInfoByName;  // name -> key-value text

    // ---- outputs ----
    std::vector<RescanRecord> rescans;
    std::vector<std::string> deviceListQueries;  // host of each getDeviceList ("" = local)

    // ---- KYSO::KYOSUtil ----
    bool refreshBus(const char* host, const char** initiators, const char** devices) override;
    int32_t getDeviceList(const char* host, const char* vendor, char separator, int32_t size,
                          char* buf) override;
    int32_t getArrayListByID(const char* arrayType, char separator, int32_t size,
                             char* buf) override;
    int32_t getLocalHbaList(const char* reserved, const char* arrayHost, char* names,
                            int16_t& namesLength, char* flags, int16_t& flagsLength,
                            int16_t& count) override;
    int32_t getArrayInfoByName(const char* arrayName, char* buf, int16_t& size) override;
    int32_t getRemoteHbaList(const char* esxHost, const char* arrayHost, char* names,
                             int16_t& namesLength, char* flags, int16_t& flagsLength,
                             int16_t& count) override;

protected:
    // Rescans as `record` asks (it is already recorded); false when the rescan failed.
    virtual bool rescan(const RescanRecord& record) = 0;
    // The devices of `vendor` on `host` ("" = local) into `names`; false when they cannot be
    // listed (the plug-in then sees an error answer).
    virtual bool listDevices(const std::string& host, const std::string& vendor,
                             std::vector<std::string>& names) = 0;
    // The initiators of this host, or of the ESX server `esxHost`; false when they cannot be
    // read (the plug-in then sees no initiators). A host without ESX servers keeps the default.
    virtual bool listLocalInitiators(std::vector<Initiator>& initiators) = 0;
    virtual bool listRemoteInitiators(const std::string& esxHost,
                                      std::vector<Initiator>& initiators);
};

}  // namespace hostkit
