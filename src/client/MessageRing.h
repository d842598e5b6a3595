#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "qvAPI.h"

namespace tarnix {
namespace client {

// The receive side of a connection: a data buffer used as a ring of whole
// messages plus an index ring of the queued ones. Bytes are received into a
// window of free space at the write offset; a complete unsolicited message is
// committed where it lies, so events are copied only when they are taken.
//
// A window is "parked" when its bytes (the start of the next message) are
// kept but no free space could be opened for more (index ring or data buffer
// at their maximum); the next openWindow() takes them along.
class MessageRing {
public:
    static constexpr uint32_t kWindowSize = 0x400000;
    static constexpr uint32_t kInitialSlots = 256;
    static constexpr uint32_t kSlotStep = 256;
    static constexpr uint32_t kMaxSlots = 0x40000;
    static constexpr uint32_t kInitialDataSize = 0x20000;
    static constexpr uint32_t kMaxDataSize = 0x2000000;

    MessageRing();

    // Both buffers could be allocated.
    bool valid() const { return data_ != nullptr && !slots_.empty(); }

    // Drops every queued event and any received bytes; buffers keep their size.
    void reset();

    // Drops the bytes of the window (the connection they came from is gone)
    // and keeps the queued events.
    void dropWindow();

    // Opens free space for receiving unless a window is open. QV_OVERFLOW when
    // the index ring is full at its maximum, QV_BUFFER_TOO_SMALL when the data
    // buffer would exceed its maximum, QV_ALLOC_FAILED when growing fails.
    QV_STATUS openWindow();

    bool windowOpen() const { return windowSize_ != 0; }
    const uint8_t* windowBytes() const { return data_.get() + windowOffset_; }
    uint32_t windowFill() const { return windowFill_; }
    uint8_t* windowFreeSpace() { return data_.get() + windowOffset_ + windowFill_; }
    uint32_t windowRoom() const { return windowSize_ - windowFill_; }
    void addReceived(uint32_t n) { windowFill_ += n; }

    // Removes the first n bytes of the window (a reply taken or dropped).
    void consumeFront(uint32_t n);

    // Queues the first n bytes of the window as one event and opens the next
    // window behind it; on a failure the remaining bytes stay parked.
    QV_STATUS commitFront(uint32_t n);

    uint32_t queued() const { return queued_; }
    // The oldest queued event; only while queued() > 0.
    const uint8_t* oldest(uint32_t& length) const;
    void popOldest();

    uint32_t dataSize() const { return dataSize_; }
    uint32_t slotCapacity() const { return uint32_t(slots_.size()); }

private:
    struct EventSlot {
        uint32_t offset = 0;
        uint32_t length = 0;  // header included
    };

    QV_STATUS growSlots();
    // Growing copies the whole buffer, so it grows by at least half its size
    // (up to the maximum) rather than by the few bytes one message needs.
    uint64_t withSlack(uint64_t needed) const;
    QV_STATUS growData(uint64_t needed);
    QV_STATUS growAroundWrappedData(uint32_t writeOffset, uint32_t oldestOffset);
    uint32_t oldestOffset() const { return slots_[readIndex_].offset; }
    uint32_t nextIndex(uint32_t index) const { return index + 1 == slots_.size() ? 0 : index + 1; }

    std::vector<EventSlot> slots_;
    uint32_t writeIndex_ = 0;
    uint32_t readIndex_ = 0;
    uint32_t queued_ = 0;

    std::unique_ptr<uint8_t[]> data_;
    uint32_t dataSize_ = 0;
    uint32_t dataWriteOffset_ = 0;

    uint32_t windowOffset_ = 0;
    uint32_t windowFill_ = 0;
    uint32_t windowSize_ = 0;  // kWindowSize while open, 0 otherwise
};

}  // namespace client
}  // namespace tarnix
