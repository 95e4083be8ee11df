// SPDX-License-Identifier: Apache-2.0
#include "ArraySite.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace site {

ArraySite::~ArraySite() {
    installed_.reset();
    unsetenv("KYSNAP_TLS_CA_FILE");
}

SiteArray& ArraySite::startArray(const std::string& name,
                                 const std::function<void(jsonxx::Object&)>& edit,
                                 const std::string& apiVersion) {
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
    arrays.push_back(SiteArray{name, std::make_unique<arraysim::ArraySimulator>(options)});
    SiteArray& array = arrays.back();
    std::string error;
    EXPECT_TRUE(array.simulator->start(error)) << error;
    setenv("KYSNAP_TLS_CA_FILE", array.simulator->caFile().c_str(), 1);
    util.arrayNames.push_back(name);
    util.arrayInfoByName[name] = arrayInfo(array);
    return array;
}

std::string ArraySite::arrayInfo(const SiteArray& array, const std::string& password) {
    return "{arrayName:" + array.name + ",arrayId:" + array.host() +
           ",hostUserName:admin,hostPassword:" + password + ",engineName:kysnap}";
}

std::unique_ptr<simhost::SimulatedHost> ArraySite::hostOf(
    const std::vector<testhost::Initiator>& list) {
    std::vector<simhost::ArrayEndpoint> endpoints;
    for (const SiteArray& array : arrays) {
        simhost::ArrayEndpoint endpoint;
        endpoint.port = array.simulator->port();
        endpoint.caFile = array.simulator->caFile();
        endpoint.password = "tegile";
        endpoints.push_back(endpoint);
    }
    std::vector<std::string> names;
    for (const auto& initiator : list) {
        names.push_back(initiator.name);
    }
    return std::make_unique<simhost::SimulatedHost>(endpoints, names);
}

void ArraySite::hostWith(const std::vector<testhost::Initiator>& initiators) {
    util.localInitiators = initiators;
    installed_.reset();
    host = hostOf(initiators);
    installed_ = std::make_unique<simhost::SimulatedDevices::Installation>(host->devices());
    rescan();
    util.onRescan = [this](const testhost::RescanRecord&) { rescan(); };
}

void ArraySite::esxWith(const std::vector<testhost::Initiator>& initiators) {
    util.remoteInitiators[kEsxIdentifier] = initiators;
    esx = hostOf(initiators);
    rescan();
}

void ArraySite::rescan() {
    std::string error;
    if (host) {
        ASSERT_TRUE(host->rescan(error)) << error;
        util.devices[""] = host->deviceNames();
    }
    if (esx) {
        ASSERT_TRUE(esx->rescan(error)) << error;
        std::vector<std::string> descriptions;
        for (const simhost::HostLun& lun : esx->luns()) {
            descriptions.push_back(vmwareDescription(lun));
        }
        util.devices[kEsxIdentifier] = descriptions;
    }
}

std::string ArraySite::vmwareDescription(const simhost::HostLun& lun) {
    std::string uuid = "0200000000" + lun.lunId + "494e54454c4c";
    for (char& c : uuid) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return "{idatype:vmware,vendor:TEGILE,standardinqury:" + lun.standardInquiryHex +
           ",lunuuid:" + uuid + ",targetidentifier:" + lun.targetId + ",type:vmfs}";
}

testhost::TestSnapInfo& ArraySite::newRequest(const SiteArray& array, const std::string& device,
                                              const std::string& snapId) {
    requests.emplace_back();
    testhost::TestSnapInfo& request = requests.back();
    request.arrayInfo = arrayInfo(array);
    request.device = device;
    request.snapUUID = snapId;
    request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
    request.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = 1;
    return request;
}

void ArraySite::carryOver(const std::vector<testhost::TestSnapInfo*>& batch) {
    for (testhost::TestSnapInfo* request : batch) {
        if (!request->metaDataWrites.empty()) {
            request->metaData = request->metaDataWrites.back().text;
        }
        if (!request->transMetaDataWrites.empty()) {
            request->transMetaData = request->transMetaDataWrites.back().text;
        }
    }
}

jsonxx::Object ArraySite::state(const SiteArray& array) {
    httplib::SSLClient client("127.0.0.1", array.simulator->port());
    client.set_ca_cert_path(array.simulator->caFile().c_str());
    client.set_basic_auth("admin", "tegile");
    jsonxx::Object state;
    auto answer = client.Get("/control/state");
    EXPECT_TRUE(answer && answer->status == 200 && state.parse(answer->body))
        << "the simulator's state cannot be read";
    return state;
}

std::string hexOf(const std::vector<unsigned char>& bytes) {
    std::string text;
    char pair[3];
    for (unsigned char byte : bytes) {
        std::snprintf(pair, sizeof(pair), "%02x", byte);
        text += pair;
    }
    return text;
}

}  // namespace site
