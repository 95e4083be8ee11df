// A site for copy-server tests: array simulators on loopback, an in-memory host whose OS
// utility knows them, and simulated block devices showing what the arrays map to the host's
// initiators. Requests are TestSnapInfo objects the tests fill; the copy server under test
// is made with newCopyServer().
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ArraySimulator.h"
#include "CMCopyRequest.h"
#include "CMCopyServerTegile.h"
#include "Model.h"
#include "PlatformFakes.h"
#include "SimulatedHost.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

namespace copyserver_test {

inline const char* const kOraData = "600144F0C8A7B3D1E45F4A2B00010001";
inline const char* const kOraLogs = "600144F0C8A7B3D1E45F4A2B00010002";
inline const char* const kEsxDs1 = "600144F0C8A7B3D1E45F4A2B00020001";
// The array's FC target ports and a host port in the group that sees ora-data and ora-logs.
inline const char* const kFcTarget = "wwn.2100001B32A1B2C3";
inline const char* const kDbHostPort = "21:00:00:24:ff:3d:2a:10";

class CopyServerSite : public ::testing::Test {
protected:
    struct Array {
        std::string name;
        std::unique_ptr<arraysim::ArraySimulator> simulator;
        std::string host() const { return "127.0.0.1:" + std::to_string(simulator->port()); }
    };

    void TearDown() override { unsetenv("KYSNAP_TLS_CA_FILE"); }

    // Starts a simulator of the sample array, its seed first passed through `edit`, and
    // configures it in the host under `name`.
    Array& startArray(const std::string& name,
                      const std::function<void(jsonxx::Object&)>& edit = {},
                      const std::string& apiVersion = "") {
        std::ifstream file(std::string(KYSNAP_SOURCE_DIR) + "/tools/arraysim/seed/sample.json");
        std::stringstream text;
        text << file.rdbuf();
        jsonxx::Object seed;
        EXPECT_TRUE(seed.parse(text.str()));
        if (edit) {
            edit(seed);
        }
        arraysim::SimulatorOptions options;
        options.seedText = seed.json();
        options.apiVersion = apiVersion;
        options.certDirectory = std::string(KYSNAP_BINARY_DIR) + "/arraysim-tls";
        arrays.push_back(Array{name, std::make_unique<arraysim::ArraySimulator>(options)});
        Array& array = arrays.back();
        std::string error;
        EXPECT_TRUE(array.simulator->start(error)) << error;
        setenv("KYSNAP_TLS_CA_FILE", array.simulator->caFile().c_str(), 1);
        util.arrayNames.push_back(name);
        util.arrayInfoByName[name] = arrayInfo(array);
        return array;
    }

    static std::string arrayInfo(const Array& array) {
        return "{arrayName:" + array.name + ",arrayId:" + array.host() +
               ",hostUserName:admin,hostPassword:tegile,engineName:kysnap}";
    }

    // The host's initiators; its devices are what the arrays show them, refreshed by every
    // rescan the plug-in asks for.
    void hostWith(const std::vector<testhost::Initiator>& initiators) {
        util.localInitiators = initiators;
        std::vector<simhost::ArrayEndpoint> endpoints;
        for (const Array& array : arrays) {
            simhost::ArrayEndpoint endpoint;
            endpoint.port = array.simulator->port();
            endpoint.caFile = array.simulator->caFile();
            endpoint.password = "tegile";
            endpoints.push_back(endpoint);
        }
        std::vector<std::string> names;
        for (const auto& initiator : initiators) {
            names.push_back(initiator.name);
        }
        host = std::make_unique<simhost::SimulatedHost>(endpoints, names);
        installed = std::make_unique<simhost::SimulatedDevices::Installation>(host->devices());
        rescan();
        util.onRescan = [this](const testhost::RescanRecord&) { rescan(); };
    }

    void rescan() {
        std::string error;
        ASSERT_TRUE(host->rescan(error)) << error;
        util.devices[""] = host->deviceNames();
    }

    // A request for `device` on `array` whose snapshot the host calls `snapId`.
    testhost::TestSnapInfo& newRequest(const Array& array, const std::string& device,
                                       const std::string& snapId = "") {
        requests.emplace_back();
        testhost::TestSnapInfo& request = requests.back();
        request.arrayInfo = arrayInfo(array);
        request.device = device;
        request.snapUUID = snapId;
        request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
        request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = 1;
        return request;
    }

    // Runs `driver` for each request in order with one copy server, as an exported function
    // does; returns the statuses.
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

    // Makes each request's last stored metadata its input for the next operation.
    static void carryOver(const std::vector<testhost::TestSnapInfo*>& batch) {
        for (testhost::TestSnapInfo* request : batch) {
            if (!request->metaDataWrites.empty()) {
                request->metaData = request->metaDataWrites.back().text;
            }
            if (!request->transMetaDataWrites.empty()) {
                request->transMetaData = request->transMetaDataWrites.back().text;
            }
        }
    }

    std::unique_ptr<CMCopyServerTegile> newCopyServer() {
        return std::make_unique<CMCopyServerTegile>(&util);
    }

    // Runs `look` on the model of `array` under its lock.
    void withModel(Array& array, const std::function<void(arraysim::Model&)>& look) {
        array.simulator->withModel(look);
    }

    std::deque<Array> arrays;
    std::deque<testhost::TestSnapInfo> requests;
    testhost::TestOSUtil util;
    testhost::RecordingSleeper sleeper;
    std::unique_ptr<simhost::SimulatedHost> host;
    std::unique_ptr<simhost::SimulatedDevices::Installation> installed;
};

}  // namespace copyserver_test
