#include "FifoTestSupport.h"
#include "core/fifo/RingFifo.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnix {
namespace {

using test::pattern;
using test::readAll;
using test::writePattern;

// Moves both totals on by n bytes, so that the next access starts n bytes
// into the ring; returns the ring's start.
uint8_t* advance(QVFifo& fifo, uint32_t n) {
    uint8_t* start = nullptr;
    EXPECT_TRUE(fifo.beginWrite(start, n));
    fifo.commitBlock();
    EXPECT_EQ(readAll(fifo).size(), n);
    return start;
}

TEST(RingFifo, WriteAcrossTheEndGoesThroughSideBufferAndLandsInTwoPieces) {
    constexpr uint32_t kBytes = 4194304;
    RingFifo<kBytes> fifo;
    uint8_t* start = advance(fifo, kBytes - 40);

    uint8_t* data = writePattern(fifo, 5, 100);
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(data < start || data >= start + kBytes) << "written in place";
    EXPECT_EQ(fifo.used(), 100u);
    const std::vector<uint8_t> all = pattern(5, 100);

    // Whole: copied out in order through the side read buffer.
    uint8_t* read = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(fifo.beginRead(read, length));
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(std::vector<uint8_t>(read, read + length), all);
    fifo.abortRead();

    // In pieces: 40 bytes at the ring's end, 60 at its start.
    length = 40;
    ASSERT_TRUE(fifo.beginRead(read, length));
    EXPECT_EQ(read, start + kBytes - 40);
    EXPECT_EQ(std::vector<uint8_t>(read, read + 40), std::vector<uint8_t>(all.begin(), all.begin() + 40));
    fifo.consumeBlock();
    length = 0;
    ASSERT_TRUE(fifo.beginRead(read, length));
    EXPECT_EQ(read, start);
    EXPECT_EQ(std::vector<uint8_t>(read, read + length), std::vector<uint8_t>(all.begin() + 40, all.end()));
    fifo.consumeBlock();
    EXPECT_EQ(fifo.used(), 0u);
}

TEST(RingFifo, RefusesWhatDoesNotFitAndASecondOpenAccess) {
    RingFifo<1024> fifo;
    uint8_t* data = nullptr;
    EXPECT_FALSE(fifo.beginWrite(data, 1025));
    ASSERT_NE(writePattern(fifo, 1, 1000), nullptr);
    EXPECT_EQ(fifo.capacity(), 1024u);
    EXPECT_EQ(fifo.freeSpace(), 24u);
    EXPECT_FALSE(fifo.beginWrite(data, 25));

    ASSERT_TRUE(fifo.beginWrite(data, 24));
    uint8_t* second = nullptr;
    EXPECT_FALSE(fifo.beginWrite(second, 1));
    fifo.abortWrite();
    EXPECT_EQ(fifo.used(), 1000u);

    uint32_t length = 10;
    ASSERT_TRUE(fifo.beginRead(data, length));
    uint32_t again = 0;
    EXPECT_FALSE(fifo.beginRead(second, again));
    fifo.abortRead();
    EXPECT_EQ(readAll(fifo), pattern(1, 1000));
    EXPECT_FALSE(fifo.beginRead(data, length));
}

TEST(RingFifo, EndWriteAndEndReadCheckTheirLengths) {
    RingFifo<1024> fifo;
    uint8_t* data = nullptr;
    ASSERT_TRUE(fifo.beginWrite(data, 20));
    EXPECT_THROW(fifo.endWrite(21), QVOverflowException);
    EXPECT_EQ(fifo.used(), 0u);
    fifo.endWrite(10);
    EXPECT_EQ(fifo.used(), 10u);

    uint32_t length = 0;
    ASSERT_TRUE(fifo.beginRead(data, length));
    EXPECT_EQ(length, 10u);
    EXPECT_THROW(fifo.endRead(11), QVUnderrunException);
    fifo.endRead(4);
    EXPECT_EQ(fifo.used(), 6u);
}

TEST(RingFifo, SideBuffersServeRepeatedCrossings) {
    RingFifo<256> fifo;
    std::vector<uint8_t> expected;
    std::vector<uint8_t> got;
    // 100-byte writes read back in 70-byte pieces cross the end many times.
    for (uint32_t seed = 0; seed < 50; ++seed) {
        ASSERT_NE(writePattern(fifo, seed, 100), nullptr);
        const std::vector<uint8_t> bytes = pattern(seed, 100);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        while (fifo.used() >= 70) {
            const std::vector<uint8_t> piece = readAll(fifo, 70);
            got.insert(got.end(), piece.begin(), piece.end());
        }
    }
    const std::vector<uint8_t> rest = readAll(fifo);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, expected);
}

TEST(RingFifo, ResetEmptiesAndRestartsAtRingStart) {
    RingFifo<1024> fifo;
    uint8_t* start = advance(fifo, 300);
    writePattern(fifo, 1, 100);
    fifo.reset();
    EXPECT_EQ(fifo.used(), 0u);
    EXPECT_EQ(writePattern(fifo, 2, 10), start);
}

}  // namespace
}  // namespace tarnix
