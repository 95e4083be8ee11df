// SPDX-License-Identifier: Apache-2.0
#include "ArrayDirectory.h"

#include <cstdlib>

namespace kysnap {

ArrayDirectory::ArrayDirectory(std::vector<ArrayAccess> arrays,
                               std::map<std::string, std::string>& targets)
    : arrays_(std::move(arrays)), targets_(targets) {}

const ArrayAccess* ArrayDirectory::find(const std::string& name) const {
    for (const ArrayAccess& array : arrays_) {
        if (array.name == name) {
            return &array;
        }
    }
    return nullptr;
}

const ArrayAccess* ArrayDirectory::forTarget(const std::string& target) const {
    auto it = targets_.find(target);
    return it == targets_.end() ? nullptr : find(it->second);
}

void ArrayDirectory::pair(const std::string& target, const std::string& arrayName) {
    targets_[target] = arrayName;
}

const ArrayAccess* ArrayDirectory::only() const {
    return arrays_.size() == 1 ? &arrays_.front() : nullptr;
}

const ArrayAccess* ArrayDirectory::forServer(const std::string& server) const {
    if (const ArrayAccess* named = find(server)) {
        return named;
    }
    const ArrayAccess* match = nullptr;
    for (const ArrayAccess& array : arrays_) {
        if (addressHost(array.address) == server) {
            if (match != nullptr) {
                return nullptr;  // ambiguous: the caller must name the array
            }
            match = &array;
        }
    }
    return match;
}

std::string ArrayDirectory::infoText(const ArrayAccess& array) {
    // The password is followed by ",engineName:" so that the plug-in can mask it in its log.
    return "{arrayName:" + array.name + ",arrayId:" + array.address +
           ",hostUserName:" + array.user + ",hostPassword:" + array.password +
           ",engineName:kysnap}";
}

namespace {

// Where the port's ':' may start: after the closing bracket of an IPv6 address, whose own
// colons are no port.
size_t portSearchStart(const std::string& address) {
    if (address.empty() || address.front() != '[') {
        return 0;
    }
    const size_t close = address.find(']');
    return close == std::string::npos ? address.size() : close + 1;
}

}  // namespace

std::string addressHost(const std::string& address) {
    if (portSearchStart(address) > 0) {
        const size_t close = address.find(']');
        return address.substr(1, close == std::string::npos ? close : close - 1);
    }
    const size_t colon = address.rfind(':');
    return colon == std::string::npos ? address : address.substr(0, colon);
}

int addressPort(const std::string& address) {
    const size_t colon = address.rfind(':');
    return colon == std::string::npos || colon < portSearchStart(address)
               ? 443
               : std::atoi(address.c_str() + colon + 1);
}

}  // namespace kysnap
