#pragma once
#include "core/fifo/QVFifo.h"
#include "core/fifo/ZeroedArray.h"

#include <atomic>
#include <cstdint>

namespace tarnix {

// A FIFO of variable-length blocks: each block is read back as the unit it was
// written as (or in pieces, when the reader consumes part of it). Blocks lie
// in one data ring and are never split across its end. A block that would
// reach the end of the ring goes to the ring's start instead.
//
// used() and capacity() count blocks. The writer may place a block only where
// it overlaps no unread byte, in particular not on top of unread data once it
// has wrapped behind the reader.
class BufferFifoBase : public QVAccessibleFifo<1, 1> {
public:
    void reset() override;
    unsigned used() const override;
    unsigned capacity() const override { return blocks_; }

    bool beginWrite(uint8_t*& data, uint32_t length) override;
    void commitBlock() override;
    void endWrite(uint32_t length) override;
    void abortWrite() override;

    bool beginRead(uint8_t*& data, uint32_t& length) override;
    void consumeBlock() override;
    void endRead(uint32_t length) override;
    void abortRead() override;

    // Reading side: joins unread blocks that lie back to back in the data ring
    // into one block, starting with the oldest, while their joined length
    // stays below limit (0 = no limit). The start of the oldest unread data
    // does not change, so the writer is not disturbed.
    void mergeBlocks(uint32_t limit);

    // Size of the data ring in bytes.
    uint32_t dataCapacity() const { return bytes_; }

protected:
    // blocks: a power of two; bytes: a power of two, at most 2^30.
    BufferFifoBase(uint32_t blocks, uint32_t bytes);

private:
    // Blocks are placed by their position in an endless byte stream (mod 2^32);
    // the position's low bits give the offset in the data ring. This tells a
    // full ring from an empty one and the writer's lap from the reader's.
    struct Descriptor {
        std::atomic<uint32_t> start;
        std::atomic<uint32_t> length;
    };

    Descriptor& slot(uint32_t counter) const { return descriptors_[counter & blockMask_]; }
    uint8_t* at(uint32_t position) const { return ring_.get() + (position & byteMask_); }
    void consumeOldest(uint32_t length);

    const uint32_t blocks_;
    const uint32_t bytes_;
    const uint32_t blockMask_;
    const uint32_t byteMask_;
    ZeroedArray<Descriptor> descriptors_;
    ZeroedArray<uint8_t> ring_;

    // Each side keeps its published counter and its own state on a cache line
    // of its own. A side's counter is stored only by that side, with release
    // ordering. The copies of the other side's values may be stale, which only
    // makes a side see less room or less data; they are refreshed when they
    // would refuse an access.
    struct alignas(64) WriterSide {
        std::atomic<uint32_t> counter{0};
        uint32_t position = 0;  // stream position of the next block
        uint32_t reservedStart = 0;
        uint32_t reservedLength = 0;
        bool open = false;
        uint32_t seenReadCounter = 0;
        uint32_t seenOldestStart = 0;  // start of the block at seenReadCounter
    };
    struct alignas(64) ReaderSide {
        std::atomic<uint32_t> counter{0};
        uint32_t readLength = 0;  // what the last beginRead returned
        uint32_t seenWriteCounter = 0;
    };

    bool hasRoom(uint32_t writeCounter, uint32_t start, uint32_t length) const;
    bool hasData(uint32_t readCounter);

    WriterSide writer_;
    ReaderSide reader_;
};

// BLOCKS descriptors and BYTES bytes of data, all allocated at construction.
template <uint32_t BLOCKS, uint32_t BYTES>
class BufferFifo : public BufferFifoBase {
    static_assert(BLOCKS != 0 && (BLOCKS & (BLOCKS - 1)) == 0, "BLOCKS must be a power of two");
    static_assert(BYTES != 0 && (BYTES & (BYTES - 1)) == 0 && BYTES <= (1u << 30),
                  "BYTES must be a power of two, at most 2^30");

public:
    BufferFifo() : BufferFifoBase(BLOCKS, BYTES) {}
};

}  // namespace tarnix
