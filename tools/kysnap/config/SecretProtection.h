// SPDX-License-Identifier: Apache-2.0
// SecretProtection: keeps the array passwords kysnap holds out of reach of other processes and
// out of crash dumps. A core file, or a debugger attached by another user, would show the
// password, its base64 and the base64 of "user:password" in kysnap's memory and in the
// plug-in's and libcurl's.
#pragma once

#include <string>

namespace kysnap {

// Makes this process non-dumpable (no core file, no ptrace or /proc/PID/mem access by
// processes without CAP_SYS_PTRACE) and lowers its core file limit to 0, for the rest of its
// life. Called before any password is read. False with `error` set when the kernel refuses;
// a command then reads no password.
bool protectSecretsOfThisProcess(std::string& error);

}  // namespace kysnap
