// SPDX-License-Identifier: Apache-2.0
// The bytes, not only the requests: against an array that keeps its data, a mapped snapshot
// must read what its source held when the snapshot was taken, each volume's clone its own
// source's, and a revert must bring exactly those bytes back. The control plane alone would
// pass with the clone of the wrong volume mapped, or a revert to the wrong snapshot.
//
// Images are 16 MiB sparse files; each moment writes a 4 KiB pattern at the start, across
// the middle and at the end of a volume, and a small tree into the share.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <fstream>
#include <map>

#include "KysnapSite.h"

namespace kysnap_test {
namespace {

using Strings = std::vector<std::string>;

constexpr uint64_t kImageBytes = 16u << 20;
constexpr size_t kBlock = 4096;
const char* const kHomeExport = "127.0.0.1:/export/files/home";

// What `kysnap devices --json` says of the host's data paths.
struct DataPaths {
    std::map<std::string, std::string> byDevice;    // device -> image file
    std::map<std::string, std::string> bySnapshot;  // mounted snapshot id -> image file
    std::map<std::string, std::string> byShare;     // "server:/mount" -> tree
};

std::string textOf(const jsonxx::Object& object, const char* key) {
    return object.has<jsonxx::String>(key) ? object.get<jsonxx::String>(key) : std::string();
}

jsonxx::Array listOf(const jsonxx::Object& object, const char* key) {
    return object.has<jsonxx::Array>(key) ? object.get<jsonxx::Array>(key) : jsonxx::Array();
}

std::vector<off_t> patternPlaces(off_t size) {
    return {0, size / 2 - static_cast<off_t>(kBlock / 2), size - static_cast<off_t>(kBlock)};
}

std::string patternBlock(const std::string& moment, off_t at) {
    std::string block;
    const std::string unit = moment + "@" + std::to_string(at) + ";";
    while (block.size() < kBlock) {
        block += unit;
    }
    return block.substr(0, kBlock);
}

class KysnapData : public KysnapSite {
protected:
    void SetUp() override {
        dataImageCap = kImageBytes;
        KysnapSite::SetUp();
    }

    DataPaths dataPaths() {
        const CliRun run = expectRun({"devices", "--json"});
        jsonxx::Object report;
        EXPECT_TRUE(report.parse(run.out)) << run.out;
        DataPaths paths;
        const jsonxx::Array devices = listOf(report, "devices");
        for (size_t i = 0; i < devices.size(); ++i) {
            const jsonxx::Object& device = devices.get<jsonxx::Object>(i);
            const std::string dataPath = textOf(device, "dataPath");
            paths.byDevice[device.get<jsonxx::String>("device")] = dataPath;
            const std::string snapshot = textOf(device, "snapshot");
            if (!snapshot.empty()) {
                paths.bySnapshot[snapshot] = dataPath;
            }
        }
        const jsonxx::Array shares = listOf(report, "shares");
        for (size_t i = 0; i < shares.size(); ++i) {
            const jsonxx::Object& share = shares.get<jsonxx::Object>(i);
            paths.byShare[share.get<jsonxx::String>("share")] =
                share.get<jsonxx::String>("dataPath");
        }
        return paths;
    }

    // Writes the moment's pattern through the image, as a host writes its disk.
    static void writeVolume(const std::string& image, const std::string& moment) {
        const int fd = open(image.c_str(), O_WRONLY | O_NOFOLLOW);
        ASSERT_GE(fd, 0) << image;
        struct stat info {};
        ASSERT_EQ(fstat(fd, &info), 0);
        ASSERT_EQ(static_cast<uint64_t>(info.st_size), kImageBytes) << image;
        for (const off_t at : patternPlaces(info.st_size)) {
            const std::string block = patternBlock(moment, at);
            ASSERT_EQ(pwrite(fd, block.data(), block.size(), at),
                      static_cast<ssize_t>(block.size()));
        }
        close(fd);
    }

    // Which moment's pattern the open image holds at every place: the moment, "mixed" when
    // the places disagree, "none" when one holds no pattern.
    static std::string momentIn(int fd, const Strings& moments) {
        struct stat info {};
        if (fstat(fd, &info) != 0) {
            return "unreadable";
        }
        std::string found;
        for (const off_t at : patternPlaces(info.st_size)) {
            std::string block(kBlock, '\0');
            if (pread(fd, block.data(), block.size(), at) != static_cast<ssize_t>(kBlock)) {
                return "short";
            }
            std::string here = "none";
            for (const std::string& moment : moments) {
                if (block == patternBlock(moment, at)) {
                    here = moment;
                }
            }
            if (!found.empty() && found != here) {
                return "mixed";
            }
            found = here;
        }
        return found;
    }

    static std::string momentOf(const std::string& image, const Strings& moments) {
        const int fd = open(image.c_str(), O_RDONLY | O_NOFOLLOW);
        if (fd < 0) {
            return "no image " + image;
        }
        const std::string moment = momentIn(fd, moments);
        close(fd);
        return moment;
    }

    // A share's files: one at the top, one a directory down.
    static void writeShare(const std::string& tree, const std::string& moment) {
        mkdir((tree + "/db").c_str(), 0755);
        std::ofstream(tree + "/README", std::ios::trunc) << "home at " << moment << "\n";
        std::ofstream(tree + "/db/table", std::ios::trunc) << patternBlock(moment, 0);
    }

    static std::string shareMoment(const std::string& tree, const Strings& moments) {
        const std::string readme = readFile(tree + "/README");
        const std::string table = readFile(tree + "/db/table");
        for (const std::string& moment : moments) {
            if (readme == "home at " + moment + "\n" && table == patternBlock(moment, 0)) {
                return moment;
            }
        }
        return "none (README: " + readme + ")";
    }

    std::string snapOne(const std::string& device) {
        const CliRun run = expectRun({"snap", device, "--json"});
        jsonxx::Object report;
        EXPECT_TRUE(report.parse(run.out)) << run.out;
        return report.get<jsonxx::Array>("requests")
            .get<jsonxx::Object>(0)
            .get<jsonxx::String>("snapshot");
    }

    // Entries in a directory of the array's data.
    size_t filesIn(const std::string& sub) {
        size_t count = 0;
        DIR* dir = opendir(path("array-data/" + sub).c_str());
        if (dir == nullptr) {
            return 0;
        }
        while (const dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
        return count;
    }
};

// Two volumes of different content and a share, snapshotted together and then overwritten:
// each mapped copy reads its own source at the snapshot's moment, the sources keep their new
// bytes, and a revert brings the snapshot's bytes back, through a descriptor opened before
// it too (a kernel target holding the image open must see them).
TEST_F(KysnapData, EachMappedCloneReadsItsOwnSourceAtTheSnapshotsMomentAndRevertRestoresIt) {
    const Strings moments = {"data-1", "data-2", "logs-1", "logs-2", "home-1", "home-2"};
    expectRun({"prepare", kOraData, kOraLogs, kHomeShare});
    const DataPaths sources = dataPaths();
    const std::string data = sources.byDevice.at(kOraData);
    const std::string logs = sources.byDevice.at(kOraLogs);
    ASSERT_EQ(sources.byShare.count(kHomeExport), 1u);
    const std::string home = sources.byShare.at(kHomeExport);
    ASSERT_NE(data, logs);
    writeVolume(data, "data-1");
    writeVolume(logs, "logs-1");
    writeShare(home, "home-1");

    const std::string dataId = snapOne(kOraData);
    const std::string logsId = snapOne(kOraLogs);
    const std::string homeId = snapOne(kHomeShare);
    writeVolume(data, "data-2");
    writeVolume(logs, "logs-2");
    writeShare(home, "home-2");

    expectRun({"map", dataId, logsId, homeId});
    const DataPaths mapped = dataPaths();
    ASSERT_EQ(mapped.bySnapshot.count(dataId), 1u);
    ASSERT_EQ(mapped.bySnapshot.count(logsId), 1u);
    EXPECT_EQ(momentOf(mapped.bySnapshot.at(dataId), moments), "data-1");
    EXPECT_EQ(momentOf(mapped.bySnapshot.at(logsId), moments), "logs-1");
    const std::string homeClone = "127.0.0.1:/export/files/MNT_" + homeId;
    ASSERT_EQ(mapped.byShare.count(homeClone), 1u);
    EXPECT_EQ(shareMoment(mapped.byShare.at(homeClone), moments), "home-1");
    EXPECT_EQ(momentOf(data, moments), "data-2");
    EXPECT_EQ(momentOf(logs, moments), "logs-2");
    EXPECT_EQ(shareMoment(home, moments), "home-2");

    expectRun({"unmap", dataId, logsId, homeId});
    const int heldOpen = open(data.c_str(), O_RDONLY);
    ASSERT_GE(heldOpen, 0);
    expectRun({"revert", "--destroy-newer", "--yes", dataId});
    expectRun({"revert", "--destroy-newer", "--yes", logsId});
    expectRun({"revert", "--destroy-newer", "--yes", homeId});
    EXPECT_EQ(momentOf(data, moments), "data-1");
    EXPECT_EQ(momentIn(heldOpen, moments), "data-1");
    close(heldOpen);
    EXPECT_EQ(momentOf(logs, moments), "logs-1");
    EXPECT_EQ(shareMoment(home, moments), "home-1");
    EXPECT_EQ(dataPaths().byDevice.at(kOraData), data);  // the same image, restored in place
}

// Snapshots of two moments each map to their own moment's bytes. Reverting to the newer one
// brings its bytes back, not the older one's; reverting to the older one then destroys the
// newer snapshot, whose image goes with it, as every clone's goes with its unmap and every
// snapshot's with its delete.
TEST_F(KysnapData, SnapshotsOfTwoMomentsMapToTheirOwnBytesAndDestroyedOnesLeaveNoImage) {
    const Strings moments = {"t1", "t2", "t3"};
    expectRun({"prepare", kOraData});
    const std::string data = dataPaths().byDevice.at(kOraData);
    const size_t volumesAtStart = filesIn("volumes");
    const size_t snapshotsAtStart = filesIn("snapshots");  // the seed's own
    writeVolume(data, "t1");
    const std::string first = snapOne(kOraData);
    writeVolume(data, "t2");
    const std::string second = snapOne(kOraData);
    writeVolume(data, "t3");
    EXPECT_EQ(filesIn("snapshots"), snapshotsAtStart + 2);

    expectRun({"map", first, second});
    const DataPaths mapped = dataPaths();
    EXPECT_EQ(momentOf(mapped.bySnapshot.at(first), moments), "t1");
    EXPECT_EQ(momentOf(mapped.bySnapshot.at(second), moments), "t2");
    EXPECT_EQ(filesIn("volumes"), volumesAtStart + 2);
    expectRun({"unmap", first, second});
    EXPECT_EQ(filesIn("volumes"), volumesAtStart);

    expectRun({"revert", "--destroy-newer", "--yes", second});
    EXPECT_EQ(momentOf(data, moments), "t2");
    EXPECT_EQ(filesIn("snapshots"), snapshotsAtStart + 2);
    expectRun({"revert", "--destroy-newer", "--yes", first});
    EXPECT_EQ(momentOf(data, moments), "t1");
    EXPECT_EQ(filesIn("snapshots"), snapshotsAtStart + 1);  // the newer one's went with it
    expectRun({"map", first});
    EXPECT_EQ(momentOf(dataPaths().bySnapshot.at(first), moments), "t1");
    expectRun({"unmap", first});
    expectRun({"delete", first});
    EXPECT_EQ(filesIn("snapshots"), snapshotsAtStart);
    EXPECT_EQ(filesIn("volumes"), volumesAtStart);
}

}  // namespace
}  // namespace kysnap_test
