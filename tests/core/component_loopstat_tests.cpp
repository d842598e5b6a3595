#include "core/component/LoopStatistic.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnix {
namespace {

// The first update spans from stamp 0 to start (more than 20 s), which closes
// the first period, so that the next updates form a clean one.
void startFreshPeriod(LoopStatistic& statistic, uint64_t start) {
    ASSERT_GT(start, uint64_t(LoopStatistic::kDefaultIntervalMicros));
    statistic.update(start);
    ASSERT_EQ(0u, statistic.loopsInPeriod());
}

void feed(LoopStatistic& statistic, uint64_t& now, const std::vector<uint32_t>& loopMicros) {
    for (uint32_t d : loopMicros) {
        now += d;
        statistic.update(now);
    }
}

TEST(LoopStatisticTest, ReportFormat) {
    uint64_t now = 30000000;
    LoopStatistic statistic("Dispatcher");
    startFreshPeriod(statistic, now);
    feed(statistic, now, {1000, 2000, 1500});
    EXPECT_EQ(
        "Loop statistic of   Dispatcher (): loops =      3/       1, min =    1.00ms, avg =    1.50ms, "
        "max =    2.00ms (30001000).",
        statistic.reportText());
}

TEST(LoopStatisticTest, MarksOfUnevenOrSparsePeriods) {
    const struct {
        const char* what;
        std::vector<uint32_t> loops;
        const char* mark;
    } cases[] = {
        {"even loops", {1000, 1000, 1000}, ""},
        {"one loop only", {5000}, " ***"},
        {"longest above 10 x average", std::vector<uint32_t>(100, 1000), " !!"},
        {"longest above 100 x average", std::vector<uint32_t>(1000, 100), " !!!!"},
    };
    for (auto c : cases) {
        if (c.mark == std::string(" !!")) c.loops.push_back(50000);
        if (c.mark == std::string(" !!!!")) c.loops.push_back(2000000);
        uint64_t now = 30000000;
        LoopStatistic statistic("T");
        startFreshPeriod(statistic, now);
        feed(statistic, now, c.loops);
        const std::string text = statistic.reportText();
        const std::size_t closing = text.rfind(").");
        ASSERT_NE(std::string::npos, closing) << c.what;
        EXPECT_EQ(c.mark, text.substr(closing + 2)) << c.what << ": " << text;
    }
}

TEST(LoopStatisticTest, ReportsAndRestartsWhenThePeriodExceeds20Seconds) {
    uint64_t now = 30000000;
    LoopStatistic statistic("Server");
    startFreshPeriod(statistic, now);
    test::LogCapture capture;
    feed(statistic, now, std::vector<uint32_t>(20, 1000000));
    EXPECT_TRUE(capture.records().empty());  // exactly 20 s: not yet exceeded
    feed(statistic, now, {1000000});
    ASSERT_EQ(1u, capture.records().size());
    EXPECT_EQ(logging::status, capture.records()[0].severity);
    EXPECT_EQ(0u, capture.records()[0].message.find("Loop statistic of       Server (): loops =     21/      22, "
                                                    "min = 1000.00ms, avg = 1000.00ms, max = 1000.00ms"))
        << capture.records()[0].message;
    EXPECT_EQ(0u, statistic.loopsInPeriod());
    EXPECT_EQ(0u, statistic.sumMicros());
    EXPECT_EQ(0xFFFFFFFFu, statistic.shortestMicros());
    EXPECT_EQ(22u, statistic.totalLoops());
}

TEST(LoopStatisticTest, PassOverMidnightCountsOnlyTheElapsedTime) {
    const uint64_t beforeMidnight = LoopStatistic::kMicrosPerDay - 1000;
    LoopStatistic statistic("Device");
    startFreshPeriod(statistic, beforeMidnight);
    statistic.update(500);
    EXPECT_EQ(1500u, statistic.longestMicros());
    statistic.update(1500);  // the stamp continues from the new day
    EXPECT_EQ(2500u, statistic.sumMicros());
}

}  // namespace
}  // namespace tarnix
