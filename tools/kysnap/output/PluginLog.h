// SPDX-License-Identifier: Apache-2.0
// PluginLog: where the plug-in's log lines go in a kysnap run. Lines logged through a request
// and through EvDebug (installed as libkyplatform's debug sink while this object lives) are
// kept; with --verbose they are also printed to standard error as they arrive. Any configured
// password is replaced by "******" before a line is kept or printed, whatever the plug-in
// already masked.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "EvDebug.h"
#include "EvDebugSink.h"
#include "HostTypes.h"

namespace kysnap {

class PluginLog : private kyplatform::EvDebugSink {
public:
    PluginLog(bool verbose, std::vector<std::string> secrets);
    ~PluginLog() override;
    PluginLog(const PluginLog&) = delete;
    PluginLog& operator=(const PluginLog&) = delete;

    // For HostRequest::onLog.
    void request(const hostkit::LogLine& line);
    // Called with each (masked) request line after it is handled, e.g. to follow retries.
    std::function<void(const std::string& text)> onRequestLine;

    // The error lines (level -1) EvDebug received, masked, in order.
    const std::vector<std::string>& debugErrors() const { return debugErrors_; }

    std::string mask(std::string text) const;

private:
    void write(int level, const std::string& header, const std::string& message) override;

    bool verbose_;
    std::vector<std::string> secrets_;
    std::vector<std::string> debugErrors_;
    kyplatform::EvDebugSink* previous_;
};

}  // namespace kysnap
