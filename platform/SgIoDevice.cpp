// SPDX-License-Identifier: Apache-2.0
// The machine's block devices through the Linux SG_IO pass-through. Only the transport lives
// here; what a command means and how its answer is read is the caller's business.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "DeviceProvider.h"
#include "KyDeviceTree.h"

namespace {

// The oldest sg driver interface that understands sg_io_hdr.
constexpr int kMinSgVersion = 30000;
constexpr unsigned char kStatusGood = 0x00;
// Low nibble of driver_status: DRIVER_SENSE alone only says sense data came back.
constexpr unsigned int kDriverSense = 0x08;

std::string systemError(const char* what, const std::string& name, int code) {
    return std::string(what) + " " + name + ": " + std::strerror(code);
}

void setError(CLmError* error, int code, const std::string& text) {
    if (error != nullptr) {
        error->Set(code, text);
    }
}

class SgIoScsiIface : public KyDeviceScsiIface {
public:
    SgIoScsiIface(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}

    int sendCommand(const unsigned char* cdb, unsigned int cdbLength, unsigned char* data,
                    unsigned int dataLength, int /*reserved*/, int direction, int /*retries*/,
                    int /*flags*/, unsigned int timeoutSeconds, CLmError* error) override {
        if (cdb == nullptr || cdbLength == 0 || cdbLength > 16 ||
            (dataLength > 0 && data == nullptr)) {
            setError(error, EINVAL, "invalid SCSI command for " + name_);
            return -1;
        }
        unsigned char sense[32] = {};
        sg_io_hdr_t header{};
        header.interface_id = 'S';
        header.cmd_len = static_cast<unsigned char>(cdbLength);
        header.cmdp = const_cast<unsigned char*>(cdb);
        header.dxfer_direction =
            direction == DIRECTION_IN && dataLength > 0 ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
        header.dxferp = data;
        header.dxfer_len = direction == DIRECTION_IN ? dataLength : 0;
        header.sbp = sense;
        header.mx_sb_len = sizeof(sense);
        header.timeout = timeoutSeconds * 1000;
        if (ioctl(fd_, SG_IO, &header) != 0) {
            const int code = errno;
            setError(error, code, systemError("SG_IO failed on", name_, code));
            return -1;
        }
        // The ioctl succeeding only means the request reached the driver: the device, the
        // adapter and the driver each report their own outcome.
        char text[160];
        if (header.host_status != 0) {
            std::snprintf(text, sizeof(text), "SCSI command to %s failed: host status 0x%02x",
                          name_.c_str(), header.host_status);
            setError(error, EIO, text);
            return -1;
        }
        const unsigned int driverCode = header.driver_status & 0x0f;
        if (driverCode != 0 && driverCode != kDriverSense) {
            std::snprintf(text, sizeof(text), "SCSI command to %s failed: driver status 0x%02x",
                          name_.c_str(), header.driver_status);
            setError(error, EIO, text);
            return -1;
        }
        if (header.status != kStatusGood) {
            const unsigned int senseKey = header.sb_len_wr > 2 ? (sense[2] & 0x0f) : 0;
            std::snprintf(text, sizeof(text),
                          "SCSI command to %s failed: status 0x%02x sense key 0x%x", name_.c_str(),
                          header.status, senseKey);
            setError(error, EIO, text);
            return -1;
        }
        return 0;
    }

private:
    int fd_;
    std::string name_;
};

class SgIoDevice : public KyDevice {
public:
    SgIoDevice(int fd, std::string name, bool scsi)
        : fd_(fd), name_(name), scsi_(scsi), iface_(fd, std::move(name)) {}
    ~SgIoDevice() override { ::close(fd_); }

    void* getInterface(const std::string& name) override {
        return scsi_ && name == KY_DEVICE_SCSI_IFACE ? &iface_ : nullptr;
    }
    std::string getDeviceName() const override { return name_; }

private:
    int fd_;
    std::string name_;
    bool scsi_;
    SgIoScsiIface iface_;
};

class SgIoProvider : public kyplatform::DeviceProvider {
public:
    SP<KyDevice> getDevice(const std::string& name, CLmError* error) override {
        if (name.empty() || name.find('\0') != std::string::npos) {
            setError(error, ENOENT, "No such device: empty or invalid name");
            return SP<KyDevice>();
        }
        const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            const int code = errno;
            const char* what = code == ENOENT || code == ENXIO || code == ENODEV
                                   ? "No such device"
                                   : "cannot open device";
            setError(error, code, systemError(what, name, code));
            return SP<KyDevice>();
        }
        // Devices that do not understand the sg interface are no SCSI devices.
        int version = 0;
        const bool scsi = ioctl(fd, SG_GET_VERSION_NUM, &version) == 0 && version >= kMinSgVersion;
        return SP<KyDevice>(new SgIoDevice(fd, name, scsi));
    }
};

}  // namespace

namespace kyplatform {
DeviceProvider& sgioDeviceProvider() {
    static SgIoProvider provider;
    return provider;
}
}  // namespace kyplatform
