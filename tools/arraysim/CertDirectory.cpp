// SPDX-License-Identifier: Apache-2.0
#include "CertDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace arraysim {

namespace {

// An environment variable that names an absolute directory; empty otherwise (a relative one
// would depend on where the program happens to start, so it is ignored as XDG says).
std::string absoluteDirectoryFrom(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return value;
}

}  // namespace

std::string defaultCertDirectory() {
    const std::string state = absoluteDirectoryFrom("XDG_STATE_HOME");
    if (!state.empty()) {
        return (std::filesystem::path(state) / "arraysim" / "tls").string();
    }
    const std::string home = absoluteDirectoryFrom("HOME");
    if (!home.empty()) {
        return (std::filesystem::path(home) / ".local" / "state" / "arraysim" / "tls").string();
    }
    const std::string runtime = absoluteDirectoryFrom("XDG_RUNTIME_DIR");
    if (!runtime.empty()) {
        return (std::filesystem::path(runtime) / "arraysim" / "tls").string();
    }
    std::error_code ignored;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ignored);
    if (temp.empty()) {
        temp = "/tmp";
    }
    return (temp / ("arraysim-tls-" + std::to_string(geteuid()))).string();
}

bool preparePrivateDirectory(const std::string& directory, std::string& error) {
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            error = "cannot inspect " + directory + ": " + std::strerror(errno);
            return false;
        }
        std::error_code ec;
        const std::filesystem::path parent = std::filesystem::path(directory).parent_path();
        if (!parent.empty()) {
            std::filesystem::create_directories(parent, ec);
        }
        if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + directory + ": " + std::strerror(errno);
            return false;
        }
        if (::lstat(directory.c_str(), &info) != 0) {
            error = "cannot inspect " + directory + ": " + std::strerror(errno);
            return false;
        }
    }
    if (S_ISLNK(info.st_mode)) {
        error = directory + " is a symbolic link; certificates are kept only in a real directory";
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = directory + " is not a directory";
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = directory + " belongs to user id " + std::to_string(info.st_uid) +
                ", not to this user (id " + std::to_string(::geteuid()) +
                "); another user could replace the CA that clients trust";
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        error = directory + " is writable by its group or by others (mode " + mode +
                "); another user could replace the CA that clients trust (chmod go-w)";
        return false;
    }
    return true;
}

}  // namespace arraysim
