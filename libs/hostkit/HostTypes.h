// SPDX-License-Identifier: Apache-2.0
// Plain records an in-memory host keeps: initiators it reports, rescans it was asked for, and
// what the plug-in wrote to a request (log lines, errors, metadata).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostkit {

// An initiator of a host bus adapter: its name and whether it is iSCSI (flag byte 1).
struct Initiator {
    std::string name;
    bool iscsi = false;
};

// One refreshBus call: the host asked for ("" = local) and the two lists it was given.
struct RescanRecord {
    std::string host;
    std::vector<std::string> initiators;
    std::vector<std::string> devices;
};

struct LogLine {
    int32_t level;
    std::string header;
    std::string text;
};

struct ErrorReport {
    int32_t code;
    std::string message;
};

// A metadata write; `cleared` when the plug-in passed null.
struct MetaDataWrite {
    int32_t kind;
    std::string text;
    bool cleared;
};

}  // namespace hostkit
