// SPDX-License-Identifier: Apache-2.0
#include "Passwords.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "BoundedFile.h"
#include "SecretMemory.h"

namespace kysnap {

namespace {

std::string octalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

bool readFile(const ArrayConfig& array, std::string& password, std::string& error) {
    const std::string& path = array.passwordFile;
    const std::string where = "array " + array.name + ": password file " + path;
    // A link to a protected file is fine: the target is what is read and checked.
    constexpr size_t kLimit = 65536;
    BoundedRead file;
    // The file's text holds the password too, whichever way this returns.
    const kyplatform::WipeAtScopeEnd wiped(file.text);
    if (!readBoundedFile(path, where, Links::Follow, kLimit, file, error)) {
        return false;
    }
    const struct stat& info = file.info;
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = where + " can be read or written by group or others (mode " +
                octalMode(info.st_mode) + "); run: chmod 600 " + path;
        return false;
    }
    const std::string& text = file.text;
    // The password is the first line; a trailing newline (as editors write) is not part of it.
    password = text.substr(0, text.find('\n'));
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    if (password.empty()) {
        error = where + " is empty";
        return false;
    }
    return true;
}

}  // namespace

bool readPassword(const ArrayConfig& array, std::string& password, std::string& error) {
    password.clear();
    if (!array.passwordFile.empty()) {
        if (!readFile(array, password, error)) {
            return false;
        }
    } else {
        const char* value = std::getenv(array.passwordEnv.c_str());
        if (value == nullptr || *value == '\0') {
            error = "array " + array.name + ": the variable " + array.passwordEnv +
                    " (password-env) is not set";
            return false;
        }
        password = value;
    }
    if (password.find_first_of(",{}\r\n") != std::string::npos) {
        kyplatform::wipeSecret(password);
        error = "array " + array.name +
                ": the password holds ',', '{', '}' or a line break, which the array "
                "information the plug-in reads cannot carry; choose another password";
        return false;
    }
    return true;
}

}  // namespace kysnap
