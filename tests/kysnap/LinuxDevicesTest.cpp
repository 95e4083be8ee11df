// The Linux backend's reading of sysfs and open-iscsi, over a tree that stands for "/".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

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
    void TearDown() override { std::system(("rm -rf '" + root + "'").c_str()); }

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

    std::string root;
};

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
    EXPECT_EQ(readFile(root + "/sys/block/sde/device/delete"), "");
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
