#include "link/UsbTransferBuffers.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "link/IOExceptions.h"

#include <boost/format.hpp>

namespace tarnix {
namespace detail {

namespace usb = platform::usb;

namespace {

constexpr uint32_t kWaitStepMs = 10;
constexpr uint32_t kWaitStepsBeforeCancel = 200;
constexpr uint32_t kCancelWaitMs = 100;
constexpr uint32_t kCancelWaitSteps = 10;

std::string numbered(const char* pattern, uint32_t code) {
    return (boost::format(pattern) % static_cast<int>(code)).str();
}

void requestCancel(HandleUSB* handle) {
    if (!handle) return;
    const uint32_t error = handle->cancelIo();
    if (error != usb::kErrorSuccess) {
        QVLOG_LIMITED(logging::error) << numbered("Error %d during read cancel.", error);
    }
}

// After a cancel: waits while the transfer stays pending, 100 ms at a time, and
// gives up after about 1.1 s.
void awaitCancelled(EventHandlerUSB& events) {
    for (uint32_t steps = 0; events.overlapped->pending(); ++steps) {
        if (steps == kCancelWaitSteps) {
            events.event->wait(kCancelWaitMs);
            QVLOG(logging::error) << "Could not canel all transfers. "
                                  << "This should never happen as it will create resource leakage.";
            return;
        }
        events.event->wait(kCancelWaitMs);
    }
}

// Ends a buffer's transfer in flight, if any, by cancelling it.
void cancelPending(bool& pending, EventHandlerUSB& events, HandleUSB* handle) {
    if (pending) {
        requestCancel(handle);
        awaitCancelled(events);
    }
    pending = false;
}

// Waits for a buffer's transfer in flight and returns its result.
usb::IoResult finishPending(bool& pending, EventHandlerUSB& events, HandleUSB* handle, const char* activity) {
    pending = false;
    waitWhilePending(events, handle, activity);
    return HandleUSB::getOverlappedResult(*events.overlapped, true);
}

template <class Buffer>
void cancelInDestructor(Buffer& buffer) {
    try {
        buffer.cancel();
    } catch (const QVIOException& e) {
        QVLOG(logging::error) << "Caught an exception during cancelling all pending transfers. "
                              << "This may result in resource leakage. " << e.what();
    }
}

}  // namespace

EventHandlerUSB::EventHandlerUSB()
    : overlapped(std::make_shared<usb::Overlapped>()), event(std::make_shared<usb::Event>()) {}

void EventHandlerUSB::prepare() {
    event->reset();
    overlapped->reset(event);
}

void waitWhilePending(EventHandlerUSB& events, HandleUSB* handle, const char* activity) {
    uint32_t waits = 0;
    while (events.overlapped->pending()) {
        if (waits > kWaitStepsBeforeCancel) {
            QVLOG_LIMITED(logging::error) << "Serious fail. Too long timeout (" << waits << "0ms) during " << activity
                                          << ".";
            requestCancel(handle);
        }
        ++waits;
        events.event->wait(kWaitStepMs);
    }
}

// ---------------------------------------------------------------------------

ReadBuffer_USB_Win::ReadBuffer_USB_Win()
    : storage_(allocateZeroed<uint8_t>(kCapacity)), events_(std::make_shared<EventHandlerUSB>()) {}

ReadBuffer_USB_Win::~ReadBuffer_USB_Win() { cancelInDestructor(*this); }

void ReadBuffer_USB_Win::setSize(uint32_t count) {
    valid_ = count;
    if (storageSize_ < count) {
        if (count > kCapacity) QV_THROW(QVIOException("Requested a too large data package."));
        QVLOG(logging::status) << "RD: Memory resize from " << storageSize_ << " to " << count;
        storageSize_ = count;
    }
    cursor_ = 0;
}

bool ReadBuffer_USB_Win::readAsync(uint32_t size) {
    if (pending_) QV_THROW(QVIOException("Transfer is still pending!"));
    if (size > kCapacity) QV_THROW(QVIOException("Requested a too large data package."));
    if (!handle_) QV_THROW(QVIOInternalException("Invalid handle detected. Was the device disconnected?"));
    events_->prepare();
    setSize(size);
    const usb::IoResult result = handle_->readFile(storage_.get(), size, events_->overlapped);
    switch (result.error) {
    case usb::kErrorSuccess:
        valid_ = result.bytes;
        cursor_ = 0;
        return true;
    case usb::kErrorIoPending:
        pending_ = true;
        return false;
    case usb::kErrorSemaphoreTimeout:
        QVLOG(logging::status) << "readAsync: Resize in timeout from " << storageSize_ << " to " << size;
        setSize(result.bytes);
        QV_THROW(QVIOTimeoutException("Read timeout during readAsync()."));
    default:
        consumeAll();
        QV_THROW(QVIOInternalException(numbered("Read error %d during readAsync().", result.error)));
    }
}

void ReadBuffer_USB_Win::waitAsync() {
    if (!pending_) {
        cursor_ = 0;
        return;
    }
    const usb::IoResult result = finishPending(pending_, *events_, handle_.get(), "bulk read");
    if (result.error == usb::kErrorSemaphoreTimeout) {
        setSize(result.bytes);
        QV_THROW(QVIOTimeoutException("Read timeout during waitAsync()."));
    }
    if (result.error != usb::kErrorSuccess) {
        consumeAll();
        QV_THROW(QVIOInternalException(numbered("Read error %d during waitAsync().", result.error)));
    }
    setSize(result.bytes);
}

bool ReadBuffer_USB_Win::waitForCompletion(uint32_t ms) {
    if (!pending_ || !events_->overlapped->pending()) return true;
    events_->event->wait(ms);
    return !events_->overlapped->pending();
}

void ReadBuffer_USB_Win::cancel() {
    cancelPending(pending_, *events_, handle_.get());
    consumeAll();
}

// ---------------------------------------------------------------------------

WriteBuffer_USB_Win::WriteBuffer_USB_Win() : events_(std::make_shared<EventHandlerUSB>()) {
    storage_.reserve(kChunkSize);
}

WriteBuffer_USB_Win::~WriteBuffer_USB_Win() { cancelInDestructor(*this); }

bool WriteBuffer_USB_Win::writeAsync() { return start(storage_.data(), size(), true); }

bool WriteBuffer_USB_Win::writeAsync(const uint8_t* data, uint32_t length) { return start(data, length, false); }

bool WriteBuffer_USB_Win::start(const uint8_t* data, uint32_t length, bool ownBytes) {
    if (pending_) QV_THROW(QVIOException("Transfer is still pending!"));
    if (!handle_) QV_THROW(QVIOInternalException("Invalid handle detected. Was the device disconnected?"));
    inFlight_ = length;
    events_->prepare();
    const usb::IoResult result = handle_->writeFile(data, length, events_->overlapped);
    switch (result.error) {
    case usb::kErrorSuccess:
        storage_.clear();
        return true;
    case usb::kErrorIoPending:
        pending_ = true;
        return false;
    case usb::kErrorSemaphoreTimeout:
        storage_.clear();
        QV_THROW(QVIOTimeoutException(ownBytes ? "Write timeout during writeAsync()."
                                               : "Write timeout during waitAsync()"));
    default:
        storage_.clear();
        QV_THROW(QVIOInternalException(numbered(ownBytes ? "Write error %d during writeAsync()."
                                                         : "Write error %d during waitAsync().",
                                                result.error)));
    }
}

void WriteBuffer_USB_Win::waitAsync() {
    if (!pending_) return;
    const usb::IoResult result = finishPending(pending_, *events_, handle_.get(), "bulk write");
    storage_.clear();
    if (result.error == usb::kErrorSemaphoreTimeout)
        QV_THROW(QVIOTimeoutException("Write timeout during waitAsync()."));
    if (result.error != usb::kErrorSuccess)
        QV_THROW(QVIOInternalException(numbered("Write error %d during waitAsync().", result.error)));
}

void WriteBuffer_USB_Win::writeAndWait() {
    if (!writeAsync()) waitAsync();
}

void WriteBuffer_USB_Win::writeAndWait(const uint8_t* data, uint32_t length) {
    if (!writeAsync(data, length)) waitAsync();
}

void WriteBuffer_USB_Win::cancel() {
    cancelPending(pending_, *events_, handle_.get());
    storage_.clear();
}

}  // namespace detail
}  // namespace tarnix
