// The write side of a session: the 30 % rule for droppable data and the wait
// limit for important data.
#include "core/LogCapture.h"
#include "core/fifo/RingFifo.h"
#include "server/session/SessionOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tarnix {
namespace {

using Result = SessionOutput::Result;
constexpr uint32_t kCapacity = 1024;

struct OutputFixture : ::testing::Test {
    std::shared_ptr<QVFifo> fifo = std::make_shared<RingFifo<kCapacity>>();
    SessionOutput output{fifo, 42};

    void fill(uint32_t bytes) {
        std::vector<uint8_t> block(bytes, 0xAB);
        ASSERT_EQ(output.writeImportantDeferred(block.data(), bytes), Result::Written);
    }
    uint32_t drain(uint32_t bytes = 0) {
        FifoReader reader(*fifo, bytes);
        if (!reader.isValid()) return 0;
        uint32_t n = reader.length();
        reader.commitAll();
        return n;
    }
};

struct DroppableCase {
    uint32_t used;
    uint32_t length;
    Result expected;
};

class DroppableRule : public OutputFixture, public ::testing::WithParamInterface<DroppableCase> {};

TEST_P(DroppableRule, WrittenOnlyWhenThirtyPercentStayFree) {
    const DroppableCase& c = GetParam();
    if (c.used) fill(c.used);
    std::vector<uint8_t> block(c.length, 1);
    EXPECT_EQ(output.writeDroppable(block.data(), c.length), c.expected);
    EXPECT_EQ(fifo->used(), c.used + (c.expected == Result::Written ? c.length : 0));
}

// 30 % of 1024 bytes is 307.2 bytes.
INSTANTIATE_TEST_SUITE_P(Cases, DroppableRule,
                         ::testing::Values(DroppableCase{0, 716, Result::Written},    // 308 stay free
                                           DroppableCase{0, 717, Result::Dropped},    // 307 would stay free
                                           DroppableCase{500, 200, Result::Written},  // 324 stay free
                                           DroppableCase{600, 200, Result::Dropped},  // fits, 224 would stay free
                                           DroppableCase{1024, 1, Result::Dropped}));

TEST_F(OutputFixture, DropWarningsComeEveryThousandDropsAndRestartAfterAWrite) {
    test::LogCapture log;
    fill(800);
    uint8_t byte = 0;
    for (int i = 0; i < 2001; ++i) output.writeDroppable(&byte, 1);
    EXPECT_EQ(output.dropCount(), 2001u);
    int warnings = 0;
    for (const auto& r : log.records())
        if (r.message.find("Session overflow (") == 0) {
            ++warnings;
            EXPECT_NE(r.message.find("Demodulator data or RTK CPU data will be dropped."), std::string::npos);
        }
    EXPECT_EQ(warnings, 3);  // drops 1, 1001, 2001

    drain();
    EXPECT_EQ(output.writeDroppable(&byte, 1), Result::Written);
    EXPECT_EQ(output.dropCount(), 0u);
}

TEST_F(OutputFixture, ImportantDataWaitsForRoomAndLogsBothEnds) {
    test::LogCapture log;
    fill(1000);
    std::vector<uint8_t> block(100, 7);
    // Makes room once the writer has found the FIFO full and begun to wait.
    std::thread reader([&] {
        EXPECT_TRUE(log.waitFor("Session write FIFO is full (free size: 24, block length: 100), attempt to write "
                                "important data for the next 00:00:10."));
        drain();
    });
    EXPECT_EQ(output.writeImportantWaiting(block.data(), 100, [] { return true; }, nullptr), Result::Written);
    reader.join();
    EXPECT_TRUE(log.contains("Session write FIFO is full (free size: 24, block length: 100), attempt to write "
                             "important data for the next 00:00:10."));
    EXPECT_TRUE(log.contains("Session write FIFO freed up (free size: 1024, block length: 100). Continue normal "
                             "operation."));
    EXPECT_EQ(fifo->used(), 100u);
}

TEST_F(OutputFixture, ImportantDataGivesUpAfterTheLimit) {
    test::LogCapture log;
    output.setWaitLimit(std::chrono::milliseconds(40));
    fill(1000);
    std::vector<uint8_t> block(100, 7);
    EXPECT_EQ(output.writeImportantWaiting(block.data(), 100, [] { return true; }, nullptr), Result::Discarded);
    EXPECT_TRUE(log.contains("Session write FIFO is still full (free size: 24, block length: 100), after 00:00:00. "
                             "Session 42 considered invalid and will be forcibly terminated."));
    EXPECT_FALSE(output.pump());
}

TEST_F(OutputFixture, TheSessionThreadSendsWhileItWaitsForItself) {
    fill(1000);
    std::vector<uint8_t> block(600, 7);
    uint32_t sent = 0;
    EXPECT_EQ(output.writeImportantWaiting(
                  block.data(), 600, [] { return true; }, [&] { sent += drain(64); }),
              Result::Written);
    EXPECT_GE(sent, 576u);
}

TEST_F(OutputFixture, AStoppedSessionStopsWaiting) {
    fill(1000);
    std::vector<uint8_t> block(100, 7);
    EXPECT_EQ(output.writeImportantWaiting(block.data(), 100, [] { return false; }, nullptr), Result::Discarded);
    EXPECT_TRUE(output.pump());
}

TEST_F(OutputFixture, OtherThreadsNeverWaitAndKeepTheOrder) {
    test::LogCapture log;
    fill(1000);
    const uint8_t first[30] = {1};
    const uint8_t second[10] = {2};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(output.writeImportantDeferred(first, sizeof first), Result::Deferred);
    // Fits, but must not overtake the parked block.
    EXPECT_EQ(output.writeImportantDeferred(second, sizeof second), Result::Deferred);
    uint8_t droppable = 9;
    EXPECT_EQ(output.writeDroppable(&droppable, 1), Result::Dropped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_TRUE(output.hasBacklog());

    EXPECT_TRUE(output.pump());  // still no room
    drain();
    EXPECT_TRUE(output.pump());
    EXPECT_FALSE(output.hasBacklog());
    EXPECT_TRUE(log.contains("Session write FIFO freed up (free size: 984, block length: 10). Continue normal "
                             "operation."));
    FifoReader reader(*fifo, 0);
    ASSERT_EQ(reader.length(), 40u);
    EXPECT_EQ(reader.data()[0], 1);
    EXPECT_EQ(reader.data()[30], 2);
}

TEST_F(OutputFixture, ParkedDataThatWaitsTooLongInvalidatesTheSession) {
    output.setWaitLimit(std::chrono::milliseconds(20));
    fill(1000);
    const uint8_t block[30] = {};
    EXPECT_EQ(output.writeImportantDeferred(block, sizeof block), Result::Deferred);
    // Time beyond the limit is what the test gives the session; a slower
    // machine only gives it more.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(output.pump());
    EXPECT_EQ(output.writeImportantDeferred(block, sizeof block), Result::Discarded);
}

TEST_F(OutputFixture, ParkedDataThatKeepsMovingOutlastsTheLimit) {
    output.setWaitLimit(std::chrono::milliseconds(150));
    fill(1000);
    std::vector<uint8_t> block(200, 3);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(output.writeImportantDeferred(block.data(), 200), Result::Deferred);
    // One block moves every 60 ms: 300 ms in all, never 150 ms without
    // progress. The pauses are the pace the test sets, not waits.
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        for (uint32_t freed = 0; freed < 200;) freed += drain(200 - freed);
        ASSERT_TRUE(output.pump()) << i;
    }
    EXPECT_FALSE(output.hasBacklog());
}

TEST_F(OutputFixture, ParkedDataIsBoundedByTheFifoSize) {
    fill(1000);
    std::vector<uint8_t> block(600, 1);
    EXPECT_EQ(output.writeImportantDeferred(block.data(), 600), Result::Deferred);
    EXPECT_EQ(output.writeImportantDeferred(block.data(), 600), Result::Discarded);
    EXPECT_FALSE(output.pump());
}

}  // namespace
}  // namespace tarnix
