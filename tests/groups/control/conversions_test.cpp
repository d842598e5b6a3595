// Register formats of the control loops and the frequency and time-constant
// registers they share with the oscillators and demodulators.
#include "groups/PLLsHandlers.h"
#include "groups/PLLsLoopGain.h"
#include "groups/common/PhaseIncrement.h"
#include "groups/common/TimeConstant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarnix {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kGain230 = 0.9994568169473111;  // PGAIN mantissa 230

// An 18-bit mantissa word with an optional flag.
uint32_t mword(int32_t m, uint32_t flag = 0) { return (uint32_t(m) & 0x3FFFF) | flag; }

TEST(PhaseIncrement, Conversions) {
    EXPECT_EQ(ToPhaseIncrement(0.0, PhaseRounding::Nearest), 0u);
    EXPECT_EQ(ToPhaseIncrement(100.0, PhaseRounding::Nearest), 134035703u);
    EXPECT_EQ(FromPhaseIncrement(ToPhaseIncrement(1e8, PhaseRounding::Truncate)), 99999999.99999964);
    EXPECT_DOUBLE_EQ(FromPhaseIncrement(1), 7.460698725481052e-07);
    // All 64 bits count, also those the instrument ignores.
    EXPECT_EQ(FromPhaseIncrement(uint64_t(1) << 63), 9223372036854775808.0 * 210000000.0 * 3.552713678800501e-15);
    // Out of the register's range: no undefined conversion.
    EXPECT_EQ(ToPhaseIncrement(-5.0, PhaseRounding::Nearest), 0u);
    EXPECT_EQ(ToPhaseIncrement(kNaN, PhaseRounding::Nearest), 0u);
    EXPECT_EQ(ToPhaseIncrement(1e300, PhaseRounding::Nearest), UINT64_MAX);
}

TEST(TimeConstantRegister, WordsAndReadBack) {
    struct Case {
        double seconds;
        uint32_t word;
        double readBack;
    };
    const Case cases[] = {
        {1.0, 0x247, 0.999808337049718},
        {0.5, 0x48e, 0.4999040328105364},
        {10.0, 0x3a, 10.049800051724135},
        {0.1, 0x20002, 0.07115309999965486},  // nearer than 0x1001 at 0.14227 s
        {0.14227173705132848, 0x1001, 0.14227173705132848},
        {0.14, 0x1001, 0.14227173705132848},   // coarse mantissa 1 becomes the fine word
        {0.010164, 0x2000E, 0.0},
        {0.0001, 0x2058B, 0.0},
        {0.15, 0xF2E, 0.0},
        {0.0, 0x3ffff, 7.831859283193598e-07},
        {-3.0, 0x3ffff, 7.831859283193598e-07},
        {1e-7, 0x3ffff, 7.831859283193598e-07},
        {1000.0, 1, 582.8884184714285},
        {kInf, 1, 582.8884184714285},
        {kNaN, 1, 582.8884184714285},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(ToTC(c.seconds), c.word);
        if (c.readBack != 0.0) {
            EXPECT_EQ(FromTC(c.word), c.readBack);
        }
    }
    // A zero coefficient reads as the longest time constant, never as -inf.
    EXPECT_EQ(FromTC(0), 582.8884184714285);
    EXPECT_EQ(FromTC(0x20000), 582.8884184714285);
}

TEST(LoopGain, ProportionalWords) {
    struct Case {
        double gain;
        uint32_t word;
        double readBack;
    };
    const double largest = 131071.0 * 256 * 8 * 0.0005431830526887561;
    const double smallest = -131072.0 * 256 * 8 * 0.0005431830526887561;
    const Case cases[] = {
        {0.0, 0, 0.0},
        {0.002, 0, 0.0},
        {0.0022, mword(1), 0.0043454644215100485},
        {1.0, mword(230), 0.9994568169473111},
        {-1.0, mword(-230), -0.9994568169473111},
        {-0.002, 0, 0.0},
        {4.0, mword(921), 4.002172732210755},  // u = 920.5: halves away from zero
        {100.0, mword(23013), 100.00217273221075},
        {569.5643671917436, mword(512, 0x40000), 569.5687126561651},  // u exactly 131071: coarse
        {569.6, mword(512, 0x40000), 569.5687126561651},
        {-569.6, mword(-512, 0x40000), -569.5687126561651},
        {1000.0, mword(899, 0x40000), 1000.0825638240086},
        {1e9, mword(131071, 0x40000), largest},
        {kInf, mword(131071, 0x40000), largest},
        {-1e9, mword(-131072, 0x40000), smallest},
        {-kInf, mword(-131072, 0x40000), smallest},
        {kNaN, 0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gain);
        EXPECT_EQ(ToPGain(c.gain), c.word);
        EXPECT_EQ(FromPGain(c.word), c.readBack);
    }
}

TEST(LoopGain, IntegralWords) {
    struct Case {
        double value;
        uint32_t word;
        double readBack;
    };
    const Case cases[] = {
        {0.001, mword(512), 0.0009994568169473111},
        {1e-6, mword(7996, 0x80000), 9.999567953449836e-07},
        {0.1, mword(5), 0.10234437805540467},
        {0.25586094513851165, mword(2), 0.25586094513851165},  // tmp exactly 2: not fine
        {1.0, mword(33536, 0x40000), 1.0000061367245647},
        {-0.001, mword(-512), -0.0009994568169473111},
        {0.0, mword(131071, 0x80000), 6.100246839940558e-08},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(ToITC(c.value, kGain230), c.word);
        EXPECT_EQ(FromITC(c.word, kGain230), c.readBack);
    }
    EXPECT_EQ(ToITC(0.0, -kGain230), mword(-131072, 0x80000));
    EXPECT_EQ(ToITC(0.0, 0.0), 0u);  // NaN
    EXPECT_EQ(FromITC(mword(0), kGain230), 0.0);
    EXPECT_EQ(FromITC(mword(0, 0x40000), kGain230), 0.0);
    EXPECT_EQ(FromITC(mword(512), 0.0), 0.0);
}

TEST(LoopGain, DerivativeWords) {
    struct Case {
        double value;
        uint32_t word;
        double readBack;
    };
    const Case cases[] = {
        {1e-6, mword(3398), 9.999549232736575e-07},
        {1e-8, mword(8699, 0x40000), 9.999687175311702e-09},
        {7.533503836317137e-08, mword(256), 7.533503836317137e-08},  // x exactly 256: not fine
        {1e-4, mword(131071), 3.857124536445013e-05},
        {-1e-6, mword(-3398), -9.999549232736575e-07},
        {0.0, mword(0, 0x40000), 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(ToDTC(c.value, kGain230), c.word);
        EXPECT_EQ(FromDTC(c.word, kGain230), c.readBack);
    }
    EXPECT_EQ(ToDTC(kNaN, kGain230), 0u);
    EXPECT_EQ(ToDTC(-kInf, kGain230), mword(-131072));
    // With no gain the quotient is infinite or NaN.
    EXPECT_TRUE(std::isnan(FromDTC(mword(0), 0.0)));
    EXPECT_TRUE(std::isnan(FromDTC(mword(0, 0x40000), 0.0)));
    EXPECT_EQ(FromDTC(mword(3398), 0.0), kInf);
    EXPECT_EQ(FromDTC(mword(-3398), 0.0), -kInf);
}

TEST(PllRegisters, Conversions) {
    EXPECT_EQ(PllErrorOf(0x20000), -360.0);
    EXPECT_EQ(PllErrorOf(0x1ffff), 359.99725341796875);
    EXPECT_EQ(PllErrorOf(0xFFFC0001), 0.00274658203125);  // bits above 17 do not count

    EXPECT_EQ(PllFreqRangeOf(PllFreqRangeWord(1e8)), 99999999.99999964);
    EXPECT_EQ(PllFreqRangeWord(-5.0), 0u);
    EXPECT_EQ(PllFreqRangeWord(kNaN), 0u);
    EXPECT_EQ(PllFreqRangeWord(3e8), PllFreqRangeWord(1e8));

    EXPECT_EQ(PllFreqDeltaOf(0x800000000000ull), -140737488355328.0 * 210000000.0 * 3.552713678800501e-15);
    EXPECT_EQ(PllFreqDeltaOf(0xFFFF000000000001ull), PllFreqDeltaOf(1));  // bits above 47 follow bit 47

    struct Threshold {
        int64_t written;
        uint32_t word;
        int64_t shown;
    };
    for (const Threshold& t : {Threshold{5000, 0xfff, 4095}, Threshold{-5000, 0x1000, -4096}, Threshold{-1, 0x1fff, -1},
                               Threshold{100, 100, 100}}) {
        EXPECT_EQ(PllThresholdWord(t.written), t.word);
        EXPECT_EQ(PllThresholdOf(t.word), t.shown);
    }

    struct AuxAvg {
        int64_t written;
        uint32_t exponent;
    };
    for (const AuxAvg& a : {AuxAvg{1, 0}, AuxAvg{2, 1}, AuxAvg{3, 1}, AuxAvg{4, 2}, AuxAvg{8, 3}, AuxAvg{16, 4},
                            AuxAvg{32, 5}, AuxAvg{64, 6}, AuxAvg{100, 6}, AuxAvg{128, 7}, AuxAvg{1 << 20, 7},
                            AuxAvg{0, 0}, AuxAvg{-9, 0}, AuxAvg{INT64_MAX, 7}}) {
        SCOPED_TRACE(a.written);
        EXPECT_EQ(PllAuxAvgWord(a.written), a.exponent);
    }
    EXPECT_EQ(PllAuxAvgOf(6), 64);
    EXPECT_EQ(PllAuxAvgOf(9), 128);
    EXPECT_EQ(PllAuxAvgOf(0xFFFFFFFF), 128);

    EXPECT_EQ(PllSetpointWord(200.0), 65535u);
    EXPECT_EQ(PllSetpointOf(65535), 180.0);
    EXPECT_EQ(int32_t(PllSetpointWord(-90.0)), -32767);
    EXPECT_EQ(int32_t(PllSetpointWord(-1e300)), -65535);
    EXPECT_EQ(PllSetpointWord(kNaN), 0u);
}

}  // namespace
}  // namespace tarnix
