// SPDX-License-Identifier: Apache-2.0
#include "EvDebugSink.h"
#include "Transcript.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

namespace e2e {
namespace {

// One transcript line per log line: a message's own line breaks are shown, not followed.
std::string oneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// A line diff of `expected` against `actual` ("-" only expected, "+" only actual), from their
// longest common subsequence, with two lines of context around each change.
std::string lineDiff(const std::vector<std::string>& expected,
                     const std::vector<std::string>& actual) {
    const size_t n = expected.size(), m = actual.size();
    std::vector<std::vector<size_t>> common(n + 1, std::vector<size_t>(m + 1, 0));
    for (size_t i = n; i-- > 0;) {
        for (size_t j = m; j-- > 0;) {
            common[i][j] = expected[i] == actual[j] ? common[i + 1][j + 1] + 1
                                                    : std::max(common[i + 1][j], common[i][j + 1]);
        }
    }
    std::vector<std::string> edits;
    size_t i = 0, j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && expected[i] == actual[j]) {
            edits.push_back("  " + expected[i++]);
            ++j;
        } else if (i < n && (j == m || common[i + 1][j] >= common[i][j + 1])) {
            edits.push_back("- " + expected[i++]);
        } else {
            edits.push_back("+ " + actual[j++]);
        }
    }
    std::string out;
    for (size_t k = 0; k < edits.size(); ++k) {
        bool near = false;
        for (size_t d = (k >= 2 ? k - 2 : 0); d <= k + 2 && d < edits.size(); ++d) {
            near = near || edits[d][0] != ' ';
        }
        if (near) {
            out += edits[k] + "\n";
        } else if (!out.empty() && out.compare(out.size() - 4, 4, "...\n") != 0) {
            out += "...\n";
        }
    }
    return out;
}

std::string goldenPath(const std::string& name) {
    return std::string(KYSNAP_SOURCE_DIR) + "/tests/e2e/golden/" + name + ".txt";
}

// Replaces the file at `path` by `text` as a whole: written to a new temporary file beside it
// (never through a link), synced, then renamed over it, so a crash leaves the old file.
bool replaceFile(const std::string& path, const std::string& text, std::string& error) {
    const std::string temporary = path + ".new";
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            break;
        }
        done += static_cast<size_t>(wrote);
    }
    const bool written = done == text.size() && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(written ? errno : saved);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

Transcript::Transcript(const std::vector<testhost::TestSnapInfo*>& requests)
    : requests_(requests), previous_(kyplatform::setEvDebugSink(this)) {
    for (size_t i = 0; i < requests_.size(); ++i) {
        const std::string who = "r" + std::to_string(i);
        requests_[i]->onLog = [this, who](const testhost::LogLine& line) {
            add(who, line.level, line.header, line.text);
        };
    }
}

Transcript::~Transcript() {
    kyplatform::setEvDebugSink(previous_);
    for (testhost::TestSnapInfo* request : requests_) {
        request->onLog = nullptr;
    }
}

void Transcript::write(int level, const std::string& header, const std::string& message) {
    add("debug", level, header, message);
    if (previous_ != nullptr) {
        previous_->write(level, header, message);
    }
}

void Transcript::note(const std::string& line) {
    lines_.push_back("## " + line);
}

void Transcript::outcome(int result) {
    note("result " + std::to_string(result));
    for (size_t i = 0; i < requests_.size(); ++i) {
        const testhost::TestSnapInfo& request = *requests_[i];
        note("r" + std::to_string(i) + " status " + std::to_string(request.status));
        for (const testhost::ErrorReport& error : request.errors) {
            note("r" + std::to_string(i) + " error " + std::to_string(error.code) + " " +
                 error.message);
        }
    }
}

void Transcript::add(const std::string& who, int level, const std::string& header,
                     const std::string& message) {
    lines_.push_back(who + " " + std::to_string(level) + " " + header + " | " + oneLine(message));
}

namespace {

// The name of the machine the test runs on, which the plug-in reads for a local host's
// mappings: written as HOST, so that the transcripts hold on any machine.
std::string withoutHostName(const std::string& line) {
    static const std::string name = [] {
        char text[256] = {};
        return gethostname(text, sizeof text - 1) == 0 ? std::string(text) : std::string();
    }();
    if (name.empty()) {
        return line;
    }
    std::string out = line;
    for (const char* key : {"HOST_NAME:", "HOST_NAME2:"}) {
        const std::string from = key + name + "\\n";
        const std::string to = std::string(key) + "HOST\\n";
        for (size_t at = 0; (at = out.find(from, at)) != std::string::npos; at += to.size()) {
            out.replace(at, from.size(), to);
        }
    }
    return out;
}

}  // namespace

std::string Transcript::text() const {
    static const std::regex port(R"(127\.0\.0\.1:\d+)");
    static const std::regex wall(R"(wall \[\d+ ms\])");
    std::string out;
    for (const std::string& line : lines_) {
        out += withoutHostName(std::regex_replace(std::regex_replace(line, port, "127.0.0.1:PORT"),
                                                  wall, "wall [N ms]")) +
               "\n";
    }
    return out;
}

void expectGolden(const std::string& name, const std::string& actual) {
    const std::string path = goldenPath(name);
    const char* update = std::getenv("KYSNAP_GOLDEN_UPDATE");
    if (update != nullptr && std::string(update) == "1") {
        std::string error;
        EXPECT_TRUE(replaceFile(path, actual, error)) << error;
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "no golden transcript " << path
                    << "; write it with KYSNAP_GOLDEN_UPDATE=1. The transcript:\n"
                    << actual;
    std::stringstream expected;
    expected << in.rdbuf();
    if (expected.str() != actual) {
        ADD_FAILURE() << "the transcript differs from " << path
                      << " (- golden, + this run; KYSNAP_GOLDEN_UPDATE=1 rewrites it):\n"
                      << lineDiff(linesOf(expected.str()), linesOf(actual));
    }
}

}  // namespace e2e
