// SPDX-License-Identifier: Apache-2.0
// CMStorageDevice: the properties of one source or target device, as named text values.
// Every layer reads the names it needs from the map and writes its results into it.
#pragma once

#include <map>
#include <string>

class CMStorageDevice {
public:
    using Properties = std::map<std::string, std::string>;

    // Readers use operator[], so reading an absent name adds it with an empty value.
    Properties& getProperties() { return properties_; }
    const Properties& getProperties() const { return properties_; }

    // One "name:value\n" line per property in name order; empty for an empty map.
    std::string print() const;

private:
    Properties properties_;
};
