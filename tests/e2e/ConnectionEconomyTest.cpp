// SPDX-License-Identifier: Apache-2.0
// One exported call opens one TLS session per array, however many clients it makes: the
// storage server's, array discovery's and initiator choice's share connections and sessions,
// and the calls that create something resume the session on their fresh connection.
#include "PluginSite.h"

namespace e2e {
namespace {

using site::kDbHostPort;
using site::kFcTarget;
using site::kOraData;
using site::kOraLogs;

class ConnectionEconomy : public PluginSite {
protected:
    // The plug-in's full handshakes so far: each host-view query of the simulated host
    // comes on a connection of its own, with a full handshake that is not the plug-in's.
    static uint64_t fullHandshakes(const site::SiteArray& array) {
        const jsonxx::Object counters = array.simulator->counters();
        return static_cast<uint64_t>(counters.get<jsonxx::Number>("fullTlsHandshakes") -
                                     counters.get<jsonxx::Number>("hostViewQueries"));
    }
    // Runs `name` and returns the full handshakes it cost each array.
    std::vector<uint64_t> handshakesOf(const char* name, const Batch& batch) {
        std::vector<uint64_t> before;
        for (const auto& array : arrays) {
            before.push_back(fullHandshakes(array));
        }
        step(name, batch, KYSO::RESULT_SUCCESS);
        std::vector<uint64_t> cost;
        for (size_t i = 0; i < arrays.size(); ++i) {
            cost.push_back(fullHandshakes(arrays[i]) - before[i]);
        }
        return cost;
    }
};

TEST_F(ConnectionEconomy, EveryCallMakesOneFullHandshakePerArray) {
    site::SiteArray& first = startArray("first");
    site::SiteArray& second = startArray("second");
    hostWith({{kDbHostPort, false}});
    Batch batch = volumes(first, {kOraData, kOraLogs});
    // The host does not know the arrays yet: discovery asks each configured array in turn.
    for (TestSnapInfo* request : batch) {
        request->findArrayHostDefault = 1;
        request->findArrayHostAnswers[std::string("first|") + kFcTarget] = 0;
    }
    Batch other = volumes(second, {kOraData});
    other[0]->findArrayHostDefault = 1;
    other[0]->findArrayHostAnswers[std::string("first|") + kFcTarget] = 0;
    Batch both = {batch[0], batch[1], other[0]};

    EXPECT_EQ(handshakesOf("kyso_prepareDevices", both), (std::vector<uint64_t>{1, 1}));
    EXPECT_EQ(handshakesOf("kyso_snapDevices", both), (std::vector<uint64_t>{1, 1}));
    EXPECT_EQ(handshakesOf("kyso_mapSnaps", batch), (std::vector<uint64_t>{1, 0}));
    EXPECT_EQ(handshakesOf("kyso_unmapSnaps", batch), (std::vector<uint64_t>{1, 0}));
    EXPECT_EQ(handshakesOf("kyso_deleteSnaps", both), (std::vector<uint64_t>{1, 1}));
    // Creates, clones and mappings went on fresh connections that resumed the session.
    const jsonxx::Object counters = first.simulator->counters();
    EXPECT_GT(counters.get<jsonxx::Number>("tlsHandshakes"),
              counters.get<jsonxx::Number>("fullTlsHandshakes"));
}

}  // namespace
}  // namespace e2e
