// SPDX-License-Identifier: Apache-2.0
// The failure-path sweep: each lifecycle is run once to count its array calls, then again
// once per call k with exactly the k-th call failing (an HTTP error; a dropped connection; a
// connection dropped after the array did the work). Every run must end with clean result codes,
// metadata stored exactly for the requests that succeeded, and an array that a later unmount and
// delete leave clean.
//
// CTest runs a sample of k; KYSNAP_SWEEP=all runs every k (see docs/failures.md).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ArraySite.h"
#include "Faults.h"
#include "LoadedPlugin.h"
#include "PlatformFakes.h"

namespace {

using testhost::TestSnapInfo;
using Batch = std::vector<TestSnapInfo*>;

struct Step {
    const char* exportName;
    int32_t doneStatus;
    bool storesMetadata;
};

const Step kSteps[] = {
    {"kyso_prepareDevices", KYSO::SNAP_PREPARED, true},
    {"kyso_snapDevices", KYSO::SNAP_CREATED, true},
    {"kyso_mapSnaps", KYSO::SNAP_MOUNTED, true},
    {"kyso_unmapSnaps", KYSO::SNAP_UNMOUNTED, true},
    {"kyso_deleteSnaps", KYSO::SNAP_DELETED, true},
};

struct Scenario {
    const char* name;
    const char* apiVersion;
    bool share;
};

// An error answer; a dropped connection before the array acts; and a dropped connection after
// the array did the work (the answer is lost).
enum class Failure { HttpError, Drop, LostAnswer };

// One run of a lifecycle on a fresh site, with the `failAt`-th array call failing (0: none).
class LifecycleRun {
public:
    LifecycleRun(const Scenario& scenario, const site::LoadedPlugin& plugin, int failAt,
                 Failure failure)
        : scenario_(scenario), plugin_(plugin) {
        array_ = &site_.startArray("arr", {}, scenario.apiVersion);
        if (!scenario.share) {
            site_.hostWith({{site::kDbHostPort, false}});
            for (const char* lun : {site::kOraData, site::kOraLogs}) {
                TestSnapInfo& request =
                    site_.newRequest(*array_, simhost::SimulatedHost::deviceName(lun),
                                     std::string("KY-S") + std::to_string(batch_.size() + 1));
                request.findArrayHostDefault = 0;
                batch_.push_back(&request);
            }
        } else {
            TestSnapInfo& request = site_.newRequest(
                *array_,
                "{idatype:vmware,type:nfs,targethostname:arr1,lunuuid:/export/files/home/vm01}",
                "KY-S1");
            request.hostIdentifier = site::kEsxIdentifier;
            batch_.push_back(&request);
        }
        if (failAt > 0) {
            arraysim::Fault fault;
            fault.method = "*";
            fault.skip = failAt - 1;
            fault.action = failure == Failure::Drop ? arraysim::FaultAction::Drop
                                                    : arraysim::FaultAction::Fail;
            array_->simulator->faults().add(fault);
        }
    }

    // Runs the steps as a host does: only the requests that finished a step go on to the next.
    void lifecycle() {
        Batch going = batch_;
        for (const Step& step : kSteps) {
            if (going.empty()) {
                return;
            }
            SCOPED_TRACE(step.exportName);
            std::vector<size_t> writes;
            for (TestSnapInfo* request : going) {
                writes.push_back(request->metaDataWrites.size());
            }
            const KYSO::ResultCode result = plugin_.batch(step.exportName, going, &site_.util);
            results_.push_back(result);
            Batch done;
            for (size_t i = 0; i < going.size(); ++i) {
                TestSnapInfo* request = going[i];
                const bool finished = request->status == step.doneStatus;
                // Metadata is stored exactly for the requests that finished the step.
                if (step.storesMetadata) {
                    EXPECT_EQ(request->metaDataWrites.size() > writes[i], finished)
                        << request->logText();
                }
                if (finished) {
                    done.push_back(request);
                }
            }
            if (result == KYSO::RESULT_SUCCESS) {
                EXPECT_EQ(done.size(), going.size());
            } else if (result == KYSO::RESULT_FAILED) {
                EXPECT_TRUE(done.empty());
            } else {
                EXPECT_EQ(result, KYSO::RESULT_PARTIAL);
                EXPECT_LT(done.size(), going.size());
            }
            // A call that did not fully succeed gives the host exactly one error.
            size_t errors = 0;
            for (TestSnapInfo* request : going) {
                errors += request->errors.size();
                request->errors.clear();
            }
            EXPECT_EQ(errors, result == KYSO::RESULT_SUCCESS ? 0u : 1u);
            site::ArraySite::carryOver(done);
            for (TestSnapInfo* request : done) {
                if (step.doneStatus == KYSO::SNAP_MOUNTED) {
                    request->snapDevice = request->snapDevicesSet.back();
                } else if (step.doneStatus == KYSO::SNAP_UNMOUNTED) {
                    request->snapDevice.clear();
                }
            }
            going = done;
        }
    }

    // What a host does to clean up after a failure: unmount and delete everything it holds a
    // request for, faults gone. The array must then hold nothing of ours.
    void cleanUpAndCheck() {
        array_->simulator->faults().clear();
        for (const char* name : {"kyso_unmapSnaps", "kyso_deleteSnaps"}) {
            for (TestSnapInfo* request : batch_) {
                plugin_.batch(name, {request}, &site_.util);
                site::ArraySite::carryOver({request});
            }
        }
        const std::string state = site_.state(*array_).json();
        EXPECT_EQ(state.find("MNT_KY-S"), std::string::npos) << state;
        EXPECT_EQ(state.find("-KY-S"), std::string::npos) << state;
    }

    // Everything the host was told and keeps, request by request, with each step's result code.
    std::string stored() {
        std::string text;
        for (const KYSO::ResultCode result : results_) {
            text += "result " + std::to_string(static_cast<int>(result)) + "\n";
        }
        for (const TestSnapInfo* request : batch_) {
            text += "request " + request->snapUUID + "\n";
            for (const int32_t status : request->statusHistory) {
                text += "  status " + std::to_string(status) + "\n";
            }
            for (const auto& error : request->errors) {
                text += "  error " + std::to_string(error.code) + " " + error.message + "\n";
            }
            for (const auto* writes : {&request->metaDataWrites, &request->transMetaDataWrites}) {
                for (const auto& write : *writes) {
                    text += "  metadata " + std::to_string(write.kind) + " " + write.text + "\n";
                }
            }
            for (const auto* values :
                 {&request->snapDevicesSet, &request->targetIdsSet, &request->lunIdsSet}) {
                for (const std::string& value : *values) {
                    text += "  set " + value + "\n";
                }
            }
        }
        return text + "array " + site_.state(*array_).json();
    }

    uint64_t arrayCalls() const {
        return static_cast<uint64_t>(array_->simulator->counters().get<jsonxx::Number>("requests"));
    }

private:
    const Scenario& scenario_;
    const site::LoadedPlugin& plugin_;
    site::ArraySite site_;
    site::SiteArray* array_ = nullptr;
    Batch batch_;
    std::vector<KYSO::ResultCode> results_;
};

class FailureSweep : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override { ASSERT_TRUE(plugin.loaded()) << dlerror(); }

    site::LoadedPlugin plugin;
    testhost::RecordingSleeper sleeper;
};

TEST_P(FailureSweep, EveryFailedCallEndsCleanAndLeavesNothingBehind) {
    const Scenario& scenario = GetParam();
    uint64_t calls = 0;
    {
        LifecycleRun clean(scenario, plugin, 0, Failure::HttpError);
        clean.lifecycle();
        calls = clean.arrayCalls();
        clean.cleanUpAndCheck();
    }
    ASSERT_GT(calls, 5u);
    const char* everything = std::getenv("KYSNAP_SWEEP");
    const uint64_t stride = everything != nullptr && std::string(everything) == "all" ? 1 : 7;
    int runs = 0;
    for (uint64_t k = 1; k <= calls; k += stride) {
        for (Failure failure : {Failure::HttpError, Failure::Drop, Failure::LostAnswer}) {
            SCOPED_TRACE(std::string(scenario.name) + ": call " + std::to_string(k) + " of " +
                         std::to_string(calls) +
                         (failure == Failure::HttpError ? " answered HTTP 500"
                          : failure == Failure::Drop    ? " dropped before the array acted"
                                                        : " dropped after the array acted"));
            LifecycleRun run(scenario, plugin, static_cast<int>(k), failure);
            run.lifecycle();
            run.cleanUpAndCheck();
            ++runs;
        }
    }
    std::printf("%s: %llu array calls, %d failing runs\n", scenario.name,
                static_cast<unsigned long long>(calls), runs);
}

TEST_P(FailureSweep, TheCallsMemoryChangesNothingTheHostStoresAndSavesArrayCalls) {
    std::string stored[2];
    uint64_t calls[2] = {0, 0};
    for (const bool memory : {false, true}) {
        if (!memory) {
            setenv("KYSNAP_CALL_MEMORY", "off", 1);
        }
        LifecycleRun run(GetParam(), plugin, 0, Failure::HttpError);
        run.lifecycle();
        unsetenv("KYSNAP_CALL_MEMORY");
        stored[memory] = run.stored();
        calls[memory] = run.arrayCalls();
        run.cleanUpAndCheck();
    }
    EXPECT_EQ(stored[true], stored[false]);
    // Two volumes of one project repeat listings; the one share repeats none.
    if (!GetParam().share) {
        EXPECT_LT(calls[true], calls[false]);
    } else {
        EXPECT_LE(calls[true], calls[false]);
    }
    std::printf("%s: %llu array calls without the call's memory, %llu with it\n", GetParam().name,
                static_cast<unsigned long long>(calls[false]),
                static_cast<unsigned long long>(calls[true]));
}

INSTANTIATE_TEST_SUITE_P(Lifecycles, FailureSweep,
                         ::testing::Values(Scenario{"volumes on API 2.1", "", false},
                                           Scenario{"volumes on API 2.0", "2.0", false},
                                           Scenario{"NFS share", "", true}),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             return info.index == 0   ? std::string("VolumesApi21")
                                    : info.index == 1 ? std::string("VolumesApi20")
                                                      : std::string("NfsShare");
                         });

}  // namespace
