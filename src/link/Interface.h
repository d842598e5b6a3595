#pragma once
#include "link/UsbDriverInterface.h"
#include "link/UsbTransferBuffers.h"
#include "platform/usb/DeviceInfoSet.h"
#include "platform/usb/UsbBackend.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnix {

class DeviceID;

namespace detail {

// Owns the device information set of one device-interface class: a snapshot
// of the present instruments, taken when it is (re)created.
class HardwareDeviceInfo {
public:
    HardwareDeviceInfo(std::string classGuid, std::shared_ptr<platform::usb::Backend> backend);
    // Takes a new snapshot; false (and no set) when the enumeration failed.
    // A place of instruments that cannot be read gives an empty snapshot.
    bool recreate();
    bool valid() const { return set_ != nullptr; }
    // Whether the last snapshot is empty because its place could not be read.
    bool unreadable() const { return unreadable_; }
    // Whether the last snapshot failed because the process had no descriptor
    // left: nothing is known about the instruments then.
    bool outOfDescriptors() const { return outOfDescriptors_; }
    const platform::usb::DeviceInfoSet* set() const { return set_.get(); }
    const std::shared_ptr<platform::usb::Backend>& backend() const { return backend_; }

private:
    std::string classGuid_;
    std::shared_ptr<platform::usb::Backend> backend_;
    std::unique_ptr<platform::usb::DeviceInfoSet> set_;
    bool unreadable_ = false;
    bool outOfDescriptors_ = false;
};

// The device path of one enumerated interface.
class DeviceInterfaceDetail {
public:
    // Throws QVIOInternalException when the platform cannot report it.
    DeviceInterfaceDetail(const platform::usb::DeviceInfoSet& set, uint32_t index);
    std::string devicePath() const { return std::string(data_.data()); }

private:
    std::vector<char> data_;
};

// Access to one instrument through its driver: enumeration, opening, control
// requests, and the four bulk-transfer buffers (two for each pipe, one in use
// and one in flight).
class Interface {
public:
    static constexpr uint32_t kDefaultTimeoutMs = 2000;
    static constexpr uint32_t kMaxEnumerationIndex = 1000;

    // Enumerates and opens through `backend`. Throws QVIOInternalException
    // (default text) when the device information set cannot be created.
    explicit Interface(std::shared_ptr<platform::usb::Backend> backend);
    ~Interface();
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;

    // Finds the id's device path among the enumerated interfaces, opens it,
    // sends both time-outs and hands the handle to the buffers.
    void openDevice(const DeviceID& id);
    bool isOpen() const { return handle_ != nullptr; }

    // One control request with an 8-byte answer. Throws QVIOSizeException,
    // QVIOTimeoutException (121) or QVIOInternalException (other codes).
    void transferIOCTL(uint32_t code, const uint8_t* input, uint32_t inputLength, IoctlAnswer& answer);
    template <uint32_t Function, std::size_t InputSize>
    void transferIOCTL(const IOCTL<Function, InputSize>& request, IoctlAnswer& answer) {
        transferIOCTL(IOCTL<Function, InputSize>::code, InputSize ? request.input.data() : nullptr,
                      static_cast<uint32_t>(InputSize), answer);
    }

    void setReadTimeout(uint32_t millis);
    void setWriteTimeout(uint32_t millis);
    uint32_t readTimeout() const { return readTimeoutMs_; }
    uint32_t writeTimeout() const { return writeTimeoutMs_; }

    // Cancels every transfer running on the handle; a failure is logged.
    void cancelAll();

    // The device information set, for enumeration by the device list.
    HardwareDeviceInfo& deviceInfo() { return deviceInfo_; }

    ReadBuffer_USB_Win& currentRead() { return *currentRead_; }
    ReadBuffer_USB_Win& otherRead() { return *otherRead_; }
    void swapReadBuffers() { currentRead_.swap(otherRead_); }
    WriteBuffer_USB_Win& currentWrite() { return *currentWrite_; }
    WriteBuffer_USB_Win& otherWrite() { return *otherWrite_; }
    void swapWriteBuffers() { currentWrite_.swap(otherWrite_); }

private:
    void setTimeout(uint32_t function, uint32_t millis);

    std::shared_ptr<HandleUSB> handle_;
    std::string classGuid_;
    HardwareDeviceInfo deviceInfo_;
    uint32_t interfaceIndex_ = 0;  // the interface that was opened
    std::unique_ptr<ReadBuffer_USB_Win> currentRead_;
    std::unique_ptr<ReadBuffer_USB_Win> otherRead_;
    std::unique_ptr<WriteBuffer_USB_Win> currentWrite_;
    std::unique_ptr<WriteBuffer_USB_Win> otherWrite_;
    uint32_t readTimeoutMs_ = kDefaultTimeoutMs;
    uint32_t writeTimeoutMs_ = kDefaultTimeoutMs;
    EventHandlerUSB control_;
};

}  // namespace detail
}  // namespace tarnix
