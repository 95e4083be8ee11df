// SPDX-License-Identifier: Apache-2.0
// The plug-in as a host sees it: loaded with dlopen, entry points resolved by name, batch
// calls made with the host's request array.
#pragma once

#include <dlfcn.h>

#include <string>
#include <vector>

#include "KysoExports.h"
#include "TestSnapInfo.h"

namespace site {

class LoadedPlugin {
public:
    explicit LoadedPlugin(const char* path = KYSNAP_PLUGIN_PATH)
        : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedPlugin() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    void* symbol(const char* name) const { return dlsym(handle_, name); }
    template <typename Fn>
    Fn fn(const char* name) const {
        return reinterpret_cast<Fn>(symbol(name));
    }

    // Calls the batch export `name` with `batch` as the host's request array.
    KYSO::ResultCode batch(const char* name, const std::vector<testhost::TestSnapInfo*>& batch,
                           KYSO::KYOSUtil* util) const {
        std::vector<KYSO::SnapInfo*> requests(batch.begin(), batch.end());
        return fn<KYSO::BatchFn>(name)(requests.data(), static_cast<int16_t>(requests.size()),
                                       util);
    }

private:
    void* handle_;
};

}  // namespace site
