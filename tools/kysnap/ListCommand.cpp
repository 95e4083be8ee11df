#include "ListCommand.h"

#include <cstdio>

#include "Session.h"
#include "StatusNames.h"
#include "VisibleText.h"

namespace kysnap {

int runList(const Options& options) {
    std::string error;
    auto session = Session::open(options, {true, false, false, false}, error);
    if (!session) {
        std::fprintf(stderr, "kysnap: %s\n", error.c_str());
        return kExitCannotRun;
    }
    const Catalog& catalog = session->catalog;
    if (options.json) {
        std::printf("%s", catalog.toJson().c_str());
        return 0;
    }
    std::printf("catalog %s\n", session->store->path().c_str());
    std::printf("prepared devices: %zu\n", catalog.devices.size());
    for (const auto& [device, prepared] : catalog.devices) {
        std::printf("  %s on %s: %s\n", visibleText(device).c_str(),
                    visibleText(prepared.array).c_str(), statusName(prepared.status).c_str());
    }
    std::printf("snapshots: %zu\n", catalog.snapshots.size());
    for (const SnapshotRecord& record : catalog.snapshots) {
        std::printf("  %s  %s on %s: %s", visibleText(record.name).c_str(),
                    visibleText(record.device).c_str(), visibleText(record.array).c_str(),
                    statusName(record.status).c_str());
        if (record.state != RecordState::Created) {
            std::printf(" [%s: kysnap reconcile settles it]", stateName(record.state));
        }
        if (!record.mountedDevice.empty()) {
            const size_t start = record.mountedDevice.find_first_not_of(' ');
            std::printf(
                ", mounted as %s",
                visibleText(record.mountedDevice.substr(start == std::string::npos ? 0 : start))
                    .c_str());
        }
        // The metadata holds the array's names.
        std::printf("\n      metadata: %s\n", visibleText(record.metadata).c_str());
    }
    return 0;
}

}  // namespace kysnap
