// SPDX-License-Identifier: Apache-2.0
#include "DeviceProvider.h"
#include "KyDeviceTree.h"

#include <atomic>

namespace {
std::atomic<kyplatform::DeviceProvider*> g_provider{nullptr};
}

SP<KyDevice> KyDeviceTree::getDevice(const std::string& name, CLmError* error) {
    kyplatform::DeviceProvider* provider = g_provider.load();
    return provider != nullptr ? provider->getDevice(name, error)
                               : kyplatform::sgioDeviceProvider().getDevice(name, error);
}

namespace kyplatform {
DeviceProvider* setDeviceProvider(DeviceProvider* provider) {
    return g_provider.exchange(provider);
}
}  // namespace kyplatform
