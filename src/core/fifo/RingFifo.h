#pragma once
#include "core/fifo/QVFifo.h"
#include "core/fifo/ZeroedArray.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace tarnix {

// A FIFO of bytes. used() and capacity() count bytes. A reservation or a read
// that would cross the end of the ring goes through a side buffer, which is
// copied into the ring on commit (write) or filled from it (read); side
// buffers grow to the largest such access and are kept for reuse.
class RingFifoBase : public QVAccessibleFifo<1, 1> {
public:
    void reset() override;
    unsigned used() const override;
    unsigned capacity() const override { return bytes_; }

    // Refused while a reservation is open or when fewer than length bytes are free.
    bool beginWrite(uint8_t*& data, uint32_t length) override;
    void commitBlock() override;
    void endWrite(uint32_t length) override;
    void abortWrite() override;

    // Refused while a read is open or when the FIFO is empty.
    bool beginRead(uint8_t*& data, uint32_t& length) override;
    void consumeBlock() override;
    void endRead(uint32_t length) override;
    void abortRead() override;

    // Bytes that a write could reserve now.
    unsigned freeSpace() const { return bytes_ - used(); }

protected:
    // bytes: a power of two, at most 2^31.
    explicit RingFifoBase(uint32_t bytes);

private:
    class SideBuffer {
    public:
        uint8_t* reserve(uint32_t length);
        uint8_t* data() const { return data_.get(); }
    private:
        std::unique_ptr<uint8_t[]> data_;
        uint32_t capacity_ = 0;
    };

    const uint32_t bytes_;
    const uint32_t mask_;
    ZeroedArray<uint8_t> ring_;

    // Each side's published total and own state on a cache line of its own.
    // A side's total is stored only by that side, with release ordering; the
    // copy of the other side's total may be stale (less room, less data) and
    // is refreshed when it would refuse an access.
    struct alignas(64) WriterSide {
        std::atomic<uint32_t> total{0};
        uint32_t pending = 0;  // length of the open reservation
        bool open = false;
        bool viaSide = false;  // the reservation lies in the side buffer
        uint32_t seenReadTotal = 0;
        SideBuffer side;
    };
    struct alignas(64) ReaderSide {
        std::atomic<uint32_t> total{0};
        uint32_t pending = 0;  // length of the open read
        bool open = false;
        uint32_t seenWriteTotal = 0;
        SideBuffer side;
    };

    WriterSide writer_;
    ReaderSide reader_;
};

template <uint32_t BYTES>
class RingFifo : public RingFifoBase {
    static_assert(BYTES != 0 && (BYTES & (BYTES - 1)) == 0 && BYTES <= (1u << 31),
                  "BYTES must be a power of two, at most 2^31");

public:
    RingFifo() : RingFifoBase(BYTES) {}
};

}  // namespace tarnix
