#include "FifoTestSupport.h"
#include "core/fifo/BufferFifo.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace tarnix {
namespace {

using test::pattern;
using test::readAll;
using test::writePattern;

// The data ring's start: where the first block of a fresh FIFO goes.
uint8_t* ringStart(QVFifo& fifo) {
    uint8_t* data = nullptr;
    EXPECT_TRUE(fifo.beginWrite(data, 1));
    fifo.abortWrite();
    return data;
}

TEST(BufferFifo, RefusesBlockBeyondDescriptorCount) {
    BufferFifo<128, 65536> fifo;
    for (uint32_t i = 0; i < 128; ++i) ASSERT_NE(writePattern(fifo, i, 1), nullptr) << i;
    EXPECT_EQ(fifo.used(), 128u);
    EXPECT_EQ(fifo.capacity(), 128u);
    EXPECT_EQ(writePattern(fifo, 128, 1), nullptr);
    EXPECT_EQ(readAll(fifo), pattern(0, 1));
    EXPECT_NE(writePattern(fifo, 128, 1), nullptr);
}

TEST(BufferFifo, WholeRingBlockOnlyWhenEmptyAndAtRingStart) {
    BufferFifo<128, 65536> fifo;
    uint8_t* start = ringStart(fifo);
    uint8_t* data = nullptr;
    EXPECT_FALSE(fifo.beginWrite(data, 65537));

    ASSERT_NE(writePattern(fifo, 1, 100), nullptr);
    EXPECT_FALSE(fifo.beginWrite(data, 65536));
    EXPECT_FALSE(fifo.beginWrite(data, 65537));
    readAll(fifo);

    EXPECT_EQ(writePattern(fifo, 2, 65536), start);
    EXPECT_EQ(readAll(fifo), pattern(2, 65536));
}

// One step of a wrap scenario on a BufferFifo<16,1024>: write a block of n
// bytes (expecting its ring offset, or a refusal), or read the oldest block
// wholly or in part.
struct WrapStep {
    enum Kind { Write, Read, ReadPart } kind;
    uint32_t length;
    int expectedOffset;  // for Write; -1 = refused
};
constexpr int kRefused = -1;

struct WrapCase {
    const char* name;
    std::vector<WrapStep> steps;
};

WrapStep W(uint32_t n, int offset) { return {WrapStep::Write, n, offset}; }
WrapStep R() { return {WrapStep::Read, 0, 0}; }
WrapStep RPart(uint32_t n) { return {WrapStep::ReadPart, n, 0}; }

class BufferFifoWrap : public ::testing::TestWithParam<WrapCase> {};

// Runs the steps, then drains the FIFO: every block still unread must come
// back with exactly the bytes written, so a block placed on top of unread
// data fails the test even when its placement looked plausible.
TEST_P(BufferFifoWrap, PlacesBlocksOnlyOnFreeBytes) {
    BufferFifo<16, 1024> fifo;
    uint8_t* start = ringStart(fifo);
    std::deque<std::vector<uint8_t>> unread;
    uint32_t seed = 0;
    for (const WrapStep& step : GetParam().steps) {
        if (step.kind == WrapStep::Write) {
            ++seed;
            uint8_t* data = writePattern(fifo, seed, step.length);
            int offset = data ? int(data - start) : kRefused;
            EXPECT_EQ(offset, step.expectedOffset) << "write #" << seed << " of " << step.length;
            if (data) unread.push_back(pattern(seed, step.length));
        } else {
            ASSERT_FALSE(unread.empty());
            uint32_t n = step.kind == WrapStep::Read ? 0 : step.length;
            std::vector<uint8_t> got = readAll(fifo, n);
            std::vector<uint8_t>& expected = unread.front();
            ASSERT_LE(got.size(), expected.size());
            EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin()));
            expected.erase(expected.begin(), expected.begin() + got.size());
            if (expected.empty()) unread.pop_front();
        }
    }
    while (!unread.empty()) {
        EXPECT_EQ(readAll(fifo), unread.front());
        unread.pop_front();
    }
    EXPECT_EQ(fifo.used(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BufferFifoWrap,
    ::testing::Values(
        WrapCase{"EndingExactlyAtRingEndGoesToStart", {W(100, 0), R(), W(924, 0)}},
        WrapCase{"EndingExactlyAtRingEndRefusedOverOldest",
                 {W(100, 0), W(400, 100), R(), W(524, kRefused), W(100, 500)}},
        WrapCase{"WrapsToStartBeforeOldest", {W(600, 0), W(300, 600), R(), W(200, 0)}},
        WrapCase{"WrappedBlockMayEndExactlyAtOldest",
                 {W(600, 0), W(300, 600), R(), W(200, 0), W(400, 200), W(1, kRefused)}},
        WrapCase{"WrappedBlockRefusedOverOldest",
                 {W(600, 0), W(300, 600), R(), W(200, 0), W(401, kRefused)}},
        // The writer is already behind the reader and the next block does not
        // fit before the ring's end: going to the start again would overwrite
        // the wrapped blocks.
        WrapCase{"WrappedWriterDoesNotWrapAgain",
                 {W(600, 0), W(300, 600), R(), W(500, 0), W(550, kRefused), W(100, 500)}},
        WrapCase{"WrapRefusedWhenOldestIsAtRingStart",
                 {W(600, 0), W(300, 600), R(), W(200, 0), R(), W(80, 200), W(800, kRefused),
                  W(700, 280)}},
        WrapCase{"FullRingThenDrained",
                 {W(600, 0), W(300, 600), R(), W(600, 0), W(1, kRefused), R(), W(300, 600)}},
        WrapCase{"PartialReadFreesTheConsumedBytes",
                 {W(600, 0), W(300, 600), RPart(200), W(150, 0), W(50, 150), W(1, kRefused),
                  RPart(1), W(1, 200)}},
        WrapCase{"ReaderPassingTheWrapUnwrapsTheWriter",
                 {W(600, 0), W(300, 600), R(), W(200, 0), R(), W(700, 200), W(100, 900),
                  W(24, kRefused), R(), W(100, 0), W(100, 100), W(1, kRefused)}},
        WrapCase{"EmptyFifoAcceptsWholeRing", {W(10, 0), R(), W(1024, 0), W(1, kRefused)}}),
    [](const ::testing::TestParamInfo<WrapCase>& info) { return std::string(info.param.name); });

TEST(BufferFifo, EndWriteShortensOrThrows) {
    BufferFifo<16, 1024> fifo;
    uint8_t* data = nullptr;
    ASSERT_TRUE(fifo.beginWrite(data, 20));
    fifo.endWrite(10);
    EXPECT_EQ(fifo.used(), 1u);
    EXPECT_EQ(readAll(fifo).size(), 10u);

    ASSERT_TRUE(fifo.beginWrite(data, 20));
    EXPECT_THROW(fifo.endWrite(21), QVOverflowException);
    EXPECT_EQ(fifo.used(), 0u);
    fifo.abortWrite();
    EXPECT_EQ(fifo.used(), 0u);
}

TEST(BufferFifo, PartialReadLeavesTheRestAsTheBlock) {
    BufferFifo<16, 1024> fifo;
    writePattern(fifo, 7, 100);
    const std::vector<uint8_t> all = pattern(7, 100);
    uint8_t* data = nullptr;
    uint32_t length = 40;
    ASSERT_TRUE(fifo.beginRead(data, length));
    EXPECT_EQ(length, 40u);
    fifo.endRead(40);
    EXPECT_EQ(fifo.used(), 1u);
    EXPECT_EQ(readAll(fifo), std::vector<uint8_t>(all.begin() + 40, all.end()));
    EXPECT_EQ(fifo.used(), 0u);
}

TEST(BufferFifo, ReadLengthIsCappedAtTheBlock) {
    BufferFifo<16, 1024> fifo;
    writePattern(fifo, 1, 30);
    uint8_t* data = nullptr;
    uint32_t length = 500;
    ASSERT_TRUE(fifo.beginRead(data, length));
    EXPECT_EQ(length, 30u);
    EXPECT_THROW(fifo.endRead(31), QVUnderrunException);
    fifo.abortRead();
    EXPECT_EQ(readAll(fifo), pattern(1, 30));
    EXPECT_FALSE(fifo.beginRead(data, length));
}

TEST(BufferFifo, ResetEmptiesAndRestartsAtRingStart) {
    BufferFifo<16, 1024> fifo;
    uint8_t* start = ringStart(fifo);
    writePattern(fifo, 1, 300);
    writePattern(fifo, 2, 300);
    readAll(fifo);
    fifo.reset();
    EXPECT_EQ(fifo.used(), 0u);
    EXPECT_EQ(writePattern(fifo, 3, 10), start);
    EXPECT_EQ(readAll(fifo), pattern(3, 10));
}

// Block lengths left after merging; the data must still read back in order.
struct MergeCase {
    const char* name;
    std::vector<uint32_t> blocks;
    uint32_t limit;
    std::vector<uint32_t> merged;
};

class BufferFifoMerge : public ::testing::TestWithParam<MergeCase> {};

TEST_P(BufferFifoMerge, JoinsBackToBackBlocksBelowLimit) {
    BufferFifo<16, 1024> fifo;
    std::vector<uint8_t> stream;
    uint32_t seed = 0;
    for (uint32_t n : GetParam().blocks) {
        ASSERT_NE(writePattern(fifo, ++seed, n), nullptr);
        std::vector<uint8_t> bytes = pattern(seed, n);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    fifo.mergeBlocks(GetParam().limit);
    EXPECT_EQ(fifo.used(), GetParam().merged.size());
    std::vector<uint8_t> got;
    for (uint32_t n : GetParam().merged) {
        std::vector<uint8_t> block = readAll(fifo);
        EXPECT_EQ(block.size(), n);
        got.insert(got.end(), block.begin(), block.end());
    }
    EXPECT_EQ(got, stream);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BufferFifoMerge,
    ::testing::Values(MergeCase{"NoLimit", {10, 20, 30}, 0, {60}},
                      MergeCase{"FirstPairReachesLimit", {10, 20, 30}, 30, {10, 20, 30}},
                      MergeCase{"SecondPairReachesLimit", {10, 20, 30}, 31, {30, 30}},
                      MergeCase{"SingleBlock", {10}, 0, {10}},
                      MergeCase{"StopsAtFirstPairReachingLimit", {10, 10, 10, 10}, 25, {20, 10, 10}}),
    [](const ::testing::TestParamInfo<MergeCase>& info) { return std::string(info.param.name); });

TEST(BufferFifo, MergeKeepsPartlyReadOldestBlockAndStopsAtWrap) {
    BufferFifo<16, 1024> fifo;
    writePattern(fifo, 1, 600);
    writePattern(fifo, 2, 300);
    readAll(fifo);                 // oldest is now the 300 bytes at 600
    writePattern(fifo, 3, 200);    // wrapped to the ring's start
    readAll(fifo, 100);            // 200 bytes of block 2 are left
    fifo.mergeBlocks(0);
    EXPECT_EQ(fifo.used(), 2u);
    const std::vector<uint8_t> two = pattern(2, 300);
    EXPECT_EQ(readAll(fifo), std::vector<uint8_t>(two.begin() + 100, two.end()));
    EXPECT_EQ(readAll(fifo), pattern(3, 200));
}

TEST(BufferFifo, MergedBlockFreesItsWholeSpaceWhenRead) {
    BufferFifo<16, 1024> fifo;
    for (uint32_t i = 0; i < 4; ++i) writePattern(fifo, i, 200);
    fifo.mergeBlocks(0);
    EXPECT_EQ(fifo.used(), 1u);
    EXPECT_EQ(writePattern(fifo, 9, 300), nullptr);
    readAll(fifo);
    EXPECT_NE(writePattern(fifo, 9, 1000), nullptr);
}

TEST(BufferFifo, RejectsSizesThatAreNotPowersOfTwo) {
    struct Odd : BufferFifoBase {
        Odd(uint32_t blocks, uint32_t bytes) : BufferFifoBase(blocks, bytes) {}
    };
    EXPECT_THROW(Odd(12, 1024), QVException);
    EXPECT_THROW(Odd(16, 1000), QVException);
    EXPECT_NO_THROW(Odd(16, 1024));
}

TEST(BufferFifo, LargeInstancesBuildCheaply) {
    // A device's request FIFO: 8 MiB of data and 524,288 descriptors.
    for (int i = 0; i < 20; ++i) {
        BufferFifo<524288, 8388608> fifo;
        ASSERT_NE(writePattern(fifo, 1, 20), nullptr);
        EXPECT_EQ(readAll(fifo), pattern(1, 20));
    }
}

}  // namespace
}  // namespace tarnix
