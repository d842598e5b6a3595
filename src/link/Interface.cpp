#include "link/Interface.h"

#include "platform/endian/ByteOrder.h"
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "link/DeviceID.h"
#include "link/IOExceptions.h"

#include <boost/format.hpp>

#include <cerrno>

namespace tarnix {
namespace detail {

namespace usb = platform::usb;

HardwareDeviceInfo::HardwareDeviceInfo(std::string classGuid, std::shared_ptr<usb::Backend> backend)
    : classGuid_(std::move(classGuid)), backend_(std::move(backend)) {
    recreate();
}

bool HardwareDeviceInfo::recreate() {
    set_.reset();
    uint32_t error = usb::kErrorSuccess;
    if (backend_) set_ = usb::DeviceInfoSet::create(backend_, classGuid_, error);
    unreadable_ = error == usb::kErrorAccessDenied;
    outOfDescriptors_ = error == usb::kErrorTooManyOpenFiles;
    return set_ != nullptr;
}

DeviceInterfaceDetail::DeviceInterfaceDetail(const usb::DeviceInfoSet& set, uint32_t index) {
    uint32_t required = 0;
    if (set.interfaceDetail(index, nullptr, 0, required) != usb::kErrorInsufficientBuffer)
        QV_THROW(QVIOInternalException("SetupDiGetDeviceInterfaceDetail cannot determine size."));
    data_.assign(required, 0);
    if (set.interfaceDetail(index, data_.data(), required, required) != usb::kErrorSuccess)
        QV_THROW(QVIOInternalException("SetupDiGetDeviceInterfaceDetail cannot assign structure."));
}

Interface::Interface(std::shared_ptr<usb::Backend> backend)
    : classGuid_(kLQ3InterfaceGuid),
      deviceInfo_(classGuid_, std::move(backend)),
      currentRead_(new ReadBuffer_USB_Win),
      otherRead_(new ReadBuffer_USB_Win),
      currentWrite_(new WriteBuffer_USB_Win),
      otherWrite_(new WriteBuffer_USB_Win) {
    if (!deviceInfo_.valid()) QV_THROW(QVIOInternalException());
}

Interface::~Interface() {
    // Buffers first: each cancels its own transfer while the handle still lives.
    currentRead_.reset();
    otherRead_.reset();
    currentWrite_.reset();
    otherWrite_.reset();
    try {
        cancelAll();
    } catch (const QVIOException& e) {
        QVLOG(logging::error) << "Caught an exception during cancelling all pending transfers. "
                              << "This may result in resource leakage. " << e.what();
    }
}

void Interface::openDevice(const DeviceID& id) {
    const auto* usbId = dynamic_cast<const DeviceID_USB*>(&id);
    const usb::DeviceInfoSet* set = deviceInfo_.set();
    if (!usbId || !set)
        QV_THROW(QVIOInternalException("The specified device could not be found. Was it disconnected meanwhile?"));
    for (uint32_t index = 0; index < kMaxEnumerationIndex; ++index) {
        const uint32_t error = set->enumInterface(index);
        if (error == usb::kErrorNoMoreItems)
            QV_THROW(
                QVIOInternalException("The specified device could not be found. Was it disconnected meanwhile?"));
        if (error != usb::kErrorSuccess) {
            QVLOG(logging::error) << "Could not enumerate a device " << index
                                  << " with correct GUID. This might be the result of a device "
                                  << "disconnect or a device problem. "
                                  << "Please report this problem if the issue persists.";
            continue;
        }
        if (DeviceInterfaceDetail(*set, index).devicePath() != usbId->devicePath()) continue;
        std::shared_ptr<HandleUSB> handle = set->backend()->open(usbId->devicePath());
        if (!handle && (errno == EMFILE || errno == ENFILE))
            QV_THROW(QVIOOutOfDescriptorsException("No descriptor left to open the device."));
        if (!handle) {
            QVLOG(logging::error) << "Invalid handle detected. " << "Was the device disconnected?";
            continue;
        }
        handle_ = std::move(handle);
        interfaceIndex_ = index;
        setReadTimeout(readTimeoutMs_);
        setWriteTimeout(writeTimeoutMs_);
        currentRead_->setHandle(handle_);
        otherRead_->setHandle(handle_);
        currentWrite_->setHandle(handle_);
        otherWrite_->setHandle(handle_);
        return;
    }
    QV_THROW(QVIOInternalException("Serious error during device enumeration."));
}

void Interface::transferIOCTL(uint32_t code, const uint8_t* input, uint32_t inputLength, IoctlAnswer& answer) {
    if (!handle_) QV_THROW(QVIOInternalException("Invalid handle detected. Was the device disconnected?"));
    control_.prepare();
    const usb::IoResult started = handle_->deviceIoControl(code, inputLength ? input : nullptr, inputLength,
                                                           answer.data(), kIoctlAnswerSize, control_.overlapped);
    uint32_t error = started.error;
    if (error == usb::kErrorSuccess) {
        if (started.bytes != kIoctlAnswerSize)
            QV_THROW(QVIOSizeException("Register read with IOCTL returned not enough data."));
        return;
    }
    if (error == usb::kErrorIoPending) {
        waitWhilePending(control_, handle_.get(), "IOCTL");
        const usb::IoResult finished = HandleUSB::getOverlappedResult(*control_.overlapped, true);
        if (finished.error == usb::kErrorSuccess) return;
        error = finished.error;
    }
    if (error == usb::kErrorSemaphoreTimeout) QV_THROW(QVIOTimeoutException(static_cast<int32_t>(error)));
    QV_THROW(QVIOInternalException(static_cast<int32_t>(error)));
}

void Interface::setTimeout(uint32_t function, uint32_t millis) {
    uint8_t input[4];
    le::put32(input, millis * 10000u);  // units of 100 ns
    IoctlAnswer answer{};
    transferIOCTL(controlCode(function), input, sizeof input, answer);
}

void Interface::setReadTimeout(uint32_t millis) {
    readTimeoutMs_ = millis;
    if (handle_) setTimeout(usb::kFnSetReadTimeout, millis);
}

void Interface::setWriteTimeout(uint32_t millis) {
    writeTimeoutMs_ = millis;
    if (handle_) setTimeout(usb::kFnSetWriteTimeout, millis);
}

void Interface::cancelAll() {
    if (!handle_) return;
    const uint32_t error = handle_->cancelIo();
    if (error != usb::kErrorSuccess) {
        QVLOG_LIMITED(logging::error) << boost::format("Error %d during read cancel.") % error;
    }
}

}  // namespace detail
}  // namespace tarnix
