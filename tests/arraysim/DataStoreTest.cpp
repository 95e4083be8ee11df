// SPDX-License-Identifier: Apache-2.0
// The data directory on its own, over a model changed by hand as the methods change it: what
// a kernel target holding an image open sees after a rollback, what a start makes of files
// left in the directory, and that nothing a host puts in a share is followed.
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "DataStore.h"
#include "Model.h"

namespace arraysim {
namespace {

const char* const kLun = "600144F0C8A7B3D1E45F4A2B00010001";

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class DataStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "datastore-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        Dataset volume;
        volume.pool = "p";
        volume.project = "proj";
        volume.name = "vol";
        volume.luId = kLun;
        volume.size = 1ull << 40;  // capped
        model.datasets[volume.path()] = volume;
        Dataset share;
        share.kind = DatasetKind::Share;
        share.pool = "p";
        share.project = "proj";
        share.name = "../home";  // no name reaches the file system as it is
        share.mountPoint = "/export/home";
        model.datasets[share.path()] = share;
    }
    void TearDown() override {
        nftw(
            dir.c_str(),
            [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }

    std::unique_ptr<DataStore> open() {
        std::string error;
        auto store = DataStore::open(dir + "/data", 1u << 20, model, error);
        EXPECT_TRUE(store) << error;
        return store;
    }
    void sync(DataStore& store) {
        std::string error;
        EXPECT_TRUE(store.sync(model, error)) << error;
    }
    Dataset& volume() { return model.datasets.at("p/Local/proj/vol"); }
    Dataset& share() { return model.datasets.at("p/Local/proj/../home"); }
    void rollBack(Dataset& dataset, const std::string& snapshot) {
        dataset.lastRollback = snapshot;
        ++dataset.rollbacks;
    }

    std::string dir;
    Model model;
};

TEST_F(DataStoreTest, RollbackRewritesTheImageInPlaceSoAnOpenDescriptorReadsTheSnapshot) {
    auto store = open();
    const std::string image = store->volumeImage(volume());
    struct stat info {};
    ASSERT_EQ(stat(image.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 1 << 20);
    EXPECT_EQ(info.st_blocks, 0);  // sparse until written
    const int held = ::open(image.c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(pwrite(held, "old", 3, 4096), 3);
    model.addSnapshot(volume(), "s1");
    sync(*store);
    ASSERT_EQ(pwrite(held, "new", 3, 4096), 3);
    ASSERT_EQ(pwrite(held, "tail", 4, (1 << 20) - 4), 4);  // a block the snapshot has as a hole
    rollBack(volume(), "s1");
    sync(*store);
    char seen[4] = {};
    ASSERT_EQ(pread(held, seen, 3, 4096), 3);
    EXPECT_EQ(std::string(seen, 3), "old");
    ASSERT_EQ(pread(held, seen, 4, (1 << 20) - 4), 4);
    EXPECT_EQ(std::string(seen, 4), std::string(4, '\0'));
    close(held);
    // The same rollback again is carried out again.
    std::ofstream(image, std::ios::in | std::ios::out) << "scribble";
    rollBack(volume(), "s1");
    sync(*store);
    EXPECT_EQ(readAll(image).substr(0, 3), std::string(3, '\0'));
}

TEST_F(DataStoreTest, AStartKeepsTheSeedsImagesAndRemovesLeftoversAndPlantedLinks) {
    ASSERT_EQ(mkdir((dir + "/data").c_str(), 0700), 0);
    for (const char* sub : {"volumes", "snapshots", "shares", "share-snapshots"}) {
        ASSERT_EQ(mkdir((dir + "/data/" + sub).c_str(), 0700), 0);
    }
    std::ofstream(dir + "/data/volumes/" + kLun + ".img") << "kept bytes";
    std::ofstream(dir + "/outside") << "not the array's";
    const std::string stale = dir + "/data/volumes/600144F0C8A7B3D1E45F4A2B00019999.img";
    std::ofstream(stale) << "an earlier run's clone";
    std::ofstream(dir + "/data/snapshots/1.img") << "an earlier run's snapshot";
    const std::string shareName = encodedShareName(share().path());
    EXPECT_EQ(shareName.find('/'), std::string::npos);
    ASSERT_EQ(symlink((dir + "/outside").c_str(), (dir + "/data/shares/" + shareName).c_str()), 0);
    auto store = open();
    EXPECT_EQ(readAll(store->volumeImage(volume())), "kept bytes");
    EXPECT_NE(access(stale.c_str(), F_OK), 0);
    EXPECT_NE(access((dir + "/data/snapshots/1.img").c_str(), F_OK), 0);
    struct stat info {};
    ASSERT_EQ(lstat(store->shareTree(share()).c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));  // the planted link went; a real tree took its place
    EXPECT_EQ(readAll(dir + "/outside"), "not the array's");
}

TEST_F(DataStoreTest, AShareSnapshotCopiesLinksAsLinksAndRestoresTheTreeWhole) {
    std::ofstream(dir + "/outside") << "not the array's";
    // A share whose name looks like a temporary of the other's is no temporary.
    Dataset neighbour = share();
    neighbour.name = "../home.restored";
    model.datasets[neighbour.path()] = neighbour;
    auto store = open();
    const std::string tree = store->shareTree(share());
    const std::string neighbourTree = store->shareTree(model.datasets.at(neighbour.path()));
    std::ofstream(neighbourTree + "/kept") << "neighbour";
    ASSERT_EQ(mkdir((tree + "/sub").c_str(), 0755), 0);
    std::ofstream(tree + "/sub/file") << "first";
    ASSERT_EQ(symlink((dir + "/outside").c_str(), (tree + "/link").c_str()), 0);
    model.addSnapshot(share(), "s1");
    sync(*store);
    std::ofstream(tree + "/sub/file") << "second";
    std::ofstream(tree + "/added") << "after";
    ASSERT_EQ(unlink((tree + "/link").c_str()), 0);
    rollBack(share(), "s1");
    sync(*store);
    EXPECT_EQ(readAll(tree + "/sub/file"), "first");
    EXPECT_NE(access((tree + "/added").c_str(), F_OK), 0);
    struct stat info {};
    ASSERT_EQ(lstat((tree + "/link").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(readAll(dir + "/outside"), "not the array's");
    EXPECT_EQ(readAll(neighbourTree + "/kept"), "neighbour");
    // The share goes, and its snapshot's tree with it.
    model.datasets.erase(share().path());
    sync(*store);
    EXPECT_NE(access(tree.c_str(), F_OK), 0);
    EXPECT_NE(access((dir + "/data/share-snapshots/1").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace arraysim
