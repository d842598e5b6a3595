#include "DemodFixture.h"
#include "groups/data/GroupFamilyData.h"

#include <cmath>

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;
using test::kSettingsBlock;
using test::kSettingsStride;
using test::OutputRecord;

class DemodsSettingsTest : public test::DemodFixture {};

TEST_F(DemodsSettingsTest, WrongRecordsBuildNothing) {
    Feature* a = addBlock(kSettingsBlock, 6, kSettingsStride);
    Feature* b = addBlock(test::kSampleBlock, 11, test::kSampleStride);
    Feature* c = addBlock(test::kSampleBlock + 0x1000, 12, test::kSampleStride);
    for (const std::vector<Feature*>& items : {std::vector<Feature*>{a}, std::vector<Feature*>{a, b},
                                               std::vector<Feature*>{a, c, b}}) {
        TreeNode::Ptr node;
        EXPECT_EQ(build<LQ3::Demods>(DemodsFeatureInit, 2, items, &node), QV_BUFFER_TOO_SMALL);
        EXPECT_EQ(node->childCount(), 0u);
    }
}

TEST_F(DemodsSettingsTest, InitMakesTheLeavesAndRequestsEightWordsPerDemodulator) {
    buildDemods(2, 6);
    EXPECT_EQ(familyDataOf(state()).shared.demodulatorCount, 6u);
    EXPECT_EQ(familyDataOf(state()).signalPath.demodsVersion, 2);
    EXPECT_EQ(familyDataOf(state()).signalPath.demodBlockStride, kSettingsStride);
    EXPECT_EQ(familyDataOf(state()).signalPath.demodBlockAttribute, 0x5Au);
    int row = -1;
    EXPECT_EQ(FeatureMapRowOf(settings, state().features, &row), QV_NO_ERROR);
    EXPECT_EQ(familyDataOf(state()).signalPath.demodBlockRow, row);

    const char* names[] = {"ADCSELECT", "ORDER", "TIMECONSTANT", "RATE", "TRIGGER",
                           "OSCSELECT", "HARMONIC", "PHASESHIFT", "SINC", "SAMPLE"};
    const TreeNode::Ptr demod = demods->childAt(5);
    EXPECT_EQ(demod->nodeTypeId(), 64);
    ASSERT_EQ(demod->childCount(), 10u);
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(demod->childAt(i)->getName(), names[i]);
        EXPECT_EQ(demod->childAt(i)->nodeTypeId(), int32_t(65 + i));
        EXPECT_EQ(demod->childAt(i)->siblingOrder(), int64_t(i + 1));
    }
    // The read requests of demodulator 5; TRIGGER rides on RATE.
    const std::vector<test::DeviceEvent> requests = requestsIn(settingsAddress(5, 0), kSettingsStride);
    ASSERT_EQ(requests.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(requests[i].address, settingsAddress(5, uint32_t(4 * i)));
        EXPECT_EQ(requests[i].length, 4u);
    }
    // Placeholders: inputs and oscillators by index within the counts known.
    EXPECT_EQ(storedU32(leaf(5, "ADCSELECT")), 5u);
    EXPECT_EQ(storedU32(leaf(5, "OSCSELECT")), 1u);
    EXPECT_EQ(familyDataOf(state()).shared.demodOscSelect[5], 1);
    EXPECT_EQ(storedU32(leaf(5, "HARMONIC")), 0x80u);
    EXPECT_EQ(storedU32(leaf(5, "RATE")), 0xFFFFFFu);
}

TEST_F(DemodsSettingsTest, OrderHarmonicAndPhaseConversions) {
    buildDemods();
    struct Case {
        const char* leaf;
        std::size_t demod;
        int64_t written;
        uint32_t stored;
        int64_t replied;
    };
    const Case integers[] = {{"ORDER", 0, 0, 0, 1},          {"ORDER", 0, -3, 0, 1},
                             {"ORDER", 0, 9, 7, 8},          {"HARMONIC", 0, 1, 0x80, 1},
                             {"HARMONIC", 0, 0, 0x80, 1},    {"HARMONIC", 0, 1023, 0x1FF80, 1023},
                             {"HARMONIC", 0, 1024, 0x1FFFF, 1023}, {"HARMONIC", 0, 4294967295, 0x1FFFF, 1023},
                             {"HARMONIC", 6, 5, 0x100, 2},   {"HARMONIC", 7, -5, 0x80, 1}};
    for (const Case& c : integers) {
        const int32_t id = leaf(c.demod, c.leaf);
        const std::vector<OutputRecord> out = writeInteger(id, c.written);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(storedU32(id), c.stored) << c.leaf << " " << c.written;
        EXPECT_EQ(out[0].asInteger(), c.replied) << c.leaf << " " << c.written;
    }
    const int32_t order = leaf(0, "ORDER");
    EXPECT_EQ(deliver(settingsAddress(0, 4), word(3))[0].asInteger(), 4);
    EXPECT_EQ(read(order)[0].asInteger(), 4);
    const int32_t harmonic = leaf(1, "HARMONIC");
    for (const std::pair<uint32_t, int64_t>& w : {std::pair<uint32_t, int64_t>{0x81, 1}, {0x100, 2}, {0, 1}}) {
        deliver(settingsAddress(1, 0x14), word(w.first));
        EXPECT_EQ(read(harmonic)[0].asInteger(), w.second) << w.first;
    }

    struct PhaseCase {
        double written;
        uint32_t stored;
        double replied;
    };
    const int32_t phase = leaf(0, "PHASESHIFT");
    const PhaseCase phases[] = {{90, 4194303, 89.999984},       {-90, 12582911, -90.0000054},
                                {180, 8388607, 179.9999893},    {360, 0, 0.0},
                                {720.5, 23301, 0.4999852},      {-0.0001, 16777210, -0.0001073},
                                {std::nan(""), 16777210, 0.0}};
    for (const PhaseCase& c : phases) {
        const std::vector<OutputRecord> out = writeDouble(phase, c.written);
        if (std::isnan(c.written)) {  // refused: the phase before stays
            EXPECT_TRUE(out.empty());
            EXPECT_EQ(storedU32(phase), c.stored);
            continue;
        }
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(storedU32(phase), c.stored) << c.written;
        EXPECT_NEAR(out[0].asDouble(), c.replied, 1e-6) << c.written;
    }
    for (double huge : {1e300, -1e300, 1e20, -HUGE_VAL}) EXPECT_LT(DemodPhaseWord(huge), 16777215u) << huge;
    EXPECT_NEAR(DemodPhaseDegrees(0x800000), -179.9999893, 1e-6);
    EXPECT_EQ(DemodPhaseDegrees(0xFFFFFF), 0.0);
}

TEST_F(DemodsSettingsTest, InputSelectionIsLimitedToTheInputsThereAre) {
    buildDemods(2);
    const int32_t adc = leaf(1, "ADCSELECT");
    state().pidStrobePending = false;
    std::vector<OutputRecord> out = writeInteger(adc, 9);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].asInteger(), 5);
    EXPECT_EQ(storedU32(adc), 5u);
    EXPECT_EQ(state().groups.demodInputIndex[1], 5);
    EXPECT_TRUE(state().pidStrobePending);
    writeInteger(adc, -1);
    EXPECT_EQ(storedU32(adc), 0u);
    // A repeated value is sent again but needs no strobe.
    send();
    state().pidStrobePending = false;
    out = writeInteger(adc, 0);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_FALSE(state().pidStrobePending);
    EXPECT_EQ(send().size(), 1u);

    // The instrument's word: the update pushes it limited; a message from the
    // block's start also records the input.
    out = deliver(settingsAddress(1, 0), word(7));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].asInteger(), 5);
    EXPECT_EQ(state().groups.demodInputIndex[1], 5);
    EXPECT_TRUE(state().pidStrobePending);
    std::vector<uint8_t> tail(8, 0);
    le::put32(tail.data(), 1);  // ORDER and TIMECONSTANT, from inside the block
    deliver(settingsAddress(1, 4), tail);
    EXPECT_EQ(state().groups.demodInputIndex[1], 5);
}

TEST_F(DemodsSettingsTest, VersionOneFixesInputsAndOscillators) {
    buildDemods(1);
    for (const std::pair<std::size_t, int64_t>& c : {std::pair<std::size_t, int64_t>{4, 1}, {6, 0}, {7, 1}, {0, 0}}) {
        const std::vector<OutputRecord> out = writeInteger(leaf(c.first, "ADCSELECT"), 3);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].asInteger(), c.second) << c.first;
        EXPECT_EQ(read(leaf(c.first, "ADCSELECT"))[0].asInteger(), c.second);
    }
    EXPECT_EQ(writeInteger(leaf(6, "OSCSELECT"), 1)[0].asInteger(), 0);
    EXPECT_EQ(writeInteger(leaf(2, "OSCSELECT"), 9)[0].asInteger(), 1);
}

TEST_F(DemodsSettingsTest, OscillatorSelectionByVersion) {
    buildDemods(2);
    EXPECT_EQ(writeInteger(leaf(0, "OSCSELECT"), 5)[0].asInteger(), 1);
    EXPECT_EQ(familyDataOf(state()).shared.demodOscSelect[0], 1);
    const std::vector<OutputRecord> pushed = deliver(settingsAddress(3, 0x10), word(9));
    ASSERT_EQ(pushed.size(), 1u);
    EXPECT_EQ(pushed[0].asInteger(), 9);  // the instrument's word is not limited
    EXPECT_EQ(familyDataOf(state()).shared.demodOscSelect[3], 9);
}

TEST_F(DemodsSettingsTest, VersionThreeFixesTheOscillatorsOfDemodulatorsSixAndSeven) {
    buildDemods(3);
    EXPECT_EQ(writeInteger(leaf(7, "OSCSELECT"), 0)[0].asInteger(), 7);
    EXPECT_EQ(writeInteger(leaf(5, "OSCSELECT"), 0)[0].asInteger(), 0);
}

TEST_F(DemodsSettingsTest, SincFilterMovesItsOscillator) {
    buildDemods(2);
    writeDouble(freq(1), 1000000);
    writeInteger(leaf(2, "OSCSELECT"), 1);
    send();
    std::vector<OutputRecord> out = writeInteger(leaf(2, "SINC"), 5);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].asInteger(), 1);
    EXPECT_EQ(out[1].header.endpointId, uint32_t(freq(1)));
    EXPECT_EQ(out[1].asDouble(), 460526.31578948675);
    EXPECT_EQ(send().size(), 2u);  // SINC and the oscillator's FREQ
    out = writeInteger(leaf(2, "SINC"), 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_REPLY_ONLY);

    // Choosing another oscillator with the sinc filter on moves that one too.
    writeDouble(freq(0), 300000);
    out = writeInteger(leaf(2, "OSCSELECT"), 0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(freq(0)));
    EXPECT_EQ(out[0].asDouble(), 230263.15789437035);
    // The instrument switching the filter off and on again.
    EXPECT_EQ(deliver(settingsAddress(2, 0x1C), word(0)).size(), 1u);
    EXPECT_EQ(familyDataOf(state()).signalPath.demodSincEnable[2], 0);
    EXPECT_EQ(deliver(settingsAddress(2, 0x1C), word(2))[0].asInteger(), 1);
    EXPECT_EQ(familyDataOf(state()).signalPath.demodSincEnable[2], 1);
}

TEST_F(DemodsSettingsTest, FullOutputFifoKeepsTheStoredWordAndTheMark) {
    buildDemods(2);
    dev.fillOutput();
    EXPECT_EQ(post(test::setInteger(leaf(0, "ORDER"), 4)), QV_OVERFLOW);
    EXPECT_EQ(storedU32(leaf(0, "ORDER")), 3u);
    dev.takeOutput();
    EXPECT_EQ(send().size(), 1u);
    // The sinc step is skipped when the reply did not fit.
    dev.fillOutput();
    EXPECT_EQ(post(test::setInteger(leaf(0, "SINC"), 1)), QV_OVERFLOW);
    EXPECT_EQ(storedU64(freq(0)), 134035703u);
}

}  // namespace
}  // namespace tarnix
