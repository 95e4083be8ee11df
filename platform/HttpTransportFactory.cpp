// SPDX-License-Identifier: Apache-2.0
#include <atomic>

#include "CurlHttpTransport.h"
#include "HttpTransport.h"

namespace kyplatform {
namespace {
std::atomic<HttpTransportFactory*> g_factory{nullptr};
}

HttpTransportFactory* setHttpTransportFactory(HttpTransportFactory* factory) {
    return g_factory.exchange(factory);
}

HttpTransportFactory& httpTransportFactory() {
    if (HttpTransportFactory* factory = g_factory.load()) {
        return *factory;
    }
    return curlHttpTransportFactory();
}

}  // namespace kyplatform
