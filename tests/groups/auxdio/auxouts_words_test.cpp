#include "groups/AuxIns.h"
#include "groups/AuxOutsWords.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

namespace tarnix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(AuxOutWords, SignalCodeAndDemodIndexOfAWord) {
    struct Case {
        uint32_t word;
        uint32_t pids;
        uint32_t demods;
        int64_t code;
        uint32_t demod;
    };
    const Case cases[] = {
        {0x00000000, 0, 4, 0, 0},           {0x00000035, 0, 4, 5, 3},
        {0x00000090, 0, 4, 0, 3},           // index above the demodulators: the last one
        {0x000000F0, 0, 0, 0, 15},          // no demodulator: not limited
        {0x80000000, 0, 4, -1, 0},          {0x80000002, 4, 4, -3, 0},
        {0x80000002, 1, 4, -2, 0},          // beyond the PIDs: the last PID
        {0x8000000F, 0, 4, -1, 0},          {0x7FFFFF03, 0, 8, 3, 0},  // bits 8-30 ignored
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AuxOutSignalCode(c.word, c.pids), c.code) << std::hex << c.word;
        EXPECT_EQ(AuxOutDemodIndex(c.word, c.demods), c.demod) << std::hex << c.word;
    }
}

TEST(AuxOutWords, SelectWordLimitsTheSignalToWhatIsPresent) {
    struct Case {
        int64_t code;
        uint32_t demod;
        uint32_t pids;
        uint32_t plls;
        uint32_t word;
    };
    const Case cases[] = {
        {7, 0, 0, 2, 0x05},  // two PLLs: PLL 1
        {7, 0, 0, 0, 0x03},  // no PLL: Theta
        {-1, 2, 0, 0, 0x80000020},
        {-3, 0, 1, 0, 0x80000001},
        {-3, 0, 0, 0, 0x80000000},
        {std::numeric_limits<int64_t>::min(), 0, 4, 0, 0x80000004},
        {-(int64_t(1) << 32), 0, 4, 0, 0x80000004},  // no wrap of the low 32 bits
        {100, 0, 0, 40, 0x0F},                       // the field holds 4 bits
        {-30, 0, 40, 0, 0x8000000F},
        {1, 20, 0, 0, 0xF1},
    };
    for (const Case& c : cases) EXPECT_EQ(AuxOutSelectWord(c.code, c.demod, c.pids, c.plls), c.word) << c.code;
}

TEST(AuxOutWords, ScaleValueOfARegister) {
    struct Case {
        int32_t scale;
        int64_t code;
        double gain;
        double value;
    };
    const Case cases[] = {
        {128, -1, 0.0, 1.0},
        {128, 3, 0.0, 0.027777777777777776},
        {128, 0, 1.0, 4.453125000000001},
        {128, 1, 1.0, 4.453125000000001},
        {29, 0, 1.0, 1.0089111328125},
        {128, 0, 0.5, 2.2265625000000004},
        {128, 2, 1.0, 5.185376147952884},
        {1, 4, 0.0, 7.440022087565572e-10},
        {1, 15, 0.0, 7.440022087565572e-10},
        {128, 0, 0.0, 0.0},  // gain not known yet
        {128, -2, 1.0, 0.0},
        {128, -5, 1.0, 0.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AuxOutScaleValue(c.scale, c.code, c.gain), c.value) << c.scale << " " << c.code;
    EXPECT_TRUE(std::signbit(AuxOutScaleValue(-128, 2, 0.0)));
}

TEST(AuxOutWords, ScaleRegisterOfAValue) {
    struct Case {
        double value;
        int64_t code;
        double gain;
        std::optional<int32_t> scale;
    };
    const Case cases[] = {
        {1.0, -1, 0.0, 128},
        {1e9, -1, 0.0, 2147483647},
        {-1e9, -1, 0.0, -2147483648},
        {16777215.9921875, -1, 0.0, 2147483647},
        {1.0, 3, 0.0, 4608},
        {1.0, 0, 1.0, 29},
        {2.0, 0, 0.5, 115},
        {1.0, 2, 1.0, 25},
        {1e-6, 4, 0.0, 1344},
        {-1e-6, 5, 0.0, -1344},
        {1.0, 4, 0.0, 1344082031},
        {1e12, 4, 0.0, 2147483647},
        {-1e12, 4, 0.0, -2147483648},
        {5.0, -2, 1.0, 0},
        {5.0, 0, 0.0, std::nullopt},  // every register shows 0 while the gain is unknown
        {5.0, 2, 0.0, std::nullopt},
        {5.0, -1, 0.0, 640},  // Manual and Theta need no gain
        {5.0, 3, 0.0, 23040},
        {kNaN, -1, 0.0, 0},
        {kNaN, 4, 0.0, 0},
        {std::numeric_limits<double>::infinity(), -1, 0.0, 2147483647},
    };
    for (const Case& c : cases) EXPECT_EQ(AuxOutScaleRegister(c.value, c.code, c.gain), c.scale) << c.value;
}

TEST(AuxOutWords, LevelAndOffsetVolts) {
    EXPECT_EQ(AuxOutLevelVolts(0), -10.0);
    EXPECT_EQ(AuxOutLevelVolts(32768), 0.00015259021896696368);
    EXPECT_EQ(AuxOutLevelVolts(65535), 10.0);
    EXPECT_EQ(AuxOutLevelVolts(70000), 10.0);

    struct Write {
        double volts;
        uint32_t word;
        double shown;
    };
    const Write writes[] = {
        {1.0, 3277, 1.000091555528428},
        {-1.0, 0xFFFFF333, -1.00006103515625},
        {3000.0, 0x7FFF00, 2560.0},
        {-2560.0, uint32_t(-8388608), -2560.0},
        {0.0, 0, 0.0},
        {kNaN, 0, 0.0},
    };
    for (const Write& w : writes) {
        EXPECT_EQ(AuxOutOffsetWord(w.volts), w.word) << w.volts;
        EXPECT_EQ(AuxOutOffsetVolts(w.word), w.shown) << w.volts;
    }
    EXPECT_EQ(AuxOutOffsetWord(0.5), 1638u);
    EXPECT_DOUBLE_EQ(AuxOutOffsetVolts(1638), 10.0 * 1638 / 32767);
    EXPECT_EQ(AuxOutOffsetVolts(0xFFFFFFFF), -0.00030517578125);
    EXPECT_EQ(AuxOutOffsetVolts(0xFF7FFF00), 2560.0);  // bits 24-31 ignored
}

TEST(AuxInConversions, AveragingAndChannelVolts) {
    struct Case {
        int64_t written;
        uint32_t exponent;
    };
    const Case cases[] = {{0, 0},      {-5, 0},      {1, 0},        {3, 1},  {256, 8},
                          {1000, 9},   {40000, 15},  {65535, 15},   {int64_t(1) << 40, 15},
                          {std::numeric_limits<int64_t>::max(), 15}, {std::numeric_limits<int64_t>::min(), 0}};
    for (const Case& c : cases) EXPECT_EQ(AuxInAveragingExponent(c.written), c.exponent) << c.written;
    EXPECT_EQ(AuxInAveragingOf(0), 1);
    EXPECT_EQ(AuxInAveragingOf(15), 32768);
    EXPECT_EQ(AuxInAveragingOf(0xFFFFFFFF), 32768);

    EXPECT_EQ(AuxInChannelVolts(-32768), -10.000152590218967);
    EXPECT_EQ(AuxInChannelVolts(0), 0.0);
    EXPECT_EQ(AuxInChannelVolts(32767), 9.999847409781033);
}

}  // namespace
}  // namespace tarnix
