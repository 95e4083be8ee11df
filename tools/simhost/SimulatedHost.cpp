#include "SimulatedHost.h"

#include <httplib.h>

#include <map>

#include "jsonxx.h"

namespace simhost {

SimulatedHost::SimulatedHost(std::vector<ArrayEndpoint> arrays, std::vector<std::string> initiators)
    : arrays_(std::move(arrays)), initiators_(std::move(initiators)) {}

bool SimulatedHost::rescan(std::string& error) {
    jsonxx::Array initiators;
    for (const std::string& initiator : initiators_) {
        initiators.append(initiator);
    }
    jsonxx::Object question;
    question.import("initiators", initiators);
    const std::string body = question.json();

    std::map<std::string, SimulatedDevice> found;
    std::map<std::string, HostLun> seen;
    for (const ArrayEndpoint& array : arrays_) {
        httplib::SSLClient client(array.address, array.port);
        client.set_ca_cert_path(array.caFile.c_str());
        client.set_basic_auth(array.user, array.password);
        client.set_connection_timeout(5);
        client.set_read_timeout(10);
        auto answer = client.Post("/control/hostview", body, "application/json");
        const std::string where = array.address + ":" + std::to_string(array.port);
        if (!answer) {
            // A refused certificate is a set-up matter with its own remedy, not an outage.
            error = answer.error() == httplib::Error::SSLServerVerification
                        ? "the certificate of the array simulator at " + where +
                              " was refused (it does not verify against " + array.caFile +
                              "); set KYSNAP_TLS_CA_FILE or ca-file to the simulator's CA file"
                        : "array simulator at " + where +
                              " cannot be reached: " + httplib::to_string(answer.error());
            return false;
        }
        jsonxx::Object view;
        if (answer->status != 200 || !view.parse(answer->body) ||
            !view.has<jsonxx::Array>("luns")) {
            error = "array simulator at " + where + " answered the host view with HTTP " +
                    std::to_string(answer->status);
            return false;
        }
        const jsonxx::Array& luns = view.get<jsonxx::Array>("luns");
        for (size_t i = 0; i < luns.size(); ++i) {
            if (!luns.has<jsonxx::Object>(i)) {
                continue;
            }
            const jsonxx::Object& lun = luns.get<jsonxx::Object>(i);
            if (!lun.has<jsonxx::String>("luId") || !lun.has<jsonxx::String>("standardInquiry") ||
                !lun.has<jsonxx::String>("page83")) {
                continue;
            }
            SimulatedDevice device;
            if (!hexBytes(lun.get<jsonxx::String>("standardInquiry"), device.standard) ||
                !hexBytes(lun.get<jsonxx::String>("page83"), device.page83)) {
                continue;
            }
            const std::string name = deviceName(lun.get<jsonxx::String>("luId"));
            if (found.emplace(name, std::move(device)).second) {
                HostLun entry;
                entry.device = name;
                entry.lunId = lun.get<jsonxx::String>("luId");
                entry.targetId =
                    lun.has<jsonxx::String>("targetId") ? lun.get<jsonxx::String>("targetId") : "";
                entry.standardInquiryHex = lun.get<jsonxx::String>("standardInquiry");
                seen.emplace(name, entry);
            }
        }
    }
    names_.clear();
    luns_.clear();
    for (const auto& entry : seen) {
        names_.push_back(entry.first);
        luns_.push_back(entry.second);
    }
    devices_.setDevices(std::move(found));
    return true;
}

}  // namespace simhost
