// SPDX-License-Identifier: Apache-2.0
// CMCopyRequest: wraps one host request for the length of one operation. The SnapInfo is
// borrowed, never owned, and is also where the record logs.
#pragma once

#include <map>
#include <string>

#include "SnapInfo.h"

class CMCopyRequest {
public:
    explicit CMCopyRequest(KYSO::SnapInfo* request);

    KYSO::SnapInfo* getObject() const { return object_; }

    // Stores `metadata` as the request's snapshot metadata, but only for a request whose
    // snapshot id the host can supply. Returns the host's getSnapUUID answer: 0 = stored,
    // anything else = nothing stored (logged).
    int setMetaData(std::string& metadata);

    // Reads the source device description and decodes its key-value text into `info`.
    // Returns 0, or the host's non-zero answer after logging and setting status 2.
    int getSourceDeviceInfo(std::map<std::string, std::string>& info);

private:
    KYSO::SnapInfo* object_;
    KYSO::SnapInfo* logger_;
};
