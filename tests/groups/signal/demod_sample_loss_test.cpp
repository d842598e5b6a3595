// Samples the instrument lost, found in the gaps of the sample times, and
// the warning line that reports them at most once a second per device.
#include "groups/DemodSampleLoss.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace tarnix {
namespace {

using namespace std::chrono_literals;

constexpr uint64_t kStep = 114 * 4;

struct LossCase {
    const char* what;
    std::vector<uint64_t> times;  // of one demodulator, in steps of kStep unless stated
    uint64_t lost;
};

// Names the case in test listings (its own words, not its bytes).
void PrintTo(const LossCase& c, std::ostream* out) { *out << c.what; }

class DemodSampleLossCases : public ::testing::TestWithParam<LossCase> {};

TEST_P(DemodSampleLossCases, CountsOnlyWholeStepsMissingInASteadyStream) {
    DemodSampleLoss loss;
    for (uint64_t t : GetParam().times) loss.note(3, t);
    EXPECT_EQ(loss.unconfirmed(), GetParam().lost) << GetParam().what;
    EXPECT_EQ(loss.pending(), 0u) << "counted as lost before the instrument said so";
}

constexpr uint64_t S = kStep;
constexpr uint64_t kWrap = uint64_t(1) << 48;

INSTANTIATE_TEST_SUITE_P(
    Gaps, DemodSampleLossCases,
    ::testing::Values(
        LossCase{"one step each", {S, 2 * S, 3 * S, 4 * S, 5 * S}, 0},
        LossCase{"five missing", {S, 2 * S, 3 * S, 9 * S, 10 * S, 11 * S}, 5},
        LossCase{"two gaps", {S, 2 * S, 3 * S, 5 * S, 6 * S, 106 * S, 107 * S}, 1 + 99},
        // The spacing after a gap is the new one: the rate went down, nothing lost.
        LossCase{"slower rate", {S, 2 * S, 3 * S, 5 * S, 7 * S, 9 * S, 11 * S}, 0},
        LossCase{"slower rate, then a gap", {S, 2 * S, 3 * S, 7 * S, 11 * S, 15 * S, 23 * S, 27 * S}, 1},
        LossCase{"faster rate", {4 * S, 8 * S, 12 * S, 13 * S, 14 * S, 15 * S, 17 * S, 18 * S}, 1},
        // Not steady yet: the first spacings say nothing about the step.
        LossCase{"gap before a step is known", {S, 5 * S, 6 * S, 7 * S}, 0},
        // Triggered samples: no steady step, no loss.
        LossCase{"irregular times", {100, 350, 1000, 1250, 2000, 4250, 4500}, 0},
        LossCase{"across the 48-bit wrap", {kWrap - 2 * S, kWrap - S, 0, 3 * S, 4 * S}, 2},
        LossCase{"a sample seen twice", {S, 2 * S, 2 * S, 3 * S, 4 * S}, 0}));

TEST(DemodSampleLossTest, OneLineASecondPerDeviceWithTheCountsSinceTheLastLine) {
    DemodSampleLoss loss;
    const DemodSampleLoss::Clock::time_point start{};
    uint64_t t0 = S, t2 = S;
    // Demodulator 0 loses `n0` and demodulator 2 loses `n2` samples, each in one gap.
    const auto lose = [&](uint64_t n0, uint64_t n2) {
        for (uint64_t n : {uint64_t(0), n0, uint64_t(0), uint64_t(0)}) loss.note(0, t0 += (n + 1) * S);
        for (uint64_t n : {uint64_t(0), n2, uint64_t(0), uint64_t(0)}) loss.note(2, t2 += (n + 1) * S);
        loss.status(n0 + n2 != 0);
    };
    struct Step {
        std::chrono::milliseconds at;
        uint64_t lost0, lost2;
        const char* line;  // expected, "" for none
    };
    const Step steps[] = {
        {0ms, 0, 0, ""},
        {10ms, 7, 0, "DEV1234: the instrument's sample FIFO overflowed (the host did not read fast enough); "
                     "samples lost since the last report: 7 of DEMODS/0."},
        {500ms, 10, 20, ""},
        {900ms, 1, 0, ""},
        {1010ms, 0, 2, "DEV1234: the instrument's sample FIFO overflowed (the host did not read fast enough); "
                       "samples lost since the last report: 11 of DEMODS/0, 22 of DEMODS/2."},
        {1500ms, 0, 0, ""},
        {5000ms, 0, 3, "DEV1234: the instrument's sample FIFO overflowed (the host did not read fast enough); "
                       "samples lost since the last report: 3 of DEMODS/2."},
    };
    for (const Step& step : steps) {
        lose(step.lost0, step.lost2);
        EXPECT_EQ(loss.report(1234, start + step.at), step.line) << "at " << step.at.count() << " ms";
    }
    EXPECT_EQ(loss.pending(), 0u);
}


// What the samples show and what the instrument's status blocks say, in the
// order they arrive: 'g' a gap of 5 samples of demodulator 3, 'L' a status
// block with the demod-data-lost bit, '.' one without.
struct ReportCase {
    const char* events;
    uint64_t lost;     // counted as lost
    bool uncounted;    // a loss the instrument reported that no gap explains
};

void PrintTo(const ReportCase& c, std::ostream* out) { *out << c.events; }

class DemodSampleLossReports : public ::testing::TestWithParam<ReportCase> {};

TEST_P(DemodSampleLossReports, AGapIsLostOnlyWhenTheInstrumentSaysSo) {
    DemodSampleLoss loss;
    uint64_t t = 0;
    for (int i = 0; i < 3; ++i) loss.note(3, t += S);
    for (const char* e = GetParam().events; *e; ++e) {
        if (*e == 'g') {
            loss.note(3, t += 6 * S);
            loss.note(3, t += S);
        } else {
            loss.status(*e == 'L');
        }
    }
    EXPECT_EQ(loss.pending(), GetParam().lost);
    const std::string line = loss.report(7, DemodSampleLoss::Clock::time_point{});
    if (GetParam().lost == 0 && !GetParam().uncounted) {
        EXPECT_EQ(line, "");
    } else if (GetParam().lost == 0) {
        EXPECT_EQ(line, "DEV7: the instrument's sample FIFO overflowed (the host did not read fast enough); "
                        "samples lost since the last report: a number the host could not count.");
    } else {
        EXPECT_EQ(line, "DEV7: the instrument's sample FIFO overflowed (the host did not read fast enough); "
                        "samples lost since the last report: " +
                            std::to_string(GetParam().lost) + " of DEMODS/3.");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Status, DemodSampleLossReports,
    ::testing::Values(
        // Switched off and on again: the instrument lost nothing.
        ReportCase{"..g....", 0, false}, ReportCase{"g..L..", 0, true},
        // The bit after the gap, also one block late.
        ReportCase{".g.L.", 5, false}, ReportCase{"gL..", 5, false},
        // The bit before the gap: a gap while the last block had it.
        ReportCase{".Lg..", 5, false}, ReportCase{"LLgL.g..", 5, false},
        // The bit without a gap the host could count: the instrument's word holds.
        ReportCase{"L..", 0, true}, ReportCase{"L.", 0, false}, ReportCase{"....", 0, false}));

}  // namespace
}  // namespace tarnix
