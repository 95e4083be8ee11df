// SPDX-License-Identifier: Apache-2.0
// End-to-end tests: the built plug-in, loaded with dlopen and driven only through its
// exported functions, over HTTPS with verification on, against array simulators on loopback,
// with the host's devices simulated from what the arrays map to its initiators.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ArraySite.h"
#include "LoadedPlugin.h"
#include "PlatformFakes.h"

namespace e2e {

using testhost::TestSnapInfo;
using Batch = std::vector<TestSnapInfo*>;

inline const char* const kSnapName = "KY-20261209T024100Z-1";

// Whether the plug-in's calls remember array answers: not with KYSNAP_CALL_MEMORY=off, under
// which the suite runs once more (e2e.WithoutCallMemory).
inline bool callMemoryOn() {
    const char* memory = std::getenv("KYSNAP_CALL_MEMORY");
    return memory == nullptr || std::string(memory) != "off";
}

// A seed edit: esx-small becomes visible to db-host-fc too, so one FC host sees three volumes.
inline void mapEsxSmallToDbHost(jsonxx::Object& seed) {
    jsonxx::Array& mappings = seed.get<jsonxx::Array>("mappings");
    jsonxx::Object mapping;
    mapping.import("datasetPath", "pool-a/Local/vmware/esx-small");
    mapping.import("initiatorGroup", "db-host-fc");
    mapping.import("targetGroup", "default-fc-target-group");
    mappings.append(mapping);
}

class PluginSite : public ::testing::Test, public site::ArraySite {
protected:
    void SetUp() override { ASSERT_TRUE(plugin.loaded()) << dlerror(); }

    KYSO::ResultCode call(const char* name, const Batch& batch) {
        return plugin.batch(name, batch, &util);
    }
    // Calls `name`, expecting `result`, then makes what it stored the next call's input.
    void step(const char* name, const Batch& batch, KYSO::ResultCode result) {
        ASSERT_EQ(call(name, batch), result) << name << "\n" << batch.front()->logText();
        carryOver(batch);
    }
    // Brings `batch` on `array` to the state the export `name` starts from: for process-VPD a
    // host that knows the array only once it is paired with its target; for prepare nothing;
    // for unmount prepared, snapshotted and mounted; for the others prepared and snapshotted.
    void readyFor(const std::string& name, const site::SiteArray& array, const Batch& batch) {
        if (name == "kyso_processVPDInfo") {
            for (TestSnapInfo* request : batch) {
                request->findArrayHostDefault = 1;
                request->findArrayHostAnswers[array.name + "|" + site::kFcTarget] = 0;
            }
            return;
        }
        if (name == "kyso_prepareDevices") {
            return;
        }
        step("kyso_prepareDevices", batch, KYSO::RESULT_SUCCESS);
        if (name == "kyso_snapDevices") {
            return;
        }
        step("kyso_snapDevices", batch, KYSO::RESULT_SUCCESS);
        if (name == "kyso_unmapSnaps") {
            step("kyso_mapSnaps", batch, KYSO::RESULT_SUCCESS);
            for (TestSnapInfo* request : batch) {
                if (!request->snapDevicesSet.empty()) {
                    request->snapDevice = request->snapDevicesSet.back();
                }
            }
        }
    }
    // Requests for the block devices of `luns` on `array`, whose array the host knows; the
    // host names their snapshots `prefix`-1, `prefix`-2, ...
    Batch volumes(const site::SiteArray& array, const std::vector<const char*>& luns,
                  const std::string& prefix = kSnapName) {
        Batch batch;
        for (const char* lun : luns) {
            TestSnapInfo& request = newRequest(array, simhost::SimulatedHost::deviceName(lun),
                                               prefix + "-" + std::to_string(batch.size() + 1));
            request.findArrayHostDefault = 0;
            batch.push_back(&request);
        }
        return batch;
    }
    // The statuses of the batch, in order.
    static std::vector<int32_t> statuses(const Batch& batch) {
        std::vector<int32_t> values;
        for (const TestSnapInfo* request : batch) {
            values.push_back(request->status);
        }
        return values;
    }
    static uint64_t requestsOf(const site::SiteArray& array, const std::string& method) {
        const jsonxx::Object counters = array.simulator->counters();
        const jsonxx::Object& methods = counters.get<jsonxx::Object>("methods");
        return methods.has<jsonxx::Number>(method)
                   ? static_cast<uint64_t>(methods.get<jsonxx::Number>(method))
                   : 0;
    }
    // The datasets of the array's state whose field `member` holds `fragment`.
    std::vector<jsonxx::Object> datasetsWith(const site::SiteArray& array, const char* kind,
                                             const char* member, const std::string& fragment) {
        std::vector<jsonxx::Object> found;
        const jsonxx::Object whole = state(array);
        const jsonxx::Array& list = whole.get<jsonxx::Array>(kind);
        for (size_t i = 0; i < list.size(); ++i) {
            const jsonxx::Object& dataset = list.get<jsonxx::Object>(i);
            if (dataset.has<jsonxx::String>(member) &&
                dataset.get<jsonxx::String>(member).find(fragment) != std::string::npos) {
                found.push_back(dataset);
            }
        }
        return found;
    }
    // Every mapping of the array's state to a dataset path holding `fragment`.
    std::vector<jsonxx::Object> mappingsOf(const site::SiteArray& array,
                                           const std::string& fragment) {
        std::vector<jsonxx::Object> found;
        const jsonxx::Object whole = state(array);
        const jsonxx::Array& list = whole.get<jsonxx::Array>("mappings");
        for (size_t i = 0; i < list.size(); ++i) {
            const jsonxx::Object& mapping = list.get<jsonxx::Object>(i);
            if (mapping.get<jsonxx::String>("datasetPath").find(fragment) != std::string::npos) {
                found.push_back(mapping);
            }
        }
        return found;
    }
    // Whether any dataset of the array still holds a snapshot whose name contains `fragment`.
    bool holdsSnapshot(const site::SiteArray& array, const std::string& fragment) {
        const jsonxx::Object whole = state(array);
        for (const char* kind : {"volumes", "shares"}) {
            const jsonxx::Array& list = whole.get<jsonxx::Array>(kind);
            for (size_t i = 0; i < list.size(); ++i) {
                const jsonxx::Object& dataset = list.get<jsonxx::Object>(i);
                if (!dataset.has<jsonxx::Array>("snapshots")) {
                    continue;
                }
                if (dataset.get<jsonxx::Array>("snapshots").json().find(fragment) !=
                    std::string::npos) {
                    return true;
                }
            }
        }
        return false;
    }

    site::LoadedPlugin plugin;
    testhost::RecordingSleeper sleeper;
};

}  // namespace e2e
