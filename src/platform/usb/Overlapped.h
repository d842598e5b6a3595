#pragma once
#include "platform/usb/Event.h"
#include "platform/usb/UsbErrors.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace tarnix {
namespace platform {
namespace usb {

// The record of one asynchronous transfer or request. The starter resets it and
// names the event to signal; the back-end completes it, possibly on another
// thread: first the byte count, then the status (release), then the event. A
// reader that sees a status other than kStatusPending may use the bytes.
// Back-ends hold the record and its event by shared reference until they have
// completed it, so the starter may drop its own references at any time.
struct Overlapped {
    std::atomic<uint32_t> internal{0};      // kStatusPending while running, else the result code
    std::atomic<uint32_t> internalHigh{0};  // bytes transferred
    uint32_t offset = 0;
    uint32_t offsetHigh = 0;
    std::shared_ptr<Event> event;

    void reset(std::shared_ptr<Event> signal) {
        internal.store(kStatusPending, std::memory_order_relaxed);
        internalHigh.store(0, std::memory_order_relaxed);
        offset = 0;
        offsetHigh = 0;
        event = std::move(signal);
    }
    bool pending() const { return internal.load(std::memory_order_acquire) == kStatusPending; }
    uint32_t status() const { return internal.load(std::memory_order_acquire); }
    uint32_t bytes() const { return internalHigh.load(std::memory_order_acquire); }

    // Called by the back-end exactly once per started transfer.
    void complete(uint32_t error, uint32_t transferred) {
        std::shared_ptr<Event> signal = event;
        internalHigh.store(transferred, std::memory_order_relaxed);
        internal.store(error, std::memory_order_release);
        if (signal) signal->set();
    }
};

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
