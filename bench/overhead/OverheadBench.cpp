// SPDX-License-Identifier: Apache-2.0
// The plug-in's own cost per REST call: whole lifecycles (prepare, snap, map, unmap, delete of
// N volumes, one call each) through the built plug-in's exported functions, with a transport
// that answers instantly from answers kept while the same lifecycle ran once against
// in-process arrays. What a call costs is then the plug-in's work (JSON, codecs, logging,
// property maps, the platform glue) plus the in-memory host's bookkeeping; the host's
// rescans are timed and left out.
#include <benchmark/benchmark.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "BenchSeed.h"
#include "CannedExchanges.h"
#include "LoadedPlugin.h"
#include "PlatformFakes.h"
#include "SimulatedHost.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

namespace {

using Clock = std::chrono::steady_clock;
using Batch = std::vector<testhost::TestSnapInfo*>;

const char* const kArrayHost = "bench-array0:443";
const char* const kHostPort = "21:00:00:24:ff:3d:2a:10";  // in the sample array's db-host-fc

struct Operation {
    const char* name;
    const char* label;
};

const Operation kLifecycle[] = {{"kyso_prepareDevices", "prepare"},
                                {"kyso_snapDevices", "snap"},
                                {"kyso_mapSnaps", "map"},
                                {"kyso_unmapSnaps", "unmap"},
                                {"kyso_deleteSnaps", "delete"}};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One array in process, the in-memory host seeing its LUNs, the plug-in loaded, and the
// canned transport installed for the site's lifetime.
class CannedSite {
public:
    explicit CannedSite(int volumes) : canned_(arrays_), volumes_(volumes) {
        previousFactory_ = kyplatform::setHttpTransportFactory(&canned_);
        if (!plugin_.loaded()) {
            error_ = std::string("the plug-in cannot be loaded: ") + dlerror();
            return;
        }
        jsonxx::Object seed = bench::sampleSeed();
        bench::addBenchVolumes(seed, 0, volumes);
        if (!arrays_.add(kArrayHost, seed, error_)) {
            return;
        }
        util_.arrayNames.push_back("array0");
        util_.arrayInfoByName["array0"] = std::string("{arrayName:array0,arrayId:") + kArrayHost +
                                          ",hostUserName:admin,hostPassword:tegile,"
                                          "engineName:kysnap}";
        util_.localInitiators = {{kHostPort, false}};
        util_.onRescan = [this](const testhost::RescanRecord&) {
            const Clock::time_point start = Clock::now();
            rescan();
            rescanSeconds_ += secondsSince(start);
        };
        rescan();
    }
    ~CannedSite() { kyplatform::setHttpTransportFactory(previousFactory_); }
    CannedSite(const CannedSite&) = delete;
    CannedSite& operator=(const CannedSite&) = delete;

    const std::string& error() const { return error_; }

    // Runs the lifecycle once against the in-process array, keeping every answer.
    bool record() {
        canned_.record();
        recording_ = true;
        kept_.clear();
        const Batch batch = requests();
        for (const Operation& op : kLifecycle) {
            if (!run(op, batch)) {
                error_ = std::string(op.name) + " failed while recording";
                return false;
            }
        }
        recording_ = false;
        return true;
    }

    // Starts a replay of the recorded lifecycle.
    Batch replay() {
        canned_.replay();
        nextRescan_ = 0;
        return requests();
    }

    // Runs one operation; `seconds` is its wall time without the host's rescans, `calls` the
    // REST calls it made and `answerBytes` the bytes of their answers.
    bool run(const Operation& op, const Batch& batch, double* seconds = nullptr,
             size_t* calls = nullptr, size_t* answerBytes = nullptr) {
        const size_t before = canned_.exchanges();
        const size_t bytesBefore = canned_.answerBytes();
        rescanSeconds_ = 0;
        const Clock::time_point start = Clock::now();
        const KYSO::ResultCode result = plugin_.batch(op.name, batch, &util_);
        const double wall = secondsSince(start);
        if (seconds != nullptr) {
            *seconds = wall - rescanSeconds_;
        }
        if (calls != nullptr) {
            *calls = canned_.exchanges() - before;
        }
        if (answerBytes != nullptr) {
            *answerBytes = canned_.answerBytes() - bytesBefore;
        }
        debugLog_.lines.clear();
        for (testhost::TestSnapInfo* request : batch) {
            if (!request->metaDataWrites.empty()) {
                request->metaData = request->metaDataWrites.back().text;
            }
            if (!request->transMetaDataWrites.empty()) {
                request->transMetaData = request->transMetaDataWrites.back().text;
            }
            if (std::string(op.label) == "map" && !request->snapDevicesSet.empty()) {
                request->snapDevice = request->snapDevicesSet.back();
            } else if (std::string(op.label) == "unmap") {
                request->snapDevice.clear();
            }
        }
        return result == KYSO::RESULT_SUCCESS;
    }

    size_t mismatches() const { return canned_.mismatches(); }

private:
    Batch requests() {
        requests_.clear();
        Batch batch;
        for (int i = 0; i < volumes_; ++i) {
            requests_.emplace_back();
            testhost::TestSnapInfo& request = requests_.back();
            request.arrayInfo = util_.arrayInfoByName["array0"];
            request.device = simhost::SimulatedHost::deviceName(bench::benchLunId(0, i));
            request.snapUUID = "KY-OVERHEAD-" + std::to_string(i + 1);
            request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
            request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = 1;
            request.findArrayHostDefault = 0;
            batch.push_back(&request);
        }
        return batch;
    }

    // Recording: the devices the array shows now, kept. Replaying: the kept ones, in order.
    void rescan() {
        std::map<std::string, simhost::SimulatedDevice> devices;
        if (recording_ || kept_.empty()) {
            devices = arrays_.devicesFor({kHostPort});
            if (recording_) {
                kept_.push_back(devices);
            }
        } else if (nextRescan_ < kept_.size()) {
            devices = kept_[nextRescan_++];
        }
        std::vector<std::string> names;
        for (const auto& device : devices) {
            names.push_back(device.first);
        }
        devices_.setDevices(std::move(devices));
        util_.devices[""] = names;
    }

    bench::InProcessArrays arrays_;
    bench::CannedExchanges canned_;
    kyplatform::HttpTransportFactory* previousFactory_ = nullptr;
    testhost::RecordingSleeper sleeper_;
    testhost::CapturingDebugSink debugLog_;
    simhost::SimulatedDevices devices_;
    simhost::SimulatedDevices::Installation installed_{devices_};
    testhost::TestOSUtil util_;
    std::deque<testhost::TestSnapInfo> requests_;
    site::LoadedPlugin plugin_;
    int volumes_;
    bool recording_ = false;
    std::vector<std::map<std::string, simhost::SimulatedDevice>> kept_;
    size_t nextRescan_ = 0;
    double rescanSeconds_ = 0;
    std::string error_;
};

void Overhead(benchmark::State& state) {
    const int volumes = static_cast<int>(state.range(0));
    CannedSite site(volumes);
    if (!site.error().empty() || !site.record()) {
        state.SkipWithError(site.error().c_str());
        return;
    }
    double seconds[5] = {};
    double calls[5] = {};
    double bytes[5] = {};
    for (auto _ : state) {
        const Batch batch = site.replay();
        double iteration = 0;
        for (int op = 0; op < 5; ++op) {
            double opSeconds = 0;
            size_t opCalls = 0;
            size_t opBytes = 0;
            if (!site.run(kLifecycle[op], batch, &opSeconds, &opCalls, &opBytes) ||
                site.mismatches() != 0) {
                state.SkipWithError(
                    (std::string(kLifecycle[op].name) + " did not replay as recorded").c_str());
                return;
            }
            seconds[op] += opSeconds;
            calls[op] += static_cast<double>(opCalls);
            bytes[op] += static_cast<double>(opBytes);
            iteration += opSeconds;
        }
        state.SetIterationTime(iteration);
    }
    double allSeconds = 0;
    double allCalls = 0;
    for (int op = 0; op < 5; ++op) {
        const std::string label = kLifecycle[op].label;
        state.counters[label + "_calls"] =
            benchmark::Counter(calls[op], benchmark::Counter::kAvgIterations);
        state.counters[label + "_us_per_call"] =
            benchmark::Counter(calls[op] > 0 ? 1e6 * seconds[op] / calls[op] : 0);
        state.counters[label + "_kb_per_call"] =
            benchmark::Counter(calls[op] > 0 ? bytes[op] / calls[op] / 1e3 : 0);
        allSeconds += seconds[op];
        allCalls += calls[op];
    }
    state.counters["us_per_call"] =
        benchmark::Counter(allCalls > 0 ? 1e6 * allSeconds / allCalls : 0);
    state.counters["volumes"] = volumes;
}

}  // namespace

BENCHMARK(Overhead)->Arg(1)->Arg(16)->Arg(128)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
