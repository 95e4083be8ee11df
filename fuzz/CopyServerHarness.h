// SPDX-License-Identifier: Apache-2.0
// A copy server serving one in-memory host request, as an exported call sets it up: what the
// targets that drive the copy server share. Fill `request` before calling the server.
#pragma once

#include "CMCopyRequest.h"
#include "CMCopyServerTegile.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

namespace fuzz {

struct CopyServerHarness {
    CopyServerHarness() {
        server.setLogger(&request);
        server.setCopyRequest(&wrapper);
    }
    CopyServerHarness(const CopyServerHarness&) = delete;
    CopyServerHarness& operator=(const CopyServerHarness&) = delete;

    testhost::TestSnapInfo request;
    testhost::TestOSUtil util;
    CMCopyRequest wrapper{&request};
    CMCopyServerTegile server{&util};
};

}  // namespace fuzz
