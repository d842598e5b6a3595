#include "MessageRing.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tarnix {
namespace client {

MessageRing::MessageRing() : data_(new (std::nothrow) uint8_t[kInitialDataSize]) {
    if (data_) dataSize_ = kInitialDataSize;
    try {
        slots_.resize(kInitialSlots);
    } catch (const std::bad_alloc&) {
        slots_.clear();
    }
}

void MessageRing::reset() {
    writeIndex_ = readIndex_ = queued_ = 0;
    dataWriteOffset_ = 0;
    windowOffset_ = windowFill_ = windowSize_ = 0;
}

void MessageRing::dropWindow() {
    windowOffset_ = dataWriteOffset_;
    windowFill_ = windowSize_ = 0;
}

QV_STATUS MessageRing::openWindow() {
    if (windowOpen()) return QV_NO_ERROR;
    if (queued_ == slots_.size()) {
        QV_STATUS st = growSlots();
        if (st != QV_NO_ERROR) return st;
    }
    const uint32_t w = dataWriteOffset_;
    const uint64_t windowEnd = uint64_t(w) + kWindowSize;
    uint32_t placeAt = w;
    if (queued_ > 0 && oldestOffset() >= w && oldestOffset() < windowEnd) {
        // The data has wrapped and the oldest event lies where the window
        // would go: move the older part of the ring up, out of the way.
        QV_STATUS st = growAroundWrappedData(w, oldestOffset());
        if (st != QV_NO_ERROR) return st;
    } else if (windowEnd <= dataSize_) {
        placeAt = w;
    } else if (queued_ == 0 ? dataSize_ >= kWindowSize : oldestOffset() >= kWindowSize) {
        placeAt = 0;
    } else {
        QV_STATUS st = growData(windowEnd);
        if (st != QV_NO_ERROR) return st;
    }
    // Parked bytes lie at the old window offset, which is the write offset.
    if (placeAt != windowOffset_ && windowFill_ != 0) {
        std::memmove(data_.get() + placeAt, data_.get() + windowOffset_, windowFill_);
    }
    windowOffset_ = placeAt;
    dataWriteOffset_ = placeAt;
    windowSize_ = kWindowSize;
    slots_[writeIndex_] = EventSlot{placeAt, kWindowSize};
    return QV_NO_ERROR;
}

void MessageRing::consumeFront(uint32_t n) {
    uint8_t* start = data_.get() + windowOffset_;
    std::memmove(start, start + n, windowFill_ - n);
    windowFill_ -= n;
}

QV_STATUS MessageRing::commitFront(uint32_t n) {
    slots_[writeIndex_] = EventSlot{windowOffset_, n};
    dataWriteOffset_ = windowOffset_ + n;
    writeIndex_ = nextIndex(writeIndex_);
    ++queued_;
    // The bytes behind the event are the start of the next window.
    windowOffset_ = dataWriteOffset_;
    windowFill_ -= n;
    windowSize_ = 0;
    return openWindow();
}

const uint8_t* MessageRing::oldest(uint32_t& length) const {
    const EventSlot& slot = slots_[readIndex_];
    length = slot.length;
    return data_.get() + slot.offset;
}

void MessageRing::popOldest() {
    readIndex_ = nextIndex(readIndex_);
    --queued_;
}

QV_STATUS MessageRing::growSlots() {
    const uint32_t oldCapacity = uint32_t(slots_.size());
    if (oldCapacity >= kMaxSlots) return QV_OVERFLOW;
    const uint32_t newCapacity = oldCapacity + kSlotStep > kMaxSlots ? kMaxSlots : oldCapacity + kSlotStep;
    try {
        slots_.resize(newCapacity);
    } catch (const std::bad_alloc&) {
        return QV_ALLOC_FAILED;
    }
    // Keep ring order: the run from the read index to the old end moves to
    // the new end, so the gap of fresh slots sits behind the write index.
    if (queued_ > 0 && readIndex_ >= writeIndex_) {
        const uint32_t growth = newCapacity - oldCapacity;
        std::move_backward(slots_.begin() + readIndex_, slots_.begin() + oldCapacity, slots_.end());
        for (uint32_t i = readIndex_; i < readIndex_ + growth; ++i) slots_[i] = EventSlot{};
        readIndex_ += growth;
    }
    return QV_NO_ERROR;
}

uint64_t MessageRing::withSlack(uint64_t needed) const {
    uint64_t roomy = uint64_t(dataSize_) + dataSize_ / 2;
    if (roomy > kMaxDataSize) roomy = kMaxDataSize;
    return needed > roomy ? needed : roomy;
}

QV_STATUS MessageRing::growData(uint64_t needed) {
    if (dataSize_ >= kMaxDataSize || needed > kMaxDataSize) return QV_BUFFER_TOO_SMALL;
    const uint64_t newSize = withSlack(needed);
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[newSize]);
    if (!grown) return QV_ALLOC_FAILED;
    std::memcpy(grown.get(), data_.get(), dataSize_);
    data_ = std::move(grown);
    dataSize_ = uint32_t(newSize);
    return QV_NO_ERROR;
}

QV_STATUS MessageRing::growAroundWrappedData(uint32_t writeOffset, uint32_t oldestOffset) {
    const uint32_t upperPart = dataSize_ - oldestOffset;
    const uint64_t needed = uint64_t(writeOffset) + kWindowSize + upperPart;
    if (dataSize_ >= kMaxDataSize || needed > kMaxDataSize) return QV_BUFFER_TOO_SMALL;
    const uint64_t newSize = withSlack(needed);
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[newSize]);
    if (!grown) return QV_ALLOC_FAILED;
    std::memcpy(grown.get(), data_.get(), oldestOffset);
    std::memcpy(grown.get() + (newSize - upperPart), data_.get() + oldestOffset, upperPart);
    const uint32_t growth = uint32_t(newSize) - dataSize_;
    // Ring order runs from the oldest event up to the old end, then wraps to
    // the low offsets: only that first run moved.
    uint32_t index = readIndex_;
    for (uint32_t k = 0; k < queued_ && slots_[index].offset >= oldestOffset; ++k) {
        slots_[index].offset += growth;
        index = nextIndex(index);
    }
    data_ = std::move(grown);
    dataSize_ = uint32_t(newSize);
    return QV_NO_ERROR;
}

}  // namespace client
}  // namespace tarnix
