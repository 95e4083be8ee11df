// SPDX-License-Identifier: Apache-2.0
#include "SimulatedDevices.h"

#include "ScsiInquiry.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace simhost {

namespace {

constexpr size_t kInquiryLength = 255;

class SimulatedScsiIface : public KyDeviceScsiIface {
public:
    SimulatedScsiIface(SimulatedDevices& owner, std::string name)
        : owner_(owner), name_(std::move(name)) {}
    int sendCommand(const unsigned char* cdb, unsigned int cdbLength, unsigned char* data,
                    unsigned int dataLength, int, int, int, int, unsigned int,
                    CLmError* error) override {
        return owner_.answer(name_, cdb, cdbLength, data, dataLength, error);
    }

private:
    SimulatedDevices& owner_;
    std::string name_;
};

class SimulatedKyDevice : public KyDevice {
public:
    SimulatedKyDevice(SimulatedDevices& owner, std::string name, bool scsi)
        : name_(name), scsi_(scsi), iface_(owner, std::move(name)) {}
    void* getInterface(const std::string& name) override {
        return scsi_ && name == KY_DEVICE_SCSI_IFACE ? &iface_ : nullptr;
    }
    std::string getDeviceName() const override { return name_; }

private:
    std::string name_;
    bool scsi_;
    SimulatedScsiIface iface_;
};

void putPadded(std::vector<unsigned char>& buffer, size_t offset, size_t width,
               const std::string& text) {
    for (size_t i = 0; i < width; ++i) {
        buffer[offset + i] = i < text.size() ? static_cast<unsigned char>(text[i]) : ' ';
    }
}

}  // namespace

void SimulatedDevices::setDevices(std::map<std::string, SimulatedDevice> devices) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_ = std::move(devices);
}

void SimulatedDevices::setDevice(const std::string& name, SimulatedDevice device) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_[name] = std::move(device);
}

std::vector<std::string> SimulatedDevices::names() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const auto& entry : devices_) {
        names.push_back(entry.first);
    }
    return names;
}

std::vector<std::pair<std::string, std::vector<unsigned char>>> SimulatedDevices::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

int SimulatedDevices::lookups() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookups_;
}

SP<KyDevice> SimulatedDevices::getDevice(const std::string& name, CLmError* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++lookups_;
    auto found = devices_.find(name);
    if (found == devices_.end()) {
        if (error != nullptr) {
            error->Set(ENOENT, "No such device " + name + ": " + std::strerror(ENOENT));
        }
        return SP<KyDevice>();
    }
    return SP<KyDevice>(new SimulatedKyDevice(*this, name, found->second.scsi));
}

int SimulatedDevices::answer(const std::string& name, const unsigned char* cdb,
                             unsigned int cdbLength, unsigned char* data, unsigned int dataLength,
                             CLmError* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.emplace_back(name, std::vector<unsigned char>(cdb, cdb + cdbLength));
    auto found = devices_.find(name);
    if (found == devices_.end() || found->second.failCommands) {
        if (error != nullptr) {
            error->Set(EIO, "SCSI command to " + name + " failed: status 0x02 sense key 0x5");
        }
        return -1;
    }
    if (found->second.throwFromCommands) {
        throw std::runtime_error("simulated device " + name + " broke");
    }
    const bool inquiry = cdbLength == 6 && cdb[0] == 0x12;
    const std::vector<unsigned char>* source = nullptr;
    if (inquiry && (cdb[1] & 1) == 0 && cdb[2] == 0) {
        source = &found->second.standard;
    } else if (inquiry && (cdb[1] & 1) == 1 && cdb[2] == 0x83) {
        source = &found->second.page83;
    }
    if (source == nullptr || source->empty()) {
        if (error != nullptr) {
            error->Set(EIO, "SCSI command to " + name + " failed: status 0x02 sense key 0x5");
        }
        return -1;
    }
    const size_t allocation = cdb[4];
    std::memcpy(data, source->data(), std::min({source->size(), allocation, size_t(dataLength)}));
    return 0;
}

std::vector<unsigned char> standardInquiryData(const std::string& vendor,
                                               const std::string& product) {
    std::vector<unsigned char> data(kInquiryLength, 0);
    data[2] = 0x05;
    data[3] = 0x12;
    data[4] = static_cast<unsigned char>(kInquiryLength - 5);
    putPadded(data, 8, 8, vendor);
    putPadded(data, 16, 16, product);
    return data;
}

std::vector<unsigned char> identificationPageData(const std::string& lunId,
                                                  const std::string& targetId) {
    std::vector<unsigned char> page(kInquiryLength, 0);
    page[1] = 0x83;
    page[4] = 0x01;
    page[5] = 0x03;
    page[7] = 16;
    std::vector<unsigned char> lun;
    if (hexBytes(lunId, lun)) {
        std::memcpy(page.data() + 8, lun.data(), std::min<size_t>(lun.size(), 16));
    }
    const size_t room = kInquiryLength - 28;
    const std::string name = targetId.substr(0, room - 1);
    page[24] = 0x53;
    page[25] = 0x98;
    page[27] = static_cast<unsigned char>(std::min(room, (name.size() + 1 + 3) / 4 * 4));
    std::memcpy(page.data() + 28, name.data(), name.size());
    page[3] = static_cast<unsigned char>(24 + page[27]);
    return page;
}

bool hexBytes(const std::string& hex, std::vector<unsigned char>& bytes) {
    if (hex.size() % 2 != 0 || scsi::hexToBytes(hex, hex.size(), bytes) != std::string::npos) {
        bytes.clear();
        return false;
    }
    return true;
}

}  // namespace simhost
