#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace tarnix {

// The identity of an instrument. Its serial number keys the device objects and
// names the device's tree.
class DeviceID {
public:
    DeviceID() = default;
    DeviceID(const DeviceID&) = delete;
    DeviceID& operator=(const DeviceID&) = delete;
    virtual ~DeviceID() = default;

    // Logs what the identity knows of its instrument.
    virtual void describe() const = 0;
    virtual int integerQuery1() const = 0;
    virtual int integerQuery2() const = 0;
    virtual uint32_t serialNumber() const = 0;
    virtual std::string textQuery() const = 0;
    virtual bool yesNoQuery() const = 0;
};

namespace detail {

// The identity of an instrument on the USB bus: its device path and what the
// probe read from its controller.
class DeviceID_USB : public DeviceID {
public:
    // `plugIn` tells this plug-in at the path from the next (0: not known).
    explicit DeviceID_USB(std::string devicePath, uint64_t plugIn = 0)
        : path_(std::move(devicePath)), plugIn_(plugIn) {}

    void describe() const override;
    int integerQuery1() const override { return 1; }
    int integerQuery2() const override { return 1; }
    uint32_t serialNumber() const override { return serial_; }
    std::string textQuery() const override { return std::string(); }
    bool yesNoQuery() const override { return true; }

    const std::string& devicePath() const { return path_; }
    uint64_t plugIn() const { return plugIn_; }
    uint32_t productNumber() const { return product_; }
    const std::array<uint8_t, 8>& versionBytes() const { return versionBytes_; }
    void setNumbers(uint32_t product, uint32_t serial) {
        product_ = product;
        serial_ = serial;
    }
    // Firmware major, minor, PIC major, minor, then the 4 bytes of register 40.
    void setVersionBytes(const std::array<uint8_t, 8>& bytes) { versionBytes_ = bytes; }

private:
    std::string path_;
    uint64_t plugIn_ = 0;
    uint32_t product_ = 0;
    uint32_t serial_ = 0;
    std::array<uint8_t, 8> versionBytes_{};
};

}  // namespace detail
}  // namespace tarnix
