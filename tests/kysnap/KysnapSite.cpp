// SPDX-License-Identifier: Apache-2.0
#include "KysnapSite.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "Model.h"

namespace kysnap_test {

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

}  // namespace

void KysnapSite::SetUp() {
    // Files the tests write get the modes a usual umask gives them (a pins file its group may
    // write is refused).
    umask(022);
    std::string pattern = ::testing::TempDir() + "kysnap-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory = pattern;

    // The sample array, its user's password replaced by one no output may show.
    std::string seed =
        readFile(std::string(KYSNAP_SOURCE_DIR) + "/tools/arraysim/seed/sample.json");
    const std::string given = "\"password\": \"tegile\"";
    ASSERT_NE(seed.find(given), std::string::npos);
    seed.replace(seed.find(given), given.size(), "\"password\": \"" + password + "\"");
    arraysim::SimulatorOptions options;
    options.seedText = seed;
    options.certDirectory = std::string(KYSNAP_BINARY_DIR) + "/arraysim-tls";
    if (dataImageCap != 0) {
        options.dataDirectory = path("array-data");
        options.dataImageCap = dataImageCap;
    }
    simulator = std::make_unique<arraysim::ArraySimulator>(options);
    std::string error;
    ASSERT_TRUE(simulator->start(error)) << error;

    std::ofstream(path("array.password")) << password << "\n";
    chmod(path("array.password").c_str(), 0600);
    writeConfig();
    runner =
        std::make_unique<KysnapRunner>(directory, std::map<std::string, std::string>{
                                                      {"KYSNAP_TLS_CA_FILE", simulator->caFile()},
                                                      {"KYSNAP_CONFIG", path("kysnap.conf")},
                                                      {"KYSNAP_STATE", path("catalog.json")},
                                                      {"KYSNAP_PLUGIN", KYSNAP_PLUGIN_PATH},
                                                      {"HOME", directory},
                                                  });
}

void KysnapSite::TearDown() {
    runner.reset();
    simulator.reset();
    if (!directory.empty()) {
        nftw(directory.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
}

void KysnapSite::writeConfig(const std::string& hostExtra, const std::string& whole) {
    std::ofstream file(path("kysnap.conf"));
    if (!whole.empty()) {
        file << whole;
        return;
    }
    file << "[host]\n"
            "backend = sim\n"
            "fc-initiators = 21:00:00:24:ff:3d:2a:10\n"
            "esx-name = esx01\n"
            "retry-count = 1\n"
            "retry-interval = 0\n"
         << hostExtra
         << "\n[array arr]\n"
            "address = 127.0.0.1:"
         << simulator->port()
         << "\n"
            "user = admin\n"
            "password-file = "
         << path("array.password") << "\n";
}

CliRun KysnapSite::expectRun(const std::vector<std::string>& arguments, int expected) {
    CliRun run = runner->run(arguments);
    std::string shown;
    for (const std::string& argument : arguments) {
        shown += " " + argument;
    }
    EXPECT_EQ(run.status, expected) << "kysnap" << shown << "\n" << run.out << run.err;
    return run;
}

jsonxx::Object KysnapSite::catalog() {
    const std::string text = readFile(runner->environment.at("KYSNAP_STATE"));
    jsonxx::Object parsed;
    EXPECT_TRUE(parsed.parse(text)) << text;
    return parsed;
}

void KysnapSite::adminClone(const std::string& volumePath, const std::string& id,
                            const std::string& name) {
    simulator->withModel([&](arraysim::Model& model) {
        arraysim::Dataset clone = *model.findDataset(volumePath);
        clone.name = name;
        clone.origin = volumePath + "@Manual-V-" + id;
        clone.luId = model.newLuId();
        clone.snapshots.clear();
        model.datasets[clone.path()] = clone;
    });
}

}  // namespace kysnap_test
