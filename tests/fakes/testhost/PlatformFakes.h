// SPDX-License-Identifier: Apache-2.0
// Test doubles for the platform seams: a sleeper that records waits instead of sleeping and a
// debug-log sink that keeps the lines. Each installs itself for its lifetime.
#pragma once

#include <string>
#include <vector>

#include "EvDebug.h"
#include "EvDebugSink.h"
#include "LMSleep.h"
#include "Sleeper.h"

namespace testhost {

class RecordingSleeper : public kyplatform::Sleeper {
public:
    RecordingSleeper() : previous_(kyplatform::setSleeper(this)) {}
    ~RecordingSleeper() override { kyplatform::setSleeper(previous_); }
    RecordingSleeper(const RecordingSleeper&) = delete;
    RecordingSleeper& operator=(const RecordingSleeper&) = delete;

    void sleepMs(unsigned int milliseconds) override { waits.push_back(milliseconds); }

    std::vector<unsigned int> waits;

private:
    kyplatform::Sleeper* previous_;
};

struct DebugLine {
    int level;
    std::string header;
    std::string message;
};

class CapturingDebugSink : public kyplatform::EvDebugSink {
public:
    CapturingDebugSink() : previous_(kyplatform::setEvDebugSink(this)) {}
    ~CapturingDebugSink() override { kyplatform::setEvDebugSink(previous_); }
    CapturingDebugSink(const CapturingDebugSink&) = delete;
    CapturingDebugSink& operator=(const CapturingDebugSink&) = delete;

    void write(int level, const std::string& header, const std::string& message) override {
        lines.push_back({level, header, message});
    }
    bool logged(const std::string& fragment) const {
        for (const DebugLine& line : lines) {
            if (line.message.find(fragment) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    std::vector<DebugLine> lines;

private:
    kyplatform::EvDebugSink* previous_;
};

}  // namespace testhost
