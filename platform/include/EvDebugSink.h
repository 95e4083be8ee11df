// SPDX-License-Identifier: Apache-2.0
// The debug log's seam: a host or test process reads EvDebug's lines instead of standard error.
#pragma once

#include <string>

#include "EvDebug.h"
#include "KyPlatformExport.h"

namespace kyplatform {

// Receives every EvDebug line instead of standard error; tests install one to read them.
class KYPLATFORM_API EvDebugSink {
public:
    virtual ~EvDebugSink() = default;
    virtual void write(int level, const std::string& header, const std::string& message) = 0;
};

// Installs `sink` (borrowed; null restores standard error) and returns the previous one.
KYPLATFORM_API EvDebugSink* setEvDebugSink(EvDebugSink* sink);

// The text a line is printed as, without the trailing newline.
KYPLATFORM_API std::string formatEvDebugLine(int level, const std::string& header,
                                             const std::string& message);

}  // namespace kyplatform
