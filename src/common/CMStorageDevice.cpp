// SPDX-License-Identifier: Apache-2.0
#include "CMStorageDevice.h"

std::string CMStorageDevice::print() const {
    std::string text;
    for (const auto& [name, value] : properties_) {
        text += name;
        text += ':';
        text += value;
        text += '\n';
    }
    return text;
}
