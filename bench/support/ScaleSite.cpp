// SPDX-License-Identifier: Apache-2.0
#include "ScaleSite.h"

#include <time.h>

#include <chrono>

#include "BenchSeed.h"
#include "Faults.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of the calling thread so far.
double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

uint64_t count(const jsonxx::Object& object, const std::string& name) {
    return object.has<jsonxx::Number>(name)
               ? static_cast<uint64_t>(object.get<jsonxx::Number>(name))
               : 0;
}

}  // namespace

ScaleSite::ScaleSite(int arrays, int volumesPerArray) : volumesPerArray_(volumesPerArray) {
    if (!plugin_.loaded()) {
        error_ = std::string("the plug-in cannot be loaded: ") + dlerror();
        return;
    }
    for (int a = 0; a < arrays; ++a) {
        site::SiteArray& array = site_.startArray("array" + std::to_string(a),
                                                  [a, volumesPerArray](jsonxx::Object& seed) {
                                                      addBenchVolumes(seed, a, volumesPerArray);
                                                  });
        if (array.simulator->port() <= 0) {
            error_ = "array simulator " + std::to_string(a) + " did not start";
            return;
        }
    }
    site_.hostWith({{site::kDbHostPort, false}});
    site_.util.onRescan = [this](const testhost::RescanRecord&) { rescan(); };
}

void ScaleSite::modelArrayLatency(int requestMs, int perListedUs) {
    arraysim::Fault latency;
    latency.method = "*";
    latency.action = arraysim::FaultAction::Latency;
    latency.remaining = -1;
    latency.latencyMs = requestMs;
    latency.perListedUs = perListedUs;
    for (site::SiteArray& array : site_.arrays) {
        array.simulator->faults().add(latency);
    }
}

void ScaleSite::rescan() {
    hostCounts_.resize(site_.arrays.size());
    std::vector<Counts> before;
    for (const site::SiteArray& array : site_.arrays) {
        before.push_back(countsOf(array));
    }
    const Clock::time_point start = Clock::now();
    const double startCpu = threadCpuSeconds();
    site_.rescan();
    hostSeconds_ += secondsSince(start);
    hostCpuSeconds_ += threadCpuSeconds() - startCpu;
    for (size_t a = 0; a < site_.arrays.size(); ++a) {
        const Counts after = countsOf(site_.arrays[a]);
        hostCounts_[a].handshakes += after.handshakes - before[a].handshakes;
        hostCounts_[a].fullHandshakes += after.fullHandshakes - before[a].fullHandshakes;
    }
}

Batch ScaleSite::requests(const std::string& prefix) {
    site_.requests.clear();
    Batch batch;
    for (size_t a = 0; a < site_.arrays.size(); ++a) {
        for (int i = 0; i < volumesPerArray_; ++i) {
            const std::string device =
                simhost::SimulatedHost::deviceName(benchLunId(static_cast<int>(a), i));
            testhost::TestSnapInfo& request = site_.newRequest(
                site_.arrays[a], device, prefix + "-" + std::to_string(batch.size() + 1));
            request.findArrayHostDefault = 0;
            batch.push_back(&request);
        }
    }
    return batch;
}

ScaleSite::Counts ScaleSite::countsOf(const site::SiteArray& array) const {
    const jsonxx::Object counters = array.simulator->counters();
    Counts counts;
    counts.requests = count(counters, "requests");
    counts.handshakes = count(counters, "tlsHandshakes");
    counts.fullHandshakes = count(counters, "fullTlsHandshakes");
    counts.serviceNanoseconds = count(counters, "serviceNanoseconds");
    for (const auto& method : counters.get<jsonxx::Object>("methods").kv_map()) {
        counts.methods[method.first] = count(counters.get<jsonxx::Object>("methods"), method.first);
    }
    return counts;
}

CallFigures ScaleSite::call(const char* name, const Batch& batch) {
    std::vector<Counts> before;
    for (const site::SiteArray& array : site_.arrays) {
        before.push_back(countsOf(array));
    }
    hostSeconds_ = 0;
    hostCpuSeconds_ = 0;
    hostCounts_.assign(site_.arrays.size(), Counts());
    CallFigures figures;
    const Clock::time_point start = Clock::now();
    const double startCpu = threadCpuSeconds();
    figures.result = plugin_.batch(name, batch, &site_.util);
    figures.pluginCpuSeconds = threadCpuSeconds() - startCpu;
    figures.wallSeconds = secondsSince(start);
    figures.hostSeconds = hostSeconds_;
    figures.pluginCpuSeconds -= hostCpuSeconds_;
    for (size_t a = 0; a < site_.arrays.size(); ++a) {
        const Counts after = countsOf(site_.arrays[a]);
        figures.requests += after.requests - before[a].requests;
        figures.handshakes += after.handshakes - before[a].handshakes - hostCounts_[a].handshakes;
        const uint64_t full =
            after.fullHandshakes - before[a].fullHandshakes - hostCounts_[a].fullHandshakes;
        figures.fullHandshakes += full;
        if (full > figures.mostFullHandshakesOnOneArray) {
            figures.mostFullHandshakesOnOneArray = full;
        }
        figures.serviceSeconds +=
            static_cast<double>(after.serviceNanoseconds - before[a].serviceNanoseconds) / 1e9;
        for (const auto& method : after.methods) {
            const uint64_t earlier =
                before[a].methods.count(method.first) != 0 ? before[a].methods.at(method.first) : 0;
            if (method.second > earlier) {
                figures.methods[method.first] += method.second - earlier;
            }
        }
    }
    site::ArraySite::carryOver(batch);
    debugLog_.lines.clear();
    return figures;
}

}  // namespace bench
