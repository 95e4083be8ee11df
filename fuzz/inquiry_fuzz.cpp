// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for INQUIRY decoding: standard data and page 0x83 as a device answers them
// (through simulated devices installed as the device provider) and as the host caches them,
// decoded by the copy server and by the decoding functions over buffers of the exact size.
// Fields: control bits, standard data, page 0x83, a LUN id to match. Nothing may be read
// outside a buffer (AddressSanitizer watches) and a LUN id is empty or 32 hex digits.
#include <string>
#include <vector>

#include "CopyServerHarness.h"
#include "FuzzFields.h"
#include "PropertyNames.h"
#include "ScsiInquiry.h"
#include "SimulatedDevices.h"

namespace {

const char kTarget[] = "inquiry_fuzz";
const char kDevice[] = "/dev/fuzz0";

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

void checkLunId(const std::string& lunId) {
    if (!lunId.empty() &&
        (lunId.size() != 32 || lunId.find_first_not_of("0123456789ABCDEF") != std::string::npos)) {
        fuzz::fail(kTarget, "LUN id is not 32 upper-case hex digits: " + lunId);
    }
}

// The decoding functions over buffers exactly as long as the data.
void decodeExact(const Bytes& standard, const Bytes& page) {
    scsi::vendorId(standard.data(), standard.size());
    scsi::productId(standard.data(), standard.size());
    checkLunId(scsi::lunId(page.data(), page.size()));
    const std::string target = scsi::targetId(page.data(), page.size());
    if (target.size() > page.size()) {
        fuzz::fail(kTarget, "target id longer than its page");
    }
    scsi::targetIdFixed(page.data(), page.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> in = fuzz::fields(data, size, 4);
    const unsigned control = in[0].empty() ? 0u : static_cast<unsigned char>(in[0][0]);
    const Bytes standard = bytesOf(in[1]);
    const Bytes page = bytesOf(in[2]);
    decodeExact(standard, page);

    simhost::SimulatedDevice device;
    device.standard = standard;
    device.page83 = page;
    device.scsi = (control & 0x01) == 0;
    device.failCommands = (control & 0x02) != 0;
    device.throwFromCommands = (control & 0x04) != 0;
    simhost::SimulatedDevices devices;
    devices.setDevice(kDevice, device);
    simhost::SimulatedDevices::Installation installed(devices);

    fuzz::CopyServerHarness harness;
    if ((control & 0x08) != 0) {
        harness.request.inquiryData[0] = standard;
        harness.request.inquiryData[0x83] = page;
    }
    CMCopyServerTegile& server = harness.server;

    std::string lunId;
    std::string targetId;
    // The statuses are left: what is checked is the LUN ids read, whatever the device answered.
    static const char* const kWhy = "the fuzz target checks what was read, not the status";
    ignoreStatus(server.getSCSIDeviceProperties(kDevice, lunId, targetId, (control & 0x10) != 0),
                 kWhy);
    checkLunId(lunId);
    CMStorageDevice::Properties properties;
    ignoreStatus(server.getSCSIDeviceData(kDevice, false, 0, properties), kWhy);
    ignoreStatus(server.getSCSIDeviceData(kDevice, true, 0x83, properties), kWhy);
    checkLunId(properties[DEVICE_LUN_ID]);
    bool mapped = false;
    ignoreStatus(server.isDeviceMappedToHost(kDevice, in[3], mapped), kWhy);
    return 0;
}
