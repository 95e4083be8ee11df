// SPDX-License-Identifier: Apache-2.0
// CliRequest: one device request of a kysnap run. An in-memory host request whose array is
// decided the way a backup host decides it: named on the command line, paired with the
// target in the host's records, or found by the plug-in's search (which registers the
// pairing through findArrayHost).
#pragma once

#include <string>

#include "ArrayDirectory.h"
#include "HostRequest.h"

namespace kysnap {

class CliRequest : public hostkit::HostRequest {
public:
    // `arrays` is borrowed. `arrayName` may be empty: the array is then found later.
    CliRequest(ArrayDirectory& arrays, std::string arrayName);

    // The array serving this request once known ("" before).
    const std::string& arrayName() const { return arrayName_; }
    // Why the array information could not be given, when it could not.
    const std::string& problem() const { return problem_; }

    int32_t findArrayHost(const char* target) override;
    int32_t getArrayInfo(char* buf, int16_t& size) override;

private:
    ArrayDirectory& arrays_;
    std::string arrayName_;
    std::string problem_;
};

}  // namespace kysnap
