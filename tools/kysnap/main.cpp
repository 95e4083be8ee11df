// kysnap: a host for the snapshot plug-in. It loads libKySnapTegile.so with dlopen, the way a
// backup agent does, and runs its operations from the command line.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "KysoExports.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: kysnap [--plugin PATH] version\n"
                 "  version   load the plug-in and print the version it reports\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string plugin = KYSNAP_DEFAULT_PLUGIN;
    std::string command;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc) {
            plugin = argv[++i];
        } else if (command.empty()) {
            command = argv[i];
        } else {
            return usage();
        }
    }
    if (command != "version") {
        return usage();
    }

    void* handle = dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "kysnap: cannot load %s: %s\n", plugin.c_str(), dlerror());
        return 1;
    }
    auto version = reinterpret_cast<KYSO::VersionFn>(dlsym(handle, "kyso_version"));
    if (version == nullptr) {
        std::fprintf(stderr, "kysnap: %s exports no kyso_version\n", plugin.c_str());
        dlclose(handle);
        return 1;
    }
    int16_t major = -1, minor = -1, patch = -1;
    version(&major, &minor, &patch);
    std::printf("%s: plug-in version %d.%d.%d\n", plugin.c_str(), major, minor, patch);
    dlclose(handle);
    return 0;
}
