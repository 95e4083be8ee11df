// SPDX-License-Identifier: Apache-2.0
// The Linux backend's reading of sysfs and open-iscsi, over a tree that stands for "/".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "KysnapRunner.h"
#include "LinuxDevices.h"

namespace kysnap_test {
namespace {

class LinuxTree : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "kysnap-linux-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
    }
    void TearDown() override {
        std::error_code ignored;  // a leftover temporary directory is no test failure
        std::filesystem::remove_all(root, ignored);
    }

    // Writes `text` at `file` below the root, making its directories.
    void put(const std::string& file, const std::string& text = "") {
        for (size_t slash = file.find('/', 1); slash != std::string::npos;
             slash = file.find('/', slash + 1)) {
            mkdir((root + file.substr(0, slash)).c_str(), 0700);
        }
        std::ofstream(root + file) << text;
    }
    void disk(const std::string& name, const std::string& vendor, const std::string& wwid) {
        put("/sys/block/" + name + "/device/vendor", vendor + "\n");
        put("/sys/block/" + name + "/device/delete");
        if (!wwid.empty()) {
            put("/sys/block/" + name + "/device/wwid", wwid + "\n");
        }
        mkdir((root + "/sys/block/" + name + "/holders").c_str(), 0700);
    }

    // Paths `names` of one LUN, under the multipath map dm-1 (mpathb) when `map`.
    void lun(const std::vector<std::string>& names, bool map) {
        for (const std::string& name : names) {
            disk(name, "TEGILE  ", "naa.600144f0c8a7b3d1e45f4a2b00010003");
            if (map) {
                put("/sys/block/" + name + "/holders/dm-1");
                put("/sys/block/dm-1/slaves/" + name);
            }
        }
        if (map) {
            put("/sys/block/dm-1/dm/uuid", "mpath-3600144f0c8a7b3d1e45f4a2b00010003\n");
            put("/sys/block/dm-1/dm/name", "mpathb\n");
        }
    }
    // A dmsetup that logs its arguments, and whose remove fails when `busy`.
    void fakeDmsetup(bool busy) {
        put("/bin/dmsetup",
            "#!/bin/sh\necho \"$*\" >> '" + root + "/dmsetup.log'\n" +
                (busy ? "[ \"$1\" = remove ] && { echo 'device-mapper: remove ioctl on mpathb "
                        "failed: Device or resource busy' >&2; exit 1; }\n"
                      : "") +
                "exit 0\n");
        chmod((root + "/bin/dmsetup").c_str(), 0700);
    }

    std::string root;
};

// Restores PATH when it goes.
struct PathPrefix {
    explicit PathPrefix(const std::string& directory) : saved(std::getenv("PATH")) {
        setenv("PATH", (directory + ":" + saved).c_str(), 1);
    }
    ~PathPrefix() { setenv("PATH", saved.c_str(), 1); }
    std::string saved;
};

// Unmapping a LUN seen through several paths must leave none of them, nor the map above them.
TEST_F(LinuxTree, RemovingADeviceRemovesEveryPathOfItsLunAndItsMultipathMapFirst) {
    using Strings = std::vector<std::string>;
    struct Case {
        const char* scenario;
        std::function<void()> arrange;
        const char* device;  // as the plug-in names it
        bool removed;
        Strings deleted;  // the paths whose device/delete was written
        std::string dmsetupCalls;
        std::string says = "";
    };
    const std::string mapRemoved = "message mpathb 0 fail_if_no_path\nremove --retry mpathb\n";
    const std::vector<Case> cases = {
        {"two paths, no multipath map, named by its first path",
         [&] {
             lun({"sde", "sdf"}, false);
         },
         "/dev/sde",
         true,
         {"sde", "sdf"},
         ""},
        {"two paths, no multipath map, named by its second path",
         [&] {
             lun({"sde", "sdf"}, false);
         },
         "/dev/sdf",
         true,
         {"sde", "sdf"},
         ""},
        {"two paths under a multipath map, named by the map",
         [&] {
             lun({"sde", "sdf"}, true);
         },
         "/dev/mapper/mpathb",
         true,
         {"sde", "sdf"},
         mapRemoved},
        {"two paths under a multipath map, named by one path",
         [&] {
             lun({"sde", "sdf"}, true);
         },
         "/dev/sdf",
         true,
         {"sde", "sdf"},
         mapRemoved},
        {"paths on two SCSI hosts through two target ports each",
         [&] {
             lun({"sde", "sdf", "sdg", "sdh"}, false);
             put("/sys/class/scsi_device/3:0:0:1/device/block/sde");
             put("/sys/class/scsi_device/3:0:1:1/device/block/sdf");
             put("/sys/class/scsi_device/4:0:0:1/device/block/sdg");
             put("/sys/class/scsi_device/4:0:1:1/device/block/sdh");
         },
         "/dev/sdg",
         true,
         {"sde", "sdf", "sdg", "sdh"},
         ""},
        {"a path whose delete fails: the others go, the failure is told",
         [&] {
             lun({"sde", "sdf"}, false);
             unlink((root + "/sys/block/sdf/device/delete").c_str());
             mkdir((root + "/sys/block/sdf/device/delete").c_str(), 0700);
         },
         "/dev/sde",
         false,
         {"sde"},
         "",
         "a path of /dev/sde is still on the host: cannot write " + root +
             "/sys/block/sdf/device/delete"},
        {"a multipath map that cannot be removed keeps its paths",
         [&] {
             lun({"sde", "sdf"}, true);
             fakeDmsetup(true);
         },
         "/dev/mapper/mpathb",
         false,
         {},
         "message mpathb 0 fail_if_no_path\nremove --retry mpathb\n",
         "/dev/mapper/mpathb is still on the host: cannot remove the multipath map mpathb (dm-1): "
         "device-mapper: remove ioctl on mpathb failed: Device or resource busy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        for (const auto& entry : std::filesystem::directory_iterator(root)) {
            std::filesystem::remove_all(entry.path());
        }
        const PathPrefix fakes(root + "/bin");
        fakeDmsetup(false);
        disk("sdb", "TEGILE  ", "naa.600144f0c8a7b3d1e45f4a2b00010001");  // another LUN
        c.arrange();
        std::string why;
        EXPECT_EQ(kysnap::LinuxDevices(root).removeDevice(c.device, why), c.removed) << why;
        EXPECT_NE(why.find(c.says), std::string::npos) << why;
        Strings deleted;
        for (const char* path : {"sdb", "sde", "sdf", "sdg", "sdh"}) {
            if (readFile(root + "/sys/block/" + path + "/device/delete") == "1") {
                deleted.push_back(path);
            }
        }
        EXPECT_EQ(deleted, c.deleted);
        EXPECT_EQ(readFile(root + "/dmsetup.log"), c.dmsetupCalls);
    }
}

TEST_F(LinuxTree, OneDevicePerLunMultipathFirstAndUnmappedOnesAreDeleted) {
    disk("sda", "ATA     ", "t10.ATA disk");
    disk("sdb", "TEGILE  ", "naa.600144f0c8a7b3d1e45f4a2b00010001");  // two paths under
    disk("sdc", "TEGILE  ", "naa.600144f0c8a7b3d1e45f4a2b00010001");  // multipath map mpatha
    put("/sys/block/sdb/holders/dm-0");
    put("/sys/block/sdc/holders/dm-0");
    put("/sys/block/dm-0/dm/uuid", "mpath-3600144f0c8a7b3d1e45f4a2b00010001\n");
    put("/sys/block/dm-0/dm/name", "mpatha\n");
    disk("sdd", "TEGILE  ", "naa.600144f0c8a7b3d1e45f4a2b00010002");  // two paths, no
    disk("sde", "TEGILE  ", "naa.600144f0c8a7b3d1e45f4a2b00010002");  // multipath
    disk("sdf", "TEGILE  ", "");
    kysnap::LinuxDevices linux(root);
    std::vector<std::string> devices;
    std::string why;
    ASSERT_TRUE(linux.arrayDevices("TEGILE", devices, why)) << why;
    EXPECT_EQ(devices, (std::vector<std::string>{"/dev/mapper/mpatha", "/dev/sdd", "/dev/sdf"}));

    EXPECT_FALSE(linux.rescanBuses(why));
    EXPECT_NE(why.find("no SCSI host adapter"), std::string::npos) << why;
    put("/sys/class/scsi_host/host0/scan");
    put("/sys/class/scsi_host/host1/scan");
    ASSERT_TRUE(linux.removeDevice("/dev/sdd", why)) << why;
    ASSERT_TRUE(linux.removeDevice("/dev/sdz", why)) << "a device already gone is no error";
    ASSERT_TRUE(linux.rescanBuses(why)) << why;
    EXPECT_EQ(readFile(root + "/sys/block/sdd/device/delete"), "1");
    EXPECT_EQ(readFile(root + "/sys/block/sde/device/delete"), "1") << "the LUN's other path";
    EXPECT_EQ(readFile(root + "/sys/block/sdb/device/delete"), "") << "another LUN";
    EXPECT_EQ(readFile(root + "/sys/class/scsi_host/host1/scan"), "- - -");
}

TEST_F(LinuxTree, InitiatorsComeFromFcHostsAndOpenIscsiOrTheirAbsenceIsExplained) {
    kysnap::LinuxDevices linux(root);
    std::vector<hostkit::Initiator> initiators;
    std::string why;
    EXPECT_FALSE(linux.initiators(initiators, why));
    EXPECT_NE(why.find("no FC HBA"), std::string::npos) << why;

    put("/sys/class/fc_host/host3/port_name", "0x21000024ff3d2a10\n");
    put("/etc/iscsi/initiatorname.iscsi",
        "## set by open-iscsi\nInitiatorName=iqn.1994-05.com.redhat:db01\n");
    ASSERT_TRUE(linux.initiators(initiators, why)) << why;
    ASSERT_EQ(initiators.size(), 2u);
    EXPECT_EQ(initiators[0].name, "21:00:00:24:ff:3d:2a:10");
    EXPECT_FALSE(initiators[0].iscsi);
    EXPECT_EQ(initiators[1].name, "iqn.1994-05.com.redhat:db01");
    EXPECT_TRUE(initiators[1].iscsi);
}

}  // namespace
}  // namespace kysnap_test
