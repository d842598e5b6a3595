#include "core/fifo/RingFifo.h"

#include <algorithm>
#include <cstring>

namespace tarnix {

uint8_t* RingFifoBase::SideBuffer::reserve(uint32_t length) {
    if (capacity_ < length) {
        data_.reset(new uint8_t[length]);
        capacity_ = length;
    }
    return data_.get();
}

RingFifoBase::RingFifoBase(uint32_t bytes) : bytes_(bytes), mask_(bytes - 1) {
    if (bytes == 0 || (bytes & (bytes - 1)) != 0 || bytes > (1u << 31))
        QV_THROW(QVException("RingFifo size must be a power of two."));
    ring_ = allocateZeroed<uint8_t>(bytes);
}

void RingFifoBase::reset() {
    writer_.total.store(0, std::memory_order_release);
    reader_.total.store(0, std::memory_order_release);
    writer_.pending = 0;
    writer_.open = false;
    writer_.viaSide = false;
    writer_.seenReadTotal = 0;
    reader_.pending = 0;
    reader_.open = false;
    reader_.seenWriteTotal = 0;
}

unsigned RingFifoBase::used() const {
    uint32_t read = reader_.total.load(std::memory_order_acquire);
    return writer_.total.load(std::memory_order_acquire) - read;
}

bool RingFifoBase::beginWrite(uint8_t*& data, uint32_t length) {
    if (writer_.open) return false;
    const uint32_t writeTotal = writer_.total.load(std::memory_order_relaxed);
    if (bytes_ - (writeTotal - writer_.seenReadTotal) < length) {
        writer_.seenReadTotal = reader_.total.load(std::memory_order_acquire);
        if (bytes_ - (writeTotal - writer_.seenReadTotal) < length) return false;
    }
    const uint32_t offset = writeTotal & mask_;
    if (offset + uint64_t(length) <= bytes_) {
        data = ring_.get() + offset;
    } else {
        data = writer_.side.reserve(length);
        writer_.viaSide = true;
    }
    writer_.pending = length;
    writer_.open = true;
    return true;
}

void RingFifoBase::commitBlock() {
    if (!writer_.open) return;
    const uint32_t writeTotal = writer_.total.load(std::memory_order_relaxed);
    if (writer_.viaSide) {
        const uint32_t offset = writeTotal & mask_;
        const uint32_t first = std::min(writer_.pending, bytes_ - offset);
        const uint8_t* side = writer_.side.data();
        std::memcpy(ring_.get() + offset, side, first);
        std::memcpy(ring_.get(), side + first, writer_.pending - first);
        writer_.viaSide = false;
    }
    writer_.total.store(writeTotal + writer_.pending, std::memory_order_release);
    writer_.pending = 0;
    writer_.open = false;
}

void RingFifoBase::endWrite(uint32_t length) {
    if (length > writer_.pending) QV_THROW(QVOverflowException());
    writer_.pending = length;
    commitBlock();
}

void RingFifoBase::abortWrite() {
    writer_.viaSide = false;
    writer_.pending = 0;
    writer_.open = false;
}

bool RingFifoBase::beginRead(uint8_t*& data, uint32_t& length) {
    if (reader_.open) return false;
    const uint32_t readTotal = reader_.total.load(std::memory_order_relaxed);
    const uint32_t wanted = length == 0 ? bytes_ : length;
    // "All that can be had" always looks at the writer's latest total.
    if (length == 0 || reader_.seenWriteTotal - readTotal < wanted)
        reader_.seenWriteTotal = writer_.total.load(std::memory_order_acquire);
    const uint32_t taken = std::min(wanted, reader_.seenWriteTotal - readTotal);
    if (taken == 0) return false;
    const uint32_t offset = readTotal & mask_;
    if (offset + uint64_t(taken) <= bytes_) {
        data = ring_.get() + offset;
    } else {
        uint8_t* side = reader_.side.reserve(taken);
        const uint32_t first = bytes_ - offset;
        std::memcpy(side, ring_.get() + offset, first);
        std::memcpy(side + first, ring_.get(), taken - first);
        data = side;
    }
    reader_.pending = taken;
    reader_.open = true;
    length = taken;
    return true;
}

void RingFifoBase::consumeBlock() {
    if (!reader_.open) return;
    reader_.total.store(reader_.total.load(std::memory_order_relaxed) + reader_.pending,
                        std::memory_order_release);
    reader_.pending = 0;
    reader_.open = false;
}

void RingFifoBase::endRead(uint32_t length) {
    if (length > reader_.pending) QV_THROW(QVUnderrunException());
    reader_.pending = length;
    consumeBlock();
}

void RingFifoBase::abortRead() {
    reader_.pending = 0;
    reader_.open = false;
}

}  // namespace tarnix
