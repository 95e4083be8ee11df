#include "Passwords.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    // O_NOFOLLOW-free on purpose: a link to a protected file is fine, its target is checked.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = where + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        error = where + " is not a regular file";
        return false;
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        close(fd);
        error = where + " can be read or written by group or others (mode " +
                octalMode(info.st_mode) + "); run: chmod 600 " + path;
        return false;
    }
    std::string text;
    char buffer[512];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 && text.size() < 65536) {
        text.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    // The read buffers held the password too.
    kyplatform::wipeSecret(buffer, sizeof buffer);
    const kyplatform::WipeAtScopeEnd wiped(text);
    if (got < 0) {
        error = where + ": " + std::strerror(errno);
        return false;
    }
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
