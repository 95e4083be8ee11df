// SPDX-License-Identifier: Apache-2.0
// Copy-server tests on a site of array simulators and simulated host devices: the copy server
// under test is made with newCopyServer() and driven request by request, as an export does.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "ArraySite.h"
#include "CMCopyRequest.h"
#include "CMCopyServerTegile.h"
#include "Model.h"
#include "PlatformFakes.h"

namespace copyserver_test {

using site::kDbHostPort;
using site::kEsxDs1;
using site::kFcTarget;
using site::kOraData;
using site::kOraLogs;

class CopyServerSite : public ::testing::Test, public site::ArraySite {
protected:
    using Array = site::SiteArray;

    // Runs `driver` for each request in order with one copy server; returns the statuses.
    std::vector<Copy_Status> drive(CMCopyServerTegile& server,
                                   const std::vector<testhost::TestSnapInfo*>& batch,
                                   Copy_Status (CMCopyServerTegile::*driver)()) {
        std::vector<Copy_Status> statuses;
        server.setLogger(batch.front());
        for (testhost::TestSnapInfo* request : batch) {
            CMCopyRequest wrapper(request);
            server.setCopyRequest(&wrapper);
            statuses.push_back((server.*driver)());
        }
        return statuses;
    }

    std::unique_ptr<CMCopyServerTegile> newCopyServer() {
        return std::make_unique<CMCopyServerTegile>(&util);
    }

    // Runs `look` on the model of `array` under its lock.
    void withModel(Array& array, const std::function<void(arraysim::Model&)>& look) {
        array.simulator->withModel(look);
    }

    testhost::RecordingSleeper sleeper;
};

}  // namespace copyserver_test
