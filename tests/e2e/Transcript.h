// SPDX-License-Identifier: Apache-2.0
// Golden transcripts: what the host was told during one exported call (every log line of its
// requests and of the debug log, with level and header, then the result, statuses and errors),
// compared whole against a checked-in file under tests/e2e/golden/. A change to any text,
// level or header of a call shows as a diff of that file.
//
// To accept a deliberate change, rewrite the files and review them in git:
//   KYSNAP_GOLDEN_UPDATE=1 build/tests/e2e/e2e_test && git diff tests/e2e/golden/
#pragma once

#include <string>
#include <vector>

#include "EvDebug.h"
#include "EvDebugSink.h"
#include "TestSnapInfo.h"

namespace e2e {

class Transcript : public kyplatform::EvDebugSink {
public:
    // Records from now on the log lines of `requests` (named r0, r1, ... in the transcript)
    // and of the debug log (still passed on to the sink installed before), until destroyed.
    explicit Transcript(const std::vector<testhost::TestSnapInfo*>& requests);
    ~Transcript() override;
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    void write(int level, const std::string& header, const std::string& message) override;
    // Adds a line of the test's own, e.g. the call made or its result.
    void note(const std::string& line);
    // Adds the result code, then each request's status and the errors it was given.
    void outcome(int result);

    // The lines, with what changes from run to run (ports, durations) made constant.
    std::string text() const;

private:
    void add(const std::string& who, int level, const std::string& header,
             const std::string& message);

    std::vector<testhost::TestSnapInfo*> requests_;
    std::vector<std::string> lines_;
    kyplatform::EvDebugSink* previous_;
};

// Compares `actual` with tests/e2e/golden/`name`.txt and fails the test with a line diff when
// they differ. With KYSNAP_GOLDEN_UPDATE=1 in the environment the file is rewritten instead.
void expectGolden(const std::string& name, const std::string& actual);

}  // namespace e2e
