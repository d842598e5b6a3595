#include "core/fifo/BufferFifo.h"

namespace tarnix {

namespace {
// Bytes ahead of a new block that the writer fetches for writing.
constexpr uint32_t kWritePrefetchDistance = 1024;
bool isPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }
}  // namespace

BufferFifoBase::BufferFifoBase(uint32_t blocks, uint32_t bytes)
    : blocks_(blocks), bytes_(bytes), blockMask_(blocks - 1), byteMask_(bytes - 1) {
    if (!isPowerOfTwo(blocks) || !isPowerOfTwo(bytes) || bytes > (1u << 30))
        QV_THROW(QVException("BufferFifo sizes must be powers of two."));
    descriptors_ = allocateZeroed<Descriptor>(blocks);
    ring_ = allocateZeroed<uint8_t>(bytes);
}

void BufferFifoBase::reset() {
    writer_.counter.store(0, std::memory_order_release);
    reader_.counter.store(0, std::memory_order_release);
    writer_.position = 0;
    writer_.reservedStart = 0;
    writer_.reservedLength = 0;
    writer_.open = false;
    writer_.seenReadCounter = 0;
    writer_.seenOldestStart = 0;
    reader_.readLength = 0;
    reader_.seenWriteCounter = 0;
}

unsigned BufferFifoBase::used() const {
    uint32_t read = reader_.counter.load(std::memory_order_acquire);
    return writer_.counter.load(std::memory_order_acquire) - read;
}

bool BufferFifoBase::hasRoom(uint32_t writeCounter, uint32_t start, uint32_t length) const {
    const uint32_t readCounter = writer_.seenReadCounter;
    if (writeCounter - readCounter >= blocks_) return false;
    if (writeCounter == readCounter) return true;
    // Everything from the oldest unread byte to the new block's end must fit
    // into one ring's length.
    return start - writer_.seenOldestStart + length <= bytes_;
}

bool BufferFifoBase::beginWrite(uint8_t*& data, uint32_t length) {
    if (length > bytes_) return false;
    const uint32_t writeCounter = writer_.counter.load(std::memory_order_relaxed);

    uint32_t start = writer_.position;
    const uint32_t offset = start & byteMask_;
    if (offset != 0 && offset + length >= bytes_) start += bytes_ - offset;  // next lap

    if (!hasRoom(writeCounter, start, length)) {
        writer_.seenReadCounter = reader_.counter.load(std::memory_order_acquire);
        if (writer_.seenReadCounter != writeCounter)
            writer_.seenOldestStart =
                slot(writer_.seenReadCounter).start.load(std::memory_order_acquire);
        if (!hasRoom(writeCounter, start, length)) return false;
    }
    // While the FIFO looks empty, the block reserved now is the oldest one.
    if (writer_.seenReadCounter == writeCounter) writer_.seenOldestStart = start;

    // Streams write block after block at a rate that leaves the next lines
    // no time to come from another core's cache or from memory on demand.
    __builtin_prefetch(at(start + kWritePrefetchDistance), 1);
    Descriptor& d = slot(writeCounter);
    d.start.store(start, std::memory_order_relaxed);
    d.length.store(length, std::memory_order_relaxed);
    writer_.reservedStart = start;
    writer_.reservedLength = length;
    writer_.open = true;
    data = at(start);
    return true;
}

void BufferFifoBase::commitBlock() {
    if (!writer_.open) return;
    writer_.open = false;
    writer_.position = writer_.reservedStart + writer_.reservedLength;
    writer_.counter.store(writer_.counter.load(std::memory_order_relaxed) + 1,
                          std::memory_order_release);
}

void BufferFifoBase::endWrite(uint32_t length) {
    if (length > (writer_.open ? writer_.reservedLength : 0u)) QV_THROW(QVOverflowException());
    if (!writer_.open) return;
    writer_.reservedLength = length;
    slot(writer_.counter.load(std::memory_order_relaxed))
        .length.store(length, std::memory_order_relaxed);
    commitBlock();
}

void BufferFifoBase::abortWrite() { writer_.open = false; }

bool BufferFifoBase::hasData(uint32_t readCounter) {
    if (readCounter != reader_.seenWriteCounter) return true;
    reader_.seenWriteCounter = writer_.counter.load(std::memory_order_acquire);
    return readCounter != reader_.seenWriteCounter;
}

bool BufferFifoBase::beginRead(uint8_t*& data, uint32_t& length) {
    const uint32_t readCounter = reader_.counter.load(std::memory_order_relaxed);
    if (!hasData(readCounter)) return false;
    const Descriptor& d = slot(readCounter);
    const uint32_t blockLength = d.length.load(std::memory_order_relaxed);
    reader_.readLength = (length == 0 || length > blockLength) ? blockLength : length;
    data = at(d.start.load(std::memory_order_relaxed));
    length = reader_.readLength;
    return true;
}

void BufferFifoBase::consumeBlock() { endRead(reader_.readLength); }

void BufferFifoBase::endRead(uint32_t length) {
    if (!hasData(reader_.counter.load(std::memory_order_relaxed))) {
        if (length != 0) QV_THROW(QVUnderrunException());
        return;
    }
    consumeOldest(length);
    reader_.readLength = 0;
}

void BufferFifoBase::consumeOldest(uint32_t consumed) {
    const uint32_t readCounter = reader_.counter.load(std::memory_order_relaxed);
    Descriptor& oldest = slot(readCounter);
    const uint32_t length = oldest.length.load(std::memory_order_relaxed);
    if (consumed > length) QV_THROW(QVUnderrunException());
    if (consumed == length) {
        reader_.counter.store(readCounter + 1, std::memory_order_release);
        return;
    }
    // The rest of the block is read next time. Release, because the writer
    // may reuse the consumed bytes as soon as it sees the new start.
    const uint32_t start = oldest.start.load(std::memory_order_relaxed);
    oldest.length.store(length - consumed, std::memory_order_relaxed);
    oldest.start.store(start + consumed, std::memory_order_release);
}

void BufferFifoBase::abortRead() {}

void BufferFifoBase::mergeBlocks(uint32_t limit) {
    const uint32_t readCounter = reader_.counter.load(std::memory_order_relaxed);
    reader_.seenWriteCounter = writer_.counter.load(std::memory_order_acquire);
    const uint32_t writeCounter = reader_.seenWriteCounter;
    if (writeCounter - readCounter < 2) return;

    const uint32_t start = slot(readCounter).start.load(std::memory_order_relaxed);
    uint32_t length = slot(readCounter).length.load(std::memory_order_relaxed);
    uint32_t last = readCounter;
    for (uint32_t i = readCounter + 1; i != writeCounter; ++i) {
        const Descriptor& next = slot(i);
        const uint32_t nextStart = next.start.load(std::memory_order_relaxed);
        const uint32_t nextLength = next.length.load(std::memory_order_relaxed);
        // Back to back in the stream and in memory: a block after the ring's
        // end continues the stream but starts again at the ring's start.
        const bool adjacent = start + length == nextStart &&
                              (start & byteMask_) + length == (nextStart & byteMask_);
        if (!adjacent) break;
        if (limit != 0 && uint64_t(length) + nextLength >= limit) break;
        length += nextLength;
        last = i;
    }
    if (last == readCounter) return;
    // The last absorbing block becomes the oldest; the blocks before it are
    // gone. Its start is the old oldest start, so the writer's view of the
    // oldest unread byte stays the same throughout.
    Descriptor& merged = slot(last);
    merged.length.store(length, std::memory_order_relaxed);
    merged.start.store(start, std::memory_order_release);
    reader_.counter.store(last, std::memory_order_release);
}

}  // namespace tarnix
