// One producer thread and one consumer thread on each FIFO, bounded in time
// and count. Small rings make full, empty and wrap-around states frequent.
// Run under ThreadSanitizer as part of the "tsan" label.
#include "platform/endian/ByteOrder.h"
#include "core/fifo/BufferFifo.h"
#include "core/fifo/RingFifo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace tarnix {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRunTime = std::chrono::milliseconds(400);
constexpr uint32_t kMaxRecords = 2000000;
// Records every run carries at least, however slowly a loaded machine lets
// the two threads go: the count, not the clock, makes the stress.
constexpr uint32_t kMinRecords = 5000;

uint8_t streamByte(uint32_t record, uint32_t index) { return uint8_t(record * 17u + index); }

// Record i: u32 sequence, u32 length, then bytes derived from both.
uint32_t recordLength(uint32_t sequence) { return 8 + (sequence * 2654435761u >> 26); }  // 8..71

struct Progress {
    std::atomic<bool> producerDone{false};
    uint32_t produced = 0;
};

// How long a reader looks for the records before it gives up: the producer's
// time and plenty for the rest.
Clock::time_point readerGiveUp() { return Clock::now() + kRunTime + std::chrono::seconds(30); }

// The producer stops after kRunTime or kMaxRecords, whichever comes first,
// but not before kMinRecords.
template <class Write>
void produce(Progress& progress, Write write) {
    const auto end = Clock::now() + kRunTime;
    uint32_t sequence = 0;
    while (sequence < kMaxRecords && (sequence < kMinRecords || Clock::now() < end)) {
        if (write(sequence))
            ++sequence;
        else
            std::this_thread::yield();
    }
    progress.produced = sequence;
    progress.producerDone.store(true, std::memory_order_release);
}

bool putRecord(QVFifo& fifo, uint32_t sequence) {
    const uint32_t length = recordLength(sequence);
    FifoWriter writer(fifo, length);
    if (!writer.isValid()) return false;
    uint8_t* p = writer.data();
    le::put32(p, sequence);
    le::put32(p + 4, length);
    for (uint32_t i = 8; i < length; ++i) p[i] = streamByte(sequence, i);
    writer.commitAll();
    return true;
}

// Checks one record at p (at most available bytes); returns its length or 0.
uint32_t checkRecord(const uint8_t* p, uint32_t available, uint32_t expectedSequence) {
    if (available < 8 || le::get32(p) != expectedSequence) return 0;
    const uint32_t length = le::get32(p + 4);
    if (length != recordLength(expectedSequence) || length > available) return 0;
    for (uint32_t i = 8; i < length; ++i)
        if (p[i] != streamByte(expectedSequence, i)) return 0;
    return length;
}

TEST(FifoStress, BufferFifoWithMergingReader) {
    BufferFifo<64, 2048> fifo;
    Progress progress;
    std::thread producer([&] { produce(progress, [&](uint32_t s) { return putRecord(fifo, s); }); });

    uint32_t expected = 0;
    bool intact = true;
    const auto giveUp = readerGiveUp();
    for (;;) {
        if (Clock::now() > giveUp) {
            ADD_FAILURE() << "the reader never found the FIFO empty after the producer's end";
            break;
        }
        const bool done = progress.producerDone.load(std::memory_order_acquire);
        // Every other pass reads merged blocks, as the dispatcher does.
        if (expected % 2) fifo.mergeBlocks(expected % 3 ? 0 : 200);
        FifoReader reader(fifo, 0);
        if (!reader.isValid()) {
            if (done && fifo.used() == 0) break;
            std::this_thread::yield();
            continue;
        }
        uint32_t offset = 0;
        while (intact && offset < reader.length()) {
            const uint32_t n = checkRecord(reader.data() + offset, reader.length() - offset, expected);
            if (n == 0) intact = false;
            offset += n;
            ++expected;
        }
        if (!intact) break;
        reader.commitAll();
    }
    producer.join();
    EXPECT_TRUE(intact) << "record " << expected;
    EXPECT_EQ(expected, progress.produced);
    EXPECT_GE(progress.produced, kMinRecords);
}

TEST(FifoStress, RingFifoByteStream) {
    RingFifo<4096> fifo;
    Progress progress;
    std::thread producer([&] { produce(progress, [&](uint32_t s) { return putRecord(fifo, s); }); });

    // The reader takes odd-sized pieces, so records arrive split across reads
    // and across the ring's end; they are reassembled in a local buffer.
    uint8_t pending[128];
    uint32_t pendingLength = 0;
    uint32_t expected = 0;
    uint32_t pass = 0;
    bool intact = true;
    const auto giveUp = readerGiveUp();
    while (intact) {
        if (Clock::now() > giveUp) {
            ADD_FAILURE() << "the reader never found the FIFO empty after the producer's end";
            break;
        }
        const bool done = progress.producerDone.load(std::memory_order_acquire);
        const uint32_t want = 1 + (++pass * 37u) % 127u;
        FifoReader reader(fifo, std::min<uint32_t>(want, sizeof pending - pendingLength));
        if (!reader.isValid()) {
            if (done && fifo.used() == 0) break;
            std::this_thread::yield();
            continue;
        }
        const uint32_t n = reader.length();
        reader.commit(pending + pendingLength, n);
        pendingLength += n;
        for (;;) {
            if (pendingLength < recordLength(expected)) break;
            const uint32_t used = checkRecord(pending, pendingLength, expected);
            if (used == 0) {
                intact = false;
                break;
            }
            std::memmove(pending, pending + used, pendingLength - used);
            pendingLength -= used;
            ++expected;
        }
    }
    producer.join();
    EXPECT_TRUE(intact) << "record " << expected;
    EXPECT_EQ(pendingLength, 0u);
    EXPECT_EQ(expected, progress.produced);
    EXPECT_GE(progress.produced, kMinRecords);
}

}  // namespace
}  // namespace tarnix
