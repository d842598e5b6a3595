// The rate limit of log lines that outside input can repeat at will.
#include "core/LogRateLimit.h"

#include "core/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tarnix {
namespace {

using logging::RateLimit;
using namespace std::chrono_literals;

TEST(LogRateLimitTest, AFewLinesAWindowThenOneCountOfTheSuppressed) {
    RateLimit limit("src/link/Site.cpp", 42);
    const RateLimit::Clock::time_point start{};
    uint64_t suppressed = 99;
    struct Step {
        RateLimit::Clock::duration at;
        int lines;             // made at that time
        int written;           // of them admitted
        uint64_t reportedFirst;  // suppressed count reported with the first admitted one
    };
    const Step steps[] = {
        {0ms, 1000, 5, 0},     // a flood: the first five pass
        {999ms, 10, 0, 0},     // still the same window
        {1000ms, 3, 3, 1005},  // the next window starts with the count
        {1500ms, 2, 2, 0},     // five in this window now
        {1700ms, 1, 0, 0},
        {5000ms, 1, 1, 1},     // a quiet spell: the one left over is reported late
    };
    for (const Step& step : steps) {
        int written = 0;
        for (int i = 0; i < step.lines; ++i) {
            if (!limit.admit(start + step.at, suppressed)) continue;
            if (written++ == 0) EXPECT_EQ(suppressed, step.reportedFirst) << "at " << step.at.count();
            else EXPECT_EQ(suppressed, 0u);
        }
        EXPECT_EQ(written, step.written) << "at " << step.at.count();
    }
    EXPECT_EQ(limit.suppressionText(1005), "Suppressed 1005 log lines from Site.cpp:42 (more than 5 a second).");
}

TEST(LogRateLimitTest, EachSiteHasItsOwnLimitAndSuppressedLinesAreNotFormatted) {
    test::LogCapture capture;
    int formatted = 0;
    const auto text = [&formatted](const char* t) {
        ++formatted;
        return t;
    };
    for (int i = 0; i < 2000; ++i) {
        QVLOG_LIMITED(logging::error) << text("first site");
        QVLOG_LIMITED(logging::warning) << text("second site");
        QVLOG(logging::error) << "unlimited";
    }
    int first = 0, second = 0, unlimited = 0;
    for (const std::string& m : capture.messages()) {
        first += m == "first site";
        second += m == "second site";
        unlimited += m == "unlimited";
    }
    // A window could end during the loop on a slow machine; a few more pass then.
    EXPECT_GE(first, 5);
    EXPECT_LE(first, 50);
    EXPECT_EQ(second, first);
    EXPECT_EQ(unlimited, 2000);
    EXPECT_EQ(formatted, first + second);
}

TEST(LogRateLimitTest, RecordsBelowTheThresholdAreNeitherCountedNorWritten) {
    const int saved = logging::logLevel();
    logging::setLogLevel(logging::error);
    RateLimit limit("Site.cpp", 1);
    for (int i = 0; i < 100; ++i) QVLOG_LIMITED_BY(limit, logging::debug) << "quiet";
    uint64_t suppressed = 99;
    EXPECT_TRUE(limit.admit(RateLimit::Clock::now(), suppressed));
    EXPECT_EQ(suppressed, 0u);
    logging::setLogLevel(saved);
}

TEST(LogRateLimitTest, ThreadsShareOneSiteBudget) {
    RateLimit limit("Site.cpp", 7);
    const RateLimit::Clock::time_point now{};
    std::vector<std::thread> threads;
    std::atomic<int> written{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            uint64_t suppressed = 0;
            for (int i = 0; i < 1000; ++i) written += limit.admit(now, suppressed);
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(written.load(), int(RateLimit::kLinesPerWindow));
    uint64_t suppressed = 0;
    EXPECT_TRUE(limit.admit(now + RateLimit::kWindow, suppressed));
    EXPECT_EQ(suppressed, 8000u - RateLimit::kLinesPerWindow);
}

}  // namespace
}  // namespace tarnix
