// SPDX-License-Identifier: Apache-2.0
// HostBackend: the host's OS utility as kysnap provides it, over a simulated host (sim) or
// this machine (linux). Besides answering the plug-in, a backend says what it met: every
// failure it could not hide from the plug-in becomes one message in problems(), which kysnap
// prints with the operation's result.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ArrayDirectory.h"
#include "HostConfig.h"
#include "HostUtil.h"

namespace kysnap {

class HostBackend : public hostkit::HostUtil {
public:
    // The array information texts hold the passwords: they are zeroed.
    ~HostBackend() override;

    // Messages for the person running kysnap, in the order met, without repeats.
    const std::vector<std::string>& problems() const { return problems_; }
    // The devices the plug-in asked to have removed (in a rescan after an unmap) that are, in
    // whole or in part, still on the host.
    const std::vector<std::string>& devicesLeft() const { return devicesLeft_; }

    // The backend's name ("sim" or "linux") and the host's name.
    virtual std::string kind() const = 0;
    virtual std::string hostName() const = 0;
    // The host's initiators; false with `why` set when it has none or they cannot be read.
    virtual bool initiators(std::vector<hostkit::Initiator>& list, std::string& why) = 0;
    // The host's devices of the array family, after a rescan when `rescanFirst`; false with
    // `why` set when they cannot be listed.
    virtual bool arrayDevices(bool rescanFirst, std::vector<std::string>& devices,
                              std::string& why) = 0;

    // A file that holds the device's bytes, readable and writable like the device, when the
    // backend has one (the sim backend, when the simulator keeps data); "" otherwise. Known
    // after arrayDevices().
    virtual std::string dataPath(const std::string& /*device*/) const { return ""; }
    // An NFS export ("server:/mount/point") and the directory tree holding its files.
    struct ShareData {
        std::string share;
        std::string dataPath;
    };
    // The exports whose files the backend can reach so (none by default). Known after
    // arrayDevices().
    virtual std::vector<ShareData> shareData() const { return {}; }

protected:
    void problem(const std::string& message);
    void deviceLeft(const std::string& device) { devicesLeft_.push_back(device); }
    // True when `host`, as the plug-in names it, is this host: empty, or its own name (the
    // plug-in passes the system's host name when it rescans for itself).
    bool isLocal(const std::string& host) const;

    bool listLocalInitiators(std::vector<hostkit::Initiator>& list) override;

private:
    std::vector<std::string> problems_;
    std::vector<std::string> devicesLeft_;
};

// The backend the configuration names; for sim, its host view reaches `arrays`.
std::unique_ptr<HostBackend> makeBackend(const HostConfig& config,
                                         const std::vector<ArrayAccess>& arrays);

// The system's host name ("" when it has none).
std::string systemHostName();

}  // namespace kysnap
