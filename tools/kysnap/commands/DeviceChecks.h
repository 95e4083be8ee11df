// SPDX-License-Identifier: Apache-2.0
// DeviceChecks: the IntelliFlash devices the host sees, identified as the plug-in will before
// vpd and prepare (page 0x83, then the configured arrays' targets and volumes), and the line
// `kysnap check` prints for each.
#pragma once

#include <string>
#include <vector>

#include "ArrayProbe.h"
#include "CheckLines.h"
#include "HostConfig.h"
#include "LunIdentity.h"

namespace kysnap {

// A target of a configured array, and where it is listed.
struct ArrayTarget {
    std::string group;
    std::string protocol;  // "FC" or "ISCSI"
    std::string target;
};

// An IntelliFlash device the host sees, identified as the plug-in will before vpd and
// prepare: its page 0x83 target id must be a target of a configured array (of the protocol its
// name says), and its LUN id a volume of that array. The arrays are asked one at a time, each
// while its password is held.
struct DeviceIdentity {
    std::string device;
    std::string unreadable;  // why page 0x83 could not be read
    std::string lunId;
    std::string targetId;
    std::string protocol;  // "FC" or "ISCSI", as the plug-in decides from the target id
    bool owned = false;    // a configured array lists the target
    bool volume = false;   // and the LUN is one of its volumes
    bool asked = true;     // false when the owning array could not be asked about the LUN
    std::string verdict;   // what that array said
    LunIdentity identity;  // by its standard INQUIRY
};

// Reads the device's page 0x83 and standard INQUIRY.
DeviceIdentity readIdentity(const std::string& device);

// When `targets` (those of array `arrayName`) hold the device's target, marks it owned and
// asks the array, through `probe`, whether its LUN is a volume there. An answer that cannot
// be read leaves the device not asked: it is then neither blamed nor called good.
void judgeOnArray(DeviceIdentity& device, const ArrayProbe& probe, const std::string& arrayName,
                  const std::vector<ArrayTarget>& targets);

// `unasked` names each configured array whose targets could not be read, and why: a device
// none of the others presents may be one of theirs, so the configuration is not blamed.
void reportDevice(CheckLines& lines, const DeviceIdentity& device, const HostConfig& config,
                  const std::vector<std::string>& unasked);

}  // namespace kysnap
