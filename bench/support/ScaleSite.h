// SPDX-License-Identifier: Apache-2.0
// ScaleSite: a loopback site for benchmarks at scale. K array simulators (the sample array
// plus a project "bench" of N volumes, each mapped to the host's FC group db-host-fc), the
// in-memory host seeing them as devices, and the built plug-in loaded as a host loads it.
// Waits are recorded instead of slept and the debug log is discarded, so a call costs what
// the plug-in, the arrays and the host do, and nothing else.
//
// call() runs one batch export and tells what it cost: wall time, the arrays' own service
// time (their "serviceNanoseconds" counter), the host's rescans, and the requests and TLS
// handshakes (full ones, and all) the arrays counted, less the handshakes of the host's own
// queries during rescans; and the processor time of the calling thread outside the rescans,
// which is the plug-in at work (its HTTP and TLS included): the simulators serve from threads
// of their own, so their work, which an array does, is not in it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ArraySite.h"
#include "KYSOTypes.h"
#include "LoadedPlugin.h"
#include "PlatformFakes.h"

namespace bench {

using Batch = std::vector<testhost::TestSnapInfo*>;

struct CallFigures {
    KYSO::ResultCode result = KYSO::RESULT_FAILED;
    double wallSeconds = 0;
    double serviceSeconds = 0;    // the arrays answering API requests
    double hostSeconds = 0;       // the host rescanning its buses
    double pluginCpuSeconds = 0;  // the calling thread's processor time outside rescans
    uint64_t requests = 0;        // API requests, all arrays
    uint64_t handshakes = 0;      // TLS handshakes, all arrays, resumed sessions included
    uint64_t fullHandshakes = 0;  // those that resumed no session, all arrays
    uint64_t mostFullHandshakesOnOneArray = 0;
    std::map<std::string, uint64_t> methods;  // API requests per method, all arrays

    // What is left of the wall time for the plug-in, the loopback network and the arrays'
    // HTTP and TLS (not in their service time).
    double pluginSeconds() const { return wallSeconds - serviceSeconds - hostSeconds; }
};

class ScaleSite {
public:
    // `arrays` simulators with `volumesPerArray` bench volumes each.
    ScaleSite(int arrays, int volumesPerArray);
    ScaleSite(const ScaleSite&) = delete;
    ScaleSite& operator=(const ScaleSite&) = delete;

    // False, with error() saying why, when a simulator or the plug-in could not be started.
    bool ready() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // New requests for every bench volume, array by array; the host names their snapshots
    // `prefix`-1, `prefix`-2, ...
    Batch requests(const std::string& prefix);
    // Runs the batch export `name` and makes what it stored the batch's next input.
    CallFigures call(const char* name, const Batch& batch);
    // From now on every array answers each API request `requestMs` late, and `perListedUs`
    // later still for every object the answer lists: a real array's latency, in the arrays'
    // service time.
    void modelArrayLatency(int requestMs, int perListedUs);

    int volumesPerArray() const { return volumesPerArray_; }
    size_t arrays() const { return site_.arrays.size(); }

private:
    struct Counts {
        uint64_t requests = 0;
        uint64_t handshakes = 0;
        uint64_t fullHandshakes = 0;
        uint64_t serviceNanoseconds = 0;
        std::map<std::string, uint64_t> methods;
    };
    Counts countsOf(const site::SiteArray& array) const;
    // Rescans the host's buses, keeping the time and the handshakes its queries cost.
    void rescan();

    testhost::RecordingSleeper sleeper_;
    testhost::CapturingDebugSink debugLog_;  // emptied after every call
    site::ArraySite site_;
    site::LoadedPlugin plugin_;
    int volumesPerArray_;
    double hostSeconds_ = 0;
    double hostCpuSeconds_ = 0;       // the calling thread's processor time in rescans
    std::vector<Counts> hostCounts_;  // per array: what the host's rescans cost the arrays
    std::string error_;
};

}  // namespace bench
