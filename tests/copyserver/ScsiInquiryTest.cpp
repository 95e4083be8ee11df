// SPDX-License-Identifier: Apache-2.0
// INQUIRY building and decoding, the copy server's use of the device library, and the SG_IO
// provider's answers for devices that are missing or not SCSI.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CMCopyRequest.h"
#include "CMCopyServerTegile.h"
#include "DeviceProvider.h"
#include "KyDeviceTree.h"
#include "PropertyNames.h"
#include "ScsiInquiry.h"
#include "SimulatedDevices.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

namespace {

using simhost::SimulatedDevice;
using simhost::SimulatedDevices;

const std::string kLunId = "600144F0C8A7B3D1E45F4A2B00010001";
const std::string kTarget = "wwn.2100001B32A1B2C3";

SimulatedDevice arrayLun(const std::string& vendor = "TEGILE",
                         const std::string& product = "INTELLIFLASH") {
    SimulatedDevice device;
    device.standard = simhost::standardInquiryData(vendor, product);
    device.page83 = simhost::identificationPageData(kLunId, kTarget);
    return device;
}

TEST(InquiryDecoding, CdbCarriesEvpdPageAndLowLengthByte) {
    EXPECT_EQ(scsi::inquiryCdb(false, 0, 255),
              (std::array<unsigned char, 6>{0x12, 0, 0, 0, 0xFF, 0}));
    EXPECT_EQ(scsi::inquiryCdb(true, 0x83, 255),
              (std::array<unsigned char, 6>{0x12, 1, 0x83, 0, 0xFF, 0}));
    EXPECT_EQ(scsi::inquiryCdb(true, 0x83, 256)[4], 0);
}

TEST(InquiryDecoding, StandardFieldsStopAtNulAndLoseTrailingBlanks) {
    std::vector<unsigned char> data = simhost::standardInquiryData("TEGILE", "INTELLIFLASH");
    EXPECT_EQ(scsi::vendorId(data.data(), data.size()), "TEGILE");
    EXPECT_EQ(scsi::productId(data.data(), data.size()), "INTELLIFLASH");
    data[10] = 0;  // "TE\0ILE  "
    EXPECT_EQ(scsi::vendorId(data.data(), data.size()), "TE");
    EXPECT_EQ(scsi::productId(data.data(), 20), "INTE");  // the buffer ends inside the field
    EXPECT_EQ(scsi::vendorId(data.data(), 8), "");
}

TEST(InquiryDecoding, IdentificationPageGivesUpperCaseLunIdAndTargetName) {
    std::vector<unsigned char> page = simhost::identificationPageData(kLunId, kTarget);
    EXPECT_EQ(scsi::lunId(page.data(), page.size()), kLunId);
    EXPECT_EQ(scsi::lunId(page.data(), page.size()).substr(0, 8), "600144F0");
    EXPECT_EQ(scsi::targetId(page.data(), page.size()), kTarget);
    EXPECT_EQ(scsi::targetIdFixed(page.data(), page.size()), kTarget);
    EXPECT_EQ(scsi::lunId(page.data(), 23), "");
}

TEST(InquiryDecoding, TargetLengthClaimingMoreThanTheBufferIsCutAtItsEnd) {
    // A device that claims a 250-byte designator in a 255-byte buffer, with no NUL anywhere.
    std::vector<unsigned char> page(scsi::kInquiryLength, 'A');
    page[27] = 250;
    EXPECT_EQ(scsi::targetId(page.data(), page.size()), std::string(255 - 28, 'A'));
    EXPECT_EQ(scsi::targetIdFixed(page.data(), page.size()), std::string(46, 'A'));
    EXPECT_EQ(scsi::targetId(page.data(), 28), "");
    EXPECT_EQ(scsi::targetId(page.data(), 27), "");
}

TEST(InquiryDecoding, HexInquiryTextIsDecodedPairByPairOrRefusedWithAReason) {
    std::string valid;
    for (unsigned char byte : simhost::standardInquiryData("TEGILE", "INTELLIFLASH")) {
        static const char kDigits[] = "0123456789abcdef";
        valid += kDigits[byte >> 4];
        valid += kDigits[byte & 15];
    }
    // Byte 10 ('G' of the vendor) is digits 20 and 21.
    std::string strayInVendor = valid;
    strayInVendor.replace(20, 2, "4}");
    struct Case {
        std::string text;
        bool accepted;
        std::string reason;
        std::string vendor;
    };
    const Case cases[] = {
        {valid, true, "", "TEGILE"},
        {valid.substr(0, 64), true, "", "TEGILE"},
        {valid + std::string(9000, 'f'), true, "", "TEGILE"},  // beyond 4096 bytes: not read
        {"", false, "shorter", ""},
        {valid.substr(0, 62), false, "shorter", ""},
        // The host leaves the description's closing brace on the last value.
        {valid + "}", true, "", "TEGILE"},
        {valid.substr(0, 65), true, "", "TEGILE"},
        // A stray pair outside the vendor and product fields decodes to 0.
        {"zz" + valid.substr(2), true, "", "TEGILE"},
        // Inside the vendor field the pair's leading digit is its value.
        {strayInVendor, true, "", "TE\x04ILE"},
        {std::string(64, 'z') + "}", false, "no hexadecimal digits", ""},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> bytes;
        std::string why;
        EXPECT_EQ(scsi::decodeHexInquiry(c.text, bytes, why), c.accepted) << c.text;
        EXPECT_EQ(bytes.size(), scsi::kHexInquiryBytes);
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_EQ(scsi::vendorId(bytes.data(), bytes.size()), c.vendor) << c.text;
    }
}

class ScsiCopyServer : public ::testing::Test {
protected:
    ScsiCopyServer() : wrapper(&request), installed(devices) {
        server.setLogger(&request);
        server.setCopyRequest(&wrapper);
    }

    testhost::TestSnapInfo request;
    testhost::TestOSUtil util;
    CMCopyRequest wrapper;
    SimulatedDevices devices;
    SimulatedDevices::Installation installed;
    CMCopyServerTegile server{&util};
};

TEST_F(ScsiCopyServer, BufferShorterThan255FailsBeforeAnyDeviceIsAsked) {
    devices.setDevice("/dev/sdb", arrayLun());
    std::vector<unsigned char> buffer(255, 0xAA);
    EXPECT_EQ(server.sendSCSIInquiry("/dev/sdb", false, 0, buffer.data(), 254), 1);
    EXPECT_EQ(devices.lookups(), 0);
    EXPECT_EQ(buffer[0], 0);  // zeroed all the same
    EXPECT_EQ(server.sendSCSIInquiry("", false, 0, buffer.data(), 255), 1);
    EXPECT_EQ(server.sendSCSIInquiry("/dev/sdb", false, 0, nullptr, 255), 1);

    ASSERT_EQ(server.sendSCSIInquiry("/dev/sdb", false, 0, buffer.data(), 255), 0);
    ASSERT_EQ(devices.commands().size(), 1u);
    EXPECT_EQ(devices.commands()[0].second[4], 0xFF);
    EXPECT_EQ(scsi::vendorId(buffer.data(), buffer.size()), "TEGILE");
}

TEST_F(ScsiCopyServer, DeviceFailuresBecomeOneLoggedFailureAndAZeroedBuffer) {
    SimulatedDevice notScsi = arrayLun();
    notScsi.scsi = false;
    SimulatedDevice failing = arrayLun();
    failing.failCommands = true;
    SimulatedDevice throwing = arrayLun();
    throwing.throwFromCommands = true;
    devices.setDevices(
        {{"/dev/plain", notScsi}, {"/dev/failing", failing}, {"/dev/throwing", throwing}});
    struct Case {
        const char* device;
        std::string line;
    };
    const Case cases[] = {
        {"/dev/absent", "Failed to get KyDevice for device[/dev/absent]. Error:[No such device"},
        {"/dev/plain", "/dev/plain is not SCSI device"},
        {"/dev/failing",
         "Failed to send SCSI Inquiry for device[/dev/failing], caught exception:[SCSI command"},
        {"/dev/throwing",
         "Failed to send SCSI Inquiry for device[/dev/throwing], caught exception:[simulated"},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> buffer(255, 0xAA);
        EXPECT_EQ(server.sendSCSIInquiry(c.device, true, 0x83, buffer.data(), 255), 1);
        EXPECT_TRUE(request.logged(c.line, 2)) << request.logText();
        EXPECT_EQ(buffer, std::vector<unsigned char>(255, 0)) << c.device;
    }
    // Without a logger (the support check) the failures are silent, not fatal.
    CMCopyServerTegile silent(&util);
    std::vector<unsigned char> buffer(255);
    EXPECT_EQ(silent.sendSCSIInquiry("/dev/absent", false, 0, buffer.data(), 255), 1);
}

TEST_F(ScsiCopyServer, CachedDataIsUsedUnlessTheCallerForcesTheDevice) {
    request.inquiryData[0] = simhost::standardInquiryData("TEGILE", "INTELLIFLASH");
    request.inquiryData[0x83] = simhost::identificationPageData(kLunId, kTarget);
    std::string lun, target;
    ASSERT_EQ(server.getSCSIDeviceProperties("/dev/cached", lun, target, false), COPY_SUCCESS);
    EXPECT_EQ(lun, kLunId);
    EXPECT_EQ(target, kTarget);
    EXPECT_TRUE(devices.commands().empty());

    // Forced: the device answers both pages, and its own identity wins over the cache.
    SimulatedDevice other = arrayLun();
    other.page83 = simhost::identificationPageData("600144F0000000000000000000000009", "iqn.x");
    devices.setDevice("/dev/other", other);
    ASSERT_EQ(server.getSCSIDeviceProperties("/dev/other", lun, target, true), COPY_SUCCESS);
    EXPECT_EQ(devices.commands().size(), 2u);
    EXPECT_EQ(lun, "600144F0000000000000000000000009");
    EXPECT_EQ(target, "iqn.x");
}

TEST_F(ScsiCopyServer, OnlyTheArraysVendorAndProductAreIdentified) {
    struct Case {
        SimulatedDevice device;
        Copy_Status status;
        std::string line;
    };
    SimulatedDevice noPage = arrayLun();
    noPage.page83.clear();  // the device refuses page 0x83
    const Case cases[] = {
        {arrayLun("TEGILE   "), COPY_SUCCESS, "productId ID [INTELLIFLASH]"},
        {arrayLun("Tegile"), COPY_FAILED, "not a tegile volume vendor ID [Tegile]"},
        {arrayLun("TEGILE", "INTELLIFLASH2"), COPY_FAILED, "not a tegile prosuct supported"},
        {noPage, COPY_FAILED, "scsi inquiry page 0x83 failed device name [/dev/x]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        devices.setDevice("/dev/x", c.device);
        std::string lun, target;
        EXPECT_EQ(server.getSCSIDeviceProperties("/dev/x", lun, target, false), c.status);
        EXPECT_TRUE(request.logged(c.line)) << request.logText();
    }
    std::string lun, target;
    EXPECT_EQ(server.getSCSIDeviceProperties("/dev/none", lun, target, false), COPY_FAILED);
    EXPECT_TRUE(request.logged("scsi inquiry standary data failed device name [/dev/none]", 2));
}

TEST_F(ScsiCopyServer, VMwareDescriptionsYieldLunIdAndTargetOrAClearFailure) {
    auto hexOf = [](const std::string& vendor, const std::string& product) {
        std::string text;
        for (unsigned char byte : simhost::standardInquiryData(vendor, product)) {
            char pair[3];
            snprintf(pair, sizeof(pair), "%02x", byte);
            text += pair;
        }
        return text;
    };
    const std::string inquiry = hexOf("TEGILE", "INTELLIFLASH");
    const std::string uuid = "0200000000600144f0c8a7b3d1e45f4a2b00010001494e54454c4c";
    struct Case {
        std::string description;
        Copy_Status status;
        std::string target;
        std::string line;
    };
    const Case cases[] = {
        {"idatype:vmware,standardinqury:" + inquiry + ",lunuuid:" + uuid +
             ",targetidentifier:iqn.2012-02.com.tegile:pool-a-target",
         COPY_SUCCESS, "iqn.2012-02.com.tegile:pool-a-target", ""},
        {"idatype:vmware,standardinqury:" + inquiry + ",lunuuid:" + uuid +
             ",targetidentifier:21000024ff3d2a10",
         COPY_SUCCESS, "wwn.21000024FF3D2A10", ""},
        {"idatype:vmware,standardinqury:" + inquiry + ",lunuuid:020000,targetidentifier:x",
         COPY_FAILED, "", "is too short to hold a LUN ID"},
        {"idatype:vmware,lunuuid:" + uuid, COPY_FAILED, "", "unusable standardinqury [shorter"},
        {"idatype:vmware,standardinqury:" + inquiry.substr(1) + ",lunuuid:" + uuid, COPY_FAILED, "",
         "not a tegile volume vendor ID"},
        {"idatype:vmware,standardinqury:" + hexOf("Tegile", "INTELLIFLASH") + ",lunuuid:" + uuid +
             ",targetidentifier:21000024ff3d2a10",
         COPY_FAILED, "", "not a tegile volume vendor ID [Tegile] "},
        {"idatype:vmware,standardinqury:" + hexOf("TEGILE", "INTELLIFLASH2") + ",lunuuid:" + uuid +
             ",targetidentifier:21000024ff3d2a10",
         COPY_FAILED, "", "not a tegile product supported product ID [INTELLIFLASH2] "},
        // The host's description keeps its closing brace on the last value.
        {"{idatype:vmware,lunuuid:" + uuid +
             ",targetidentifier:21000024ff3d2a10,standardinqury:" + inquiry + "}",
         COPY_SUCCESS, "wwn.21000024FF3D2A10", ""},
    };
    for (const Case& c : cases) {
        std::string lun, target;
        EXPECT_EQ(server.getSCSIDevicePropertiesVMware(c.description, lun, target), c.status);
        if (c.status == COPY_SUCCESS) {
            EXPECT_EQ(lun, kLunId);
            EXPECT_EQ(target, c.target);
        } else {
            EXPECT_TRUE(request.logged(c.line, 2)) << request.logText();
        }
    }
}

TEST_F(ScsiCopyServer, DeviceDataFillsVendorProductLunAndTarget) {
    devices.setDevice("/dev/sdb", arrayLun());
    CMStorageDevice::Properties standard, page, missing;
    // A failed inquiry is no failure here: it leaves empty values.
    EXPECT_EQ(server.getSCSIDeviceData("/dev/sdb", false, 0, standard), COPY_SUCCESS);
    EXPECT_EQ(server.getSCSIDeviceData("/dev/sdb", true, 0x83, page), COPY_SUCCESS);
    EXPECT_EQ(server.getSCSIDeviceData("/dev/absent", true, 0x83, missing), COPY_SUCCESS);
    EXPECT_EQ(standard[DEVICE_VENDOR_ID], "TEGILE");
    EXPECT_EQ(standard[DEVICE_PRODUCT_ID], "INTELLIFLASH");
    EXPECT_EQ(page[DEVICE_LUN_ID], kLunId);
    EXPECT_EQ(page[DEVICE_TARGET_ID], kTarget);
    EXPECT_EQ(missing[DEVICE_LUN_ID], std::string(32, '0'));
    EXPECT_EQ(missing[DEVICE_TARGET_ID], "");
}

TEST(SgIoDevices, MissingAndNonScsiDevicesAreToldApart) {
    CLmError error;
    SP<KyDevice> missing =
        kyplatform::sgioDeviceProvider().getDevice("/dev/kysnap-no-such-device", &error);
    EXPECT_FALSE(missing);
    EXPECT_NE(error.AsString().find("No such device"), std::string::npos) << error.AsString();
    EXPECT_NE(error.AsString().find("No such file or directory"), std::string::npos);

    error.Success();
    SP<KyDevice> plain = kyplatform::sgioDeviceProvider().getDevice("/dev/null", &error);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->getDeviceName(), "/dev/null");
    EXPECT_EQ(plain->getInterface(KY_DEVICE_SCSI_IFACE), nullptr);

    // With no provider installed, the device tree is the SG_IO provider.
    EXPECT_FALSE(KyDeviceTree::getDevice("/dev/kysnap-no-such-device", &error));
}

}  // namespace
