#include "DemodFixture.h"

#include "groups/DemodsRate.h"

#include <cmath>

namespace tarnix {
namespace {

using test::kSettingsBlock;
using test::OutputRecord;

class DemodsRateTest : public test::DemodFixture {
protected:
    void SetUp() override {
        DemodFixture::SetUp();
        buildDemods();
    }
    // The RATE word sent for demodulator 0 in the next send pass.
    std::vector<uint32_t> sentRateWords() {
        std::vector<uint32_t> words;
        for (const test::DeviceEvent& e : send()) {
            EXPECT_EQ(e.address, settingsAddress(0, 0x0C));
            words.push_back(e.word());
        }
        return words;
    }
};

struct ConversionCase {
    double written;
    uint32_t stored;
    double replied;
};

TEST_F(DemodsRateTest, TimeConstantWritesStoreTheNearestWord) {
    const int32_t tc = leaf(0, "TIMECONSTANT");
    EXPECT_EQ(storedU32(tc), 0x247u);  // the placeholder for 1.0 s
    const ConversionCase cases[] = {{1.0, 0x247, 0.999808337}, {0.010164, 0x2000E, 0.010164496},
                                    {0.0001, 0x2058B, 0.000100015}, {0.14, 0x1001, 0.142271737},
                                    {0.15, 0xF2E, 0.149996748},     {1e-9, 0x3FFFF, 7.8318593e-07},
                                    {1e6, 0x1, 582.888418}};
    for (const ConversionCase& c : cases) {
        const std::vector<OutputRecord> out = writeDouble(tc, c.written);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(storedU32(tc), c.stored) << c.written;
        EXPECT_NEAR(out[0].asDouble(), c.replied, c.replied * 1e-6) << c.written;
    }
    // The instrument's word is pushed as seconds, once.
    EXPECT_EQ(deliver(settingsAddress(0, 8), word(0x247)).size(), 1u);
    EXPECT_TRUE(deliver(settingsAddress(0, 8), word(0x247)).empty());
}

TEST_F(DemodsRateTest, RateWritesPickTheNearestPowerOfTwoDivider) {
    const int32_t rate = leaf(0, "RATE");
    EXPECT_EQ(storedU32(rate), 0xFFFFFFu);
    const ConversionCase cases[] = {{1000, 2048, 899.4654605},       {100, 16384, 112.4331826},
                                    {7000, 256, 7195.723684},        {2000000, 1, 1842105.263},
                                    {0.1, 1u << 23, 0.2195960597},   {0, 0xFFFFFF, 0.0},
                                    {-1, 0xFFFFFF, 0.0},             {std::nan(""), 0xFFFFFF, 0.0},
                                    {HUGE_VAL, 1, 1842105.263},      {1e-300, 1u << 23, 0.2195960597}};
    for (const ConversionCase& c : cases) {
        const std::vector<OutputRecord> out = writeDouble(rate, c.written);
        if (std::isnan(c.written)) {  // refused: the divider before stays
            EXPECT_TRUE(out.empty());
            EXPECT_EQ(storedU32(rate), c.stored);
            continue;
        }
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(storedU32(rate), c.stored) << c.written;
        EXPECT_NEAR(out[0].asDouble(), c.replied, c.replied * 1e-9) << c.written;
    }
    EXPECT_EQ(DemodRateOfDivider(0), 16777214.0);
}

TEST_F(DemodsRateTest, TriggerBitsTravelInTheRateWord) {
    const int32_t rate = leaf(0, "RATE");
    const int32_t trigger = leaf(0, "TRIGGER");
    writeDouble(rate, 1000);
    EXPECT_EQ(sentRateWords(), std::vector<uint32_t>{0x00000800u});
    // An edge trigger stops the continuous output.
    const std::vector<OutputRecord> out = writeInteger(trigger, 3);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(trigger));
    EXPECT_EQ(out[0].asInteger(), 3);
    EXPECT_EQ(sentRateWords(), std::vector<uint32_t>{0x03FFFFFFu});
    writeInteger(trigger, 16);
    EXPECT_EQ(sentRateWords(), std::vector<uint32_t>{0x10000800u});
    EXPECT_EQ(writeInteger(trigger, 300)[0].asInteger(), 255);
    EXPECT_EQ(writeInteger(trigger, -4)[0].asInteger(), 0);
    EXPECT_EQ(read(trigger)[0].asInteger(), 0);
}

TEST_F(DemodsRateTest, InstrumentRateWordUpdatesTriggerAndRate) {
    const int32_t rate = leaf(0, "RATE");
    const int32_t trigger = leaf(0, "TRIGGER");
    writeDouble(rate, 1000);
    writeInteger(trigger, 3);
    // While an edge trigger is set the reported off divider is not taken over.
    EXPECT_TRUE(deliver(settingsAddress(0, 0x0C), word(0x03FFFFFF)).empty());
    EXPECT_EQ(storedU32(rate), 2048u);

    writeInteger(trigger, 0);
    const std::vector<OutputRecord> out = deliver(settingsAddress(0, 0x0C), word(0x03FFFFFF));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(trigger));
    EXPECT_EQ(out[0].asInteger(), 3);
    EXPECT_EQ(out[1].header.endpointId, uint32_t(rate));
    EXPECT_EQ(out[1].asDouble(), 0.0);
    EXPECT_EQ(storedU32(rate), 0xFFFFFFu);
}

}  // namespace
}  // namespace tarnix
