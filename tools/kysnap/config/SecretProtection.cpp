// SPDX-License-Identifier: Apache-2.0
#include "SecretProtection.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

namespace kysnap {

bool protectSecretsOfThisProcess(std::string& error) {
    // Both: the limit alone leaves ptrace and a core_pattern pipe, which ignores it.
    const rlimit noCore{0, 0};
    if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0 || setrlimit(RLIMIT_CORE, &noCore) != 0) {
        error = std::string("cannot keep the array passwords out of core dumps: ") +
                std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace kysnap
