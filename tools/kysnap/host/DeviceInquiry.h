// SPDX-License-Identifier: Apache-2.0
// DeviceInquiry: INQUIRY of one host device through libkyplatform's device provider (SG_IO,
// or the simulated devices a backend installs), as the plug-in sends it.
#pragma once

#include <string>
#include <vector>

namespace kysnap {

// Sends one INQUIRY (standard data, or the VPD page `page` when `evpd`) to `device`; `data`
// holds the answer. False with `why` set when the device cannot be opened or does not answer.
bool inquire(const std::string& device, bool evpd, unsigned int page,
             std::vector<unsigned char>& data, std::string& why);

// The LUN id and target id of page 0x83, decoded as the plug-in decodes them. False with
// `why` set when the page is not answered.
bool identifyDevice(const std::string& device, std::string& lunId, std::string& targetId,
                    std::string& why);

}  // namespace kysnap
