// SPDX-License-Identifier: Apache-2.0
#include "HostBackend.h"

#include <unistd.h>

#include <algorithm>

#include "LinuxBackend.h"
#include "SecretMemory.h"
#include "SimBackend.h"

namespace kysnap {

HostBackend::~HostBackend() {
    for (auto& [name, info] : arrayInfoByName) {
        kyplatform::wipeSecret(info);
    }
}

void HostBackend::problem(const std::string& message) {
    if (std::find(problems_.begin(), problems_.end(), message) == problems_.end()) {
        problems_.push_back(message);
    }
}

bool HostBackend::isLocal(const std::string& host) const {
    return host.empty() || host == systemHostName() || host == hostName();
}

bool HostBackend::listLocalInitiators(std::vector<hostkit::Initiator>& list) {
    std::string why;
    if (!initiators(list, why)) {
        problem(why);
        return false;
    }
    return true;
}

std::unique_ptr<HostBackend> makeBackend(const HostConfig& config,
                                         const std::vector<ArrayAccess>& arrays) {
    if (config.backend == BackendKind::Linux) {
        return std::make_unique<LinuxBackend>(config);
    }
    return std::make_unique<SimBackend>(config, arrays);
}

std::string systemHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return std::string();
    }
    return name;
}

}  // namespace kysnap
