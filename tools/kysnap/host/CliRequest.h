// SPDX-License-Identifier: Apache-2.0
// CliRequest: one device request of a kysnap run. An in-memory host request whose array is
// decided the way a backup host decides it: named on the command line, paired with the
// target in the host's records, or found by the plug-in's search (which registers the
// pairing through findArrayHost).
#pragma once

#include <functional>
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

    // Called whenever the plug-in reads one of this request's own inputs (not the host's
    // settings, which any request answers alike), before it is answered.
    std::function<void()> onRead;
    // Called with each error the plug-in sets through this request, after it is recorded.
    std::function<void(const hostkit::ErrorReport&)> onError;

    int32_t findArrayHost(const char* target) override;
    int32_t getArrayInfo(char* buf, int16_t& size) override;
    int32_t getSnapUUID(char* buf, int16_t& size) override;
    int32_t getSnapStatus() override;
    int32_t getDevice(char* buf, int16_t& size) override;
    int32_t getSnapDevice(char* buf, int16_t& size) override;
    int32_t getMetaData(int32_t kind, char* buf, int16_t& size) override;
    int32_t getSnapId() override;
    int32_t getSnapProperty(int32_t id, std::string& value) override;
    const unsigned char* getInquiryData(int32_t page) override;
    void setError(int32_t code, const char* message) override;

private:
    void reading() const;

    ArrayDirectory& arrays_;
    std::string arrayName_;
    std::string problem_;
};

}  // namespace kysnap
