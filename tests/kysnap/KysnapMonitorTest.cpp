// SPDX-License-Identifier: Apache-2.0
// `kysnap monitor` as Nagios and node_exporter read it: the exit status and status line for
// catalogs whose snapshots were made at chosen times before now, and a textfile that a strict
// reader of the Prometheus text format accepts, with the values the catalog and audit log give.
#include <sys/stat.h>

#include <gtest/gtest-spi.h>

#include <ctime>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "Catalog.h"
#include "KYSOTypes.h"
#include "KysnapSite.h"
#include "SnapshotNames.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;

struct Snap {
    std::string device;
    long secondsAgo;
    kysnap::RecordState state = kysnap::RecordState::Created;
    int32_t status = KYSO::SNAP_CREATED;
};

class KysnapMonitor : public KysnapSite {
protected:
    // Writes a catalog with `prepared` devices and `snaps` made at their times before now.
    void writeCatalog(const Strings& prepared, const std::vector<Snap>& snaps) {
        kysnap::Catalog catalog;
        for (const std::string& device : prepared) {
            catalog.devices[device] =
                kysnap::PreparedDevice{"arr", "2.0|x", "", KYSO::SNAP_PREPARED};
        }
        const std::time_t now = std::time(nullptr);
        for (size_t i = 0; i < snaps.size(); ++i) {
            kysnap::SnapshotRecord record;
            record.name = "KY-test-" + std::to_string(i + 1);
            record.device = snaps[i].device;
            record.array = "arr";
            record.created = kysnap::isoTime(now - snaps[i].secondsAgo);
            record.state = snaps[i].state;
            record.status = snaps[i].status;
            catalog.snapshots.push_back(record);
        }
        std::string text;
        std::string error;
        ASSERT_TRUE(catalog.toJson(text, error)) << error;
        std::ofstream(path("catalog.json")) << text;
    }
};

TEST_F(KysnapMonitor, ExitStatusIsNagiosForFreshOldAbsentAndUnreadable) {
    const std::string a = "/dev/sda";
    const std::string b = "/dev/sdb";
    const Strings ages = {"--warn", "1h", "--crit", "2h"};
    struct Case {
        const char* what;
        Strings prepared;
        std::vector<Snap> snaps;
        Strings arguments;  // after "monitor"
        int exit;
        const char* firstLine;  // how the first line starts
        const char* says = "";  // a part of the output
    };
    const std::vector<Case> cases = {
        {"fresh", {a}, {{a, 600}}, ages, 0, "KYSNAP OK - 1 device, newest snapshots at most 10m"},
        {"old: past the warning age", {a}, {{a, 90 * 60}}, ages, 1, "KYSNAP WARNING - /dev/sda "},
        {"older: past the critical age", {a}, {{a, 3 * 3600}}, ages, 2, "KYSNAP CRITICAL - "},
        {"the newest snapshot counts, not an old one",
         {a},
         {{a, 3 * 3600}, {a, 60}},
         ages,
         0,
         "KYSNAP OK - "},
        {"a device with no snapshot",
         {a, b},
         {{a, 60}},
         ages,
         2,
         "KYSNAP CRITICAL - /dev/sdb CRITICAL: no good snapshot |"},
        {"only snapshots that are not good",
         {a},
         {{a, 60, kysnap::RecordState::Failed, KYSO::SNAP_CREATE_FAILED},
          {a, 60, kysnap::RecordState::Creating, 0},
          {a, 60, kysnap::RecordState::Created, KYSO::SNAP_UNAVAILABLE}},
         ages,
         2,
         "KYSNAP CRITICAL - /dev/sda CRITICAL: no good snapshot"},
        {"a named device the catalog does not know",
         {a},
         {{a, 60}},
         {"--warn", "1h", "--crit", "2h", "/dev/sdz"},
         2,
         "KYSNAP CRITICAL - /dev/sdz CRITICAL"},
        {"only the named devices are judged",
         {a, b},
         {{a, 60}},
         {"--warn", "1h", "--crit", "2h", a},
         0,
         "KYSNAP OK - 1 device"},
        {"a snapshot made after now: the clock went back",
         {a},
         {{a, -3600}},
         ages,
         3,
         "KYSNAP UNKNOWN - /dev/sda UNKNOWN: ",
         "the clock was set back"},
        {"no device at all", {}, {}, ages, 3, "KYSNAP UNKNOWN - no device to judge"},
        {"warning and critical together: critical wins",
         {a, b},
         {{a, 90 * 60}},
         ages,
         2,
         "KYSNAP CRITICAL - /dev/sda WARNING: ",
         "/dev/sdb CRITICAL: no good snapshot"},
        {"days as ages",
         {a},
         {{a, 8 * 86400}},
         {"--warn", "1d", "--crit", "7d"},
         2,
         "KYSNAP CRITICAL - /dev/sda CRITICAL: newest snapshot KY-test-1 8d old"},
        {"bad AGE",
         {a},
         {{a, 60}},
         {"--warn", "26x", "--crit", "2h"},
         3,
         "KYSNAP UNKNOWN - usage: --warn takes an age"},
        {"an age without its unit",
         {a},
         {{a, 60}},
         {"--warn", "60", "--crit", "2h"},
         3,
         "KYSNAP UNKNOWN - usage: --warn"},
        {"warn not below crit",
         {a},
         {{a, 60}},
         {"--warn", "2h", "--crit", "120m"},
         3,
         "KYSNAP UNKNOWN - usage: --warn (2h) must be a shorter age than --crit (120m)"},
        {"no crit", {a}, {{a, 60}}, {"--warn", "1h"}, 3, "KYSNAP UNKNOWN - usage: "},
        {"a policy: its devices, judged by the oldest of their newest",
         {a, b, "/dev/sdc"},
         {{a, 600}, {b, 90 * 60}},
         {"--warn", "1h", "--crit", "2h", "--policy", "db"},
         1,
         "KYSNAP WARNING - policy db: /dev/sdb WARNING",
         "policy db: the oldest of its devices' newest snapshots is 1h 30m old"},
        {"a policy the configuration does not have",
         {a},
         {{a, 60}},
         {"--warn", "1h", "--crit", "2h", "--policy", "nodb"},
         3,
         "KYSNAP UNKNOWN - no [policy nodb] in "},
    };
    writeConfig("\n[policy db]\ndevices = " + a + " " + b + "\nhourly = 24\n");
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        writeCatalog(row.prepared, row.snaps);
        Strings arguments = {"monitor"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const CliRun run = expectRun(arguments, row.exit);
        EXPECT_EQ(run.out.rfind(row.firstLine, 0), 0u) << run.out;
        EXPECT_NE(run.out.find(row.says), std::string::npos) << run.out;
    }

    // A catalog that cannot be read: UNKNOWN, never OK.
    std::ofstream(path("catalog.json")) << "{\"format\": ";
    const CliRun unreadable = expectRun(Strings{"monitor", "--warn", "1h", "--crit", "2h"}, 3);
    EXPECT_EQ(unreadable.out.rfind("KYSNAP UNKNOWN - the catalog cannot be read: ", 0), 0u)
        << unreadable.out;
    const CliRun json = expectRun(Strings{"monitor", "--warn", "1h", "--crit", "2h", "--json"}, 3);
    EXPECT_NE(json.out.find("\"exitStatus\": 3"), std::string::npos) << json.out;
}

// A strict reader of the Prometheus text format, for what kysnap writes: HELP and TYPE lines
// once per family and before its samples, each family's samples together, names and labels of
// the format's syntax, label values with only the three escapes, float values, no series twice.
// The samples, by series ("name{label="value",...}" with labels as written), or a failure.
std::map<std::string, double> readTextFormat(const std::string& text) {
    static const std::regex name("[a-zA-Z_:][a-zA-Z0-9_:]*");
    static const std::regex label("[a-zA-Z_][a-zA-Z0-9_]*");
    static const std::regex value(
        "[+-]?(Inf|NaN|([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][+-]?[0-9]+)?)");
    std::map<std::string, double> samples;
    std::set<std::string> helped, typed, closed;
    std::string open;  // the family whose samples come now
    EXPECT_TRUE(!text.empty() && text.back() == '\n') << "the file ends with a newline";
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        SCOPED_TRACE(line);
        if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) {
            const bool help = line[2] == 'H';
            const std::string rest = line.substr(7);
            const std::string family = rest.substr(0, rest.find(' '));
            EXPECT_TRUE(std::regex_match(family, name));
            EXPECT_TRUE((help ? helped : typed).insert(family).second) << "given twice";
            EXPECT_EQ(closed.count(family), 0u) << "after its samples";
            if (!help) {
                const std::string type = rest.substr(family.size() + 1);
                EXPECT_TRUE(type == "counter" || type == "gauge") << type;
                const bool total =
                    family.size() > 6 && family.compare(family.size() - 6, 6, "_total") == 0;
                EXPECT_TRUE(type != "counter" || total) << "a counter's name ends _total";
            }
            if (family != open && !open.empty()) {
                closed.insert(open);
            }
            open = family;
            continue;
        }
        EXPECT_NE(line[0], '#') << "a comment of no known kind";
        size_t at = 0;
        while (at < line.size() && line[at] != '{' && line[at] != ' ') {
            ++at;
        }
        const std::string family = line.substr(0, at);
        EXPECT_TRUE(std::regex_match(family, name));
        EXPECT_EQ(family, open) << "a sample outside its family's block";
        EXPECT_EQ(typed.count(family), 1u) << "a sample before its TYPE";
        std::string series = family;
        if (at < line.size() && line[at] == '{') {
            series += "{";
            ++at;
            std::set<std::string> labelNames;
            while (at < line.size() && line[at] != '}') {
                const size_t equals = line.find('=', at);
                EXPECT_NE(equals, std::string::npos);
                if (equals == std::string::npos) {
                    return {};
                }
                const std::string labelName = line.substr(at, equals - at);
                EXPECT_TRUE(std::regex_match(labelName, label)) << labelName;
                EXPECT_TRUE(labelNames.insert(labelName).second) << "label twice";
                EXPECT_EQ(line[equals + 1], '"');
                std::string labelValue;
                at = equals + 2;
                for (; at < line.size() && line[at] != '"'; ++at) {
                    if (line[at] == '\\') {
                        ++at;
                        const char escaped = at < line.size() ? line[at] : '?';
                        EXPECT_TRUE(escaped == '\\' || escaped == '"' || escaped == 'n')
                            << "escape \\" << escaped;
                        labelValue += escaped == 'n' ? '\n' : escaped;
                    } else {
                        labelValue += line[at];
                    }
                }
                EXPECT_LT(at, line.size()) << "an unclosed label value";
                ++at;
                series += labelName + "=" + labelValue + (line[at] == ',' ? "," : "");
                if (at < line.size() && line[at] == ',') {
                    ++at;
                }
            }
            EXPECT_LT(at, line.size()) << "unclosed labels";
            series += "}";
            ++at;
        }
        EXPECT_EQ(line[at], ' ');
        const std::string number = line.substr(at + 1);
        EXPECT_TRUE(std::regex_match(number, value)) << number;
        EXPECT_TRUE(samples.emplace(series, std::strtod(number.c_str(), nullptr)).second)
            << "series twice: " << series;
    }
    EXPECT_EQ(helped, typed) << "every family has both HELP and TYPE";
    return samples;
}

TEST_F(KysnapMonitor, TextfileReadsAsPrometheusTextWithTheCatalogsAndAuditLogsValues) {
    // A device name with every character the format escapes.
    const std::string odd = "/dev/odd\"name\\with\nnewline";
    writeCatalog({"/dev/sda", odd, "/dev/sdc"}, {{"/dev/sda", 600}, {odd, 7200}});
    const std::time_t now = std::time(nullptr);
    const auto line = [](const std::string& time, const std::string& device,
                         const std::string& result, double seconds) {
        nlohmann::json entry = {{"time", time},       {"uid", 0},
                                {"host", "db01"},     {"operation", "snap"},
                                {"array", "arr"},     {"device", device},
                                {"result", result},   {"methods", {"createSnapshots"}},
                                {"seconds", seconds}, {"exitStatus", 0}};
        return entry.dump() + "\n";
    };
    const std::string earlier = kysnap::isoTime(now - 7200);
    const std::string later = kysnap::isoTime(now - 600);
    std::ofstream(path("audit.log"))
        << line(earlier, "/dev/sda", "succeeded", 2.5) << line(later, "/dev/sda", "failed", 4.0)
        << line(later, odd, "succeeded", 1.25) << "a malformed line\n"
        << line(later, "/dev/not-judged", "failed", 9);
    const std::string file = path("kysnap.prom");

    const CliRun run =
        expectRun({"monitor", "--warn", "1h", "--crit", "3h", "--prom-textfile", file}, 2);
    const std::string text = readFile(file);
    const std::map<std::string, double> samples = readTextFormat(text);
    const std::string sda = "device=/dev/sda,array=arr";
    const std::string snapSda = "operation=snap,device=/dev/sda,array=arr";
    const std::map<std::string, double> expected = {
        {"kysnap_newest_snapshot_age_seconds{" + sda + "}", 600},
        {"kysnap_newest_snapshot_age_seconds{device=" + odd + ",array=arr}", 7200},
        {"kysnap_newest_snapshot_timestamp_seconds{" + sda + "}", double(now - 600)},
        {"kysnap_good_snapshots{device=/dev/sdc}", 0},
        {"kysnap_good_snapshots{device=/dev/sda}", 1},
        {"kysnap_last_success_timestamp_seconds{" + snapSda + "}", double(now - 7200)},
        {"kysnap_operation_duration_seconds{" + snapSda + "}", 4.0},
        {"kysnap_operation_failures_total{" + snapSda + "}", 1},
        {"kysnap_operation_failures_total{operation=snap,device=" + odd + ",array=arr}", 0},
        {"kysnap_audit_malformed_lines", 1},
        {"kysnap_monitor_status", 2},
    };
    for (const auto& [series, value] : expected) {
        const auto found = samples.find(series);
        ASSERT_NE(found, samples.end()) << series << "\n" << text;
        // Ages are counted from the run's own now, a second or two after this test's.
        EXPECT_NEAR(found->second, value, series.find("age") != std::string::npos ? 5 : 0.001)
            << series;
    }
    for (const auto& [series, value] : samples) {
        EXPECT_EQ(series.find("not-judged"), std::string::npos) << series;
        EXPECT_EQ(series.find("kysnap_newest_snapshot_age_seconds{device=/dev/sdc"),
                  std::string::npos);
    }
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_EQ(run.err, "");

    // A textfile that cannot be written leaves the verdict UNKNOWN: stale metrics look fresh.
    writeCatalog({"/dev/sda"}, {{"/dev/sda", 60}});
    const CliRun unwritable = expectRun(
        {"monitor", "--warn", "1h", "--crit", "3h", "--prom-textfile", path("no/such/x.prom")}, 3);
    EXPECT_EQ(unwritable.out.rfind("KYSNAP UNKNOWN - 1 device", 0), 0u) << unwritable.out;
    EXPECT_NE(unwritable.err.find("the textfile"), std::string::npos) << unwritable.err;
}

// The checker itself refuses what the format does not allow, so that its passing means
// something.
TEST(PrometheusTextChecker, RefusesWhatTheFormatForbids) {
    const std::vector<std::pair<const char*, std::string>> wrong = {
        {"a sample before its TYPE", "m 1\n"},
        {"an unknown escape", "# HELP m h\n# TYPE m gauge\nm{a=\"x\\t\"} 1\n"},
        {"a series twice", "# HELP m h\n# TYPE m gauge\nm{a=\"x\"} 1\nm{a=\"x\"} 2\n"},
        {"a family reopened",
         "# HELP m h\n# TYPE m gauge\nm 1\n# HELP n h\n# TYPE n gauge\nn 1\nm{a=\"y\"} 1\n"},
        {"a value that is no float", "# HELP m h\n# TYPE m gauge\nm one\n"},
        {"a bad metric name", "# HELP 1m h\n# TYPE 1m gauge\n1m 1\n"},
        {"a counter not ending _total", "# HELP c h\n# TYPE c counter\nc 1\n"},
    };
    for (const auto& [what, text] : wrong) {
        ::testing::TestPartResultArray failures;
        {
            ::testing::ScopedFakeTestPartResultReporter reporter(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                &failures);
            readTextFormat(text);
        }
        EXPECT_GT(failures.size(), 0) << what;
    }
}

}  // namespace
}  // namespace kysnap_test
