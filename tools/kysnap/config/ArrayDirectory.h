// SPDX-License-Identifier: Apache-2.0
// ArrayDirectory: the arrays this host knows (from its configuration, with their passwords)
// and the host's record of which array serves which target (kept in the catalog). It answers
// the plug-in's questions about arrays: the list, each one's information text, and whether the
// array of a target is known.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "SecretMemory.h"

namespace kysnap {

struct ArrayAccess {
    std::string name;
    std::string address;  // host, host:port, [IPv6] or [IPv6]:port
    std::string user;
    std::string password;  // zeroed when the access is destroyed
    std::string caFile;    // what the sim backend's host view trusts
    ~ArrayAccess() { kyplatform::wipeSecret(password); }
};

class ArrayDirectory {
public:
    // `targets` (target id -> array name) is borrowed: new pairings are written into it.
    ArrayDirectory(std::vector<ArrayAccess> arrays, std::map<std::string, std::string>& targets);

    const std::vector<ArrayAccess>& arrays() const { return arrays_; }
    const ArrayAccess* find(const std::string& name) const;
    // The array the host has paired with `target`, when it is still configured.
    const ArrayAccess* forTarget(const std::string& target) const;
    void pair(const std::string& target, const std::string& arrayName);
    // The only configured array, or null when there are none or several.
    const ArrayAccess* only() const;
    // The array named `server`, or the only one whose address has `server` as its host.
    const ArrayAccess* forServer(const std::string& server) const;

    // The array information text the plug-in reads for `array`. Holds the password: it goes
    // only to the plug-in, never to output or the catalog.
    static std::string infoText(const ArrayAccess& array);

private:
    std::vector<ArrayAccess> arrays_;
    std::map<std::string, std::string>& targets_;
};

// The host part of an address "host", "host:port", "[IPv6]" or "[IPv6]:port" (an IPv6 address
// without its brackets); the port (443 when absent).
std::string addressHost(const std::string& address);
int addressPort(const std::string& address);

}  // namespace kysnap
