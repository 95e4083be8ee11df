// SPDX-License-Identifier: Apache-2.0
// A site for kysnap's end-to-end tests: the sample array simulated in the test process on a
// loopback port, a host configuration for the sim backend that sees it (one FC port in the
// array's group db-host-fc), a password file and a catalog in a fresh directory, and a runner
// whose environment points kysnap at all of them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ArraySimulator.h"
#include "KysnapRunner.h"
#include "jsonxx.h"

namespace kysnap_test {

inline const char* const kOraData = "/dev/sim/600144F0C8A7B3D1E45F4A2B00010001";
inline const char* const kOraLogs = "/dev/sim/600144F0C8A7B3D1E45F4A2B00010002";
inline const char* const kHomeShare = "nfs:127.0.0.1:/export/files/home";
// The array user's password: it must never appear in any output.
inline const char* const kPassword = "Pw-7f3kq9-secret";

class KysnapSite : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the host configuration with `extra` appended to its [host] section (or, when
    // `whole` is given, that text instead).
    void writeConfig(const std::string& hostExtra = "", const std::string& whole = "");
    std::string path(const std::string& name) const { return directory + "/" + name; }

    // Runs kysnap and fails the test when it does not exit with `expected`.
    CliRun expectRun(const std::vector<std::string>& arguments, int expected = 0);
    // The catalog as stored, with the plug-in's texts as it wrote them (`kysnap list --json`
    // shows them in words).
    jsonxx::Object catalog();
    // Makes a clone named `name` of volume `volumePath`'s snapshot of kysnap id `id` directly in
    // the array's model, as an administrator would: no kysnap run knows of it.
    void adminClone(const std::string& volumePath, const std::string& id, const std::string& name);

    // The array user's password; a fixture may choose another before SetUp.
    std::string password = kPassword;
    // When not 0 (set before SetUp), the array keeps its bytes under path("array-data"), in
    // images of at most this many bytes.
    uint64_t dataImageCap = 0;
    std::string directory;
    std::unique_ptr<arraysim::ArraySimulator> simulator;
    std::unique_ptr<KysnapRunner> runner;
};

}  // namespace kysnap_test
