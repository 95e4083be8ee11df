// SPDX-License-Identifier: Apache-2.0
// ArrayChecks: `kysnap check`'s checks of one configured array: its password, that it is
// reachable, its certificate, the credentials and API version, its target groups and the
// groups of the host's initiators. The host's devices are judged against its targets while
// its password is held.
#pragma once

#include <string>
#include <vector>

#include "CheckLines.h"
#include "DeviceChecks.h"
#include "HostConfig.h"
#include "HostUtil.h"

namespace kysnap {

// Each probe waits at most this long, so that a whole check stays well under half a minute.
constexpr int kProbeSeconds = 5;

// Checks one array and judges `devices` against its targets. Returns why its targets could
// not all be read ("" when they were).
std::string checkArray(CheckLines& lines, const ArrayConfig& configured, const HostConfig& config,
                       const std::vector<hostkit::Initiator>& initiators,
                       std::vector<DeviceIdentity>& devices);

}  // namespace kysnap
