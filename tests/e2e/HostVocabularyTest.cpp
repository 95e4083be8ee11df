// SPDX-License-Identifier: Apache-2.0
// The texts kysnap reads in the plug-in's log (PluginTexts.h) are what the plug-in logs: each is
// found in the golden transcripts or in what the built plug-in logs against the simulator, so a
// text changed on one side alone fails here instead of leaving kysnap blind.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PluginSite.h"
#include "PluginTexts.h"

namespace e2e {
namespace {

using site::kDbHostPort;
using site::kOraData;

// The text of every line of every golden transcript ("rN LEVEL HEADER | text").
std::vector<std::string> goldenTexts() {
    std::vector<std::string> texts;
    const std::filesystem::path folder = std::string(KYSNAP_SOURCE_DIR) + "/tests/e2e/golden";
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            const size_t bar = line.find(" | ");
            if (bar != std::string::npos) {
                texts.push_back(line.substr(bar + 3));
            }
        }
    }
    return texts;
}

bool anyEquals(const std::vector<std::string>& texts, const std::string& wanted) {
    for (const std::string& text : texts) {
        if (text == wanted) {
            return true;
        }
    }
    return false;
}

bool anyContains(const std::vector<std::string>& texts, const std::string& fragment) {
    for (const std::string& text : texts) {
        if (text.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The texts of the request's lines at `level`.
std::vector<std::string> linesAt(const TestSnapInfo& request, int32_t level) {
    std::vector<std::string> texts;
    for (const hostkit::LogLine& line : request.logLines) {
        if (line.level == level) {
            texts.push_back(line.text);
        }
    }
    return texts;
}

using HostVocabulary = PluginSite;

TEST_F(HostVocabulary, MappingRetryAndReconcileTextsAreInTheGoldenTranscripts) {
    const std::vector<std::string> texts = goldenTexts();
    ASSERT_FALSE(texts.empty());
    // kysnap compares the whole text of these lines.
    for (const char* whole :
         {plugintext::kRetriesStart, plugintext::kRetryFound, plugintext::kRetriesEnd}) {
        EXPECT_TRUE(anyEquals(texts, whole)) << whole;
    }
    // ... and reads the retries left out of this one with the format itself.
    bool retryRead = false;
    for (const std::string& text : texts) {
        int left = 0;
        int interval = 0;
        retryRead =
            retryRead || std::sscanf(text.c_str(), plugintext::kRetryFormat, &left, &interval) == 2;
    }
    EXPECT_TRUE(retryRead) << plugintext::kRetryFormat;
    EXPECT_TRUE(anyContains(texts, std::string(plugintext::kReconcileFailed)))
        << plugintext::kReconcileFailed;
}

// kysnap's audit log names the array methods a request sent from these lines.
TEST_F(HostVocabulary, ArrayRequestAndCallMemoryAnswerTextsAreInTheGoldenTranscripts) {
    const std::vector<std::string> texts = goldenTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_TRUE(anyContains(texts, std::string(plugintext::kRequestUrl) + "https://127.0.0.1:PORT" +
                                       plugintext::kApiPath + "deleteVolumeSnapshot] request ["));
    EXPECT_TRUE(anyContains(texts, std::string(plugintext::kCallMemoryAnswer) + " ["));
}

TEST_F(HostVocabulary, RefusedCredentialsShowEverySignKysnapLooksForAmongTheFailureLines) {
    site::SiteArray& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    Batch batch = volumes(array, {kOraData});
    batch[0]->arrayInfo = arrayInfo(array, "wrong-password");
    ASSERT_EQ(call("kyso_prepareDevices", batch), KYSO::RESULT_FAILED);
    const std::vector<std::string> failures = linesAt(*batch[0], 2);
    for (const char* sign : plugintext::kCredentialsRefusedSigns) {
        EXPECT_TRUE(anyContains(failures, sign)) << sign << "\n" << batch[0]->logText();
    }
}

TEST_F(HostVocabulary, SnapshotIdTakenOnTheArrayIsLoggedBesideTheTakenText) {
    site::SiteArray& array = startArray("arr");
    hostWith({{kDbHostPort, false}});
    Batch first = volumes(array, {kOraData});
    step("kyso_prepareDevices", first, KYSO::RESULT_SUCCESS);
    step("kyso_snapDevices", first, KYSO::RESULT_SUCCESS);
    // Another host's request for the same snapshot id, as a fresh catalog would make.
    Batch again = volumes(array, {kOraData});
    step("kyso_prepareDevices", again, KYSO::RESULT_SUCCESS);
    ASSERT_EQ(call("kyso_snapDevices", again), KYSO::RESULT_FAILED);
    const std::string id = std::string(kSnapName) + "-1";
    bool besideTheId = false;
    for (const std::string& text : linesAt(*again[0], 2)) {
        besideTheId =
            besideTheId || (text.find(id) != std::string::npos &&
                            text.find(plugintext::kArrayAlreadyExists) != std::string::npos);
    }
    EXPECT_TRUE(besideTheId) << again[0]->logText();
}

}  // namespace
}  // namespace e2e
