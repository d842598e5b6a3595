#include "DemodFixture.h"

#include "groups/Mods.h"
#include "groups/data/GroupFamilyData.h"

#include <cmath>

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;
using test::OutputRecord;
using test::Packet;

constexpr uint32_t kModBlock = 0x01013000;
constexpr uint32_t kModStride = 0x20;

class ModsTest : public test::DemodFixture {
protected:
    void SetUp() override {
        DemodFixture::SetUp();
        Feature* record = addBlock(kModBlock, 2, kModStride);
        ASSERT_EQ(build<LQ3::Mods>(ModsFeatureInit, 1, {record}, &mods), QV_NO_ERROR);
        buildDemods();
        state().groups.auxOutDerived[0] = 1.0;
        for (int d = 0; d < 8; ++d) state().groups.demodInputIndex[std::size_t(d)] = 0;
    }
    int32_t modLeaf(std::size_t mod, const std::string& name) { return idOf(mods->childAt(mod), name); }
    std::vector<uint32_t> image(std::size_t mod) {
        const EPNodePtr fm = ep(modLeaf(mod, "FMCOEFF"));
        return {le::get32(fm->value.data()), le::get32(fm->value.data() + 4), le::get32(fm->value.data() + 8),
                le::get32(fm->value.data() + 12)};
    }
    void sendDemodSample(uint32_t demod, double x, double y = 0.0, uint64_t time = 1) {
        Packet p;
        p.time = time;
        p.x = int64_t(x / 2.245614035087719 * 9223372036854775808.0);
        p.y = int64_t(y / 2.245614035087719 * 9223372036854775808.0);
        p.frequency = uint64_t(1) << 40;
        p.phase = uint16_t(100 + demod);
        p.dio = demod;
        const std::vector<uint8_t> b = p.bytes();
        ASSERT_EQ(DeviceStateHandleData(dev, test::kSampleBlock + 2 * demod * test::kSampleStride, 40, b.data()),
                  QV_NO_ERROR);
    }

    TreeNode::Ptr mods;
};

TEST_F(ModsTest, InitMakesTheLeavesAndRequestsTheImage) {
    EXPECT_EQ(familyDataOf(state()).shared.modulatorCount, 2u);
    const char* names[] = {"MODE", "SIDEBAND", "FMCOEFF", "SAMPLE"};
    const int32_t types[] = {81, 82, 80, 83};
    const TreeNode::Ptr mod = mods->childAt(1);
    EXPECT_EQ(mod->nodeTypeId(), 79);
    ASSERT_EQ(mod->childCount(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(mod->childAt(i)->getName(), names[i]);
        EXPECT_EQ(mod->childAt(i)->nodeTypeId(), types[i]);
    }
    EXPECT_EQ(familyDataOf(state()).signalPath.modSampleEpId[1], modLeaf(1, "SAMPLE"));
    const std::vector<test::DeviceEvent> requests = requestsIn(kModBlock, 2 * kModStride);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].address, kModBlock + kModStride + 4);
    EXPECT_EQ(requests[1].length, 16u);
}

TEST_F(ModsTest, ModeAndSidebandSelectRowsOfTheModeTable) {
    const int32_t mode = modLeaf(0, "MODE");
    const int32_t sideband = modLeaf(0, "SIDEBAND");
    struct Step {
        int32_t leaf;
        int64_t written;
        int64_t replied;
        uint16_t flags;
        std::vector<uint32_t> image;
        int32_t row;
    };
    const Step steps[] = {
        {mode, 1, 1, VALUE_FLAG_CHANGED, {0, 1, 2, 8}, 1},
        {sideband, 2, 2, VALUE_FLAG_CHANGED, {0, 2, 0, 16}, 3},
        {mode, 2, 2, VALUE_FLAG_CHANGED, {0, 2, 0, 28}, 6},
        {mode, 3, 3, VALUE_FLAG_CHANGED, {0, 0, 0, 32}, 7},
        {sideband, 2, 0, VALUE_FLAG_REPLY_ONLY, {0, 0, 0, 32}, 7},
        {mode, 7, 3, VALUE_FLAG_REPLY_ONLY, {0, 0, 0, 32}, 7},
        {mode, -1, 0, VALUE_FLAG_CHANGED, {0, 0, 0, 4}, 0},
        {mode, 2, 2, VALUE_FLAG_CHANGED, {0, 1, 2, 20}, 4},
        {sideband, 5, 2, VALUE_FLAG_CHANGED, {0, 2, 0, 28}, 6},
    };
    for (const Step& s : steps) {
        const std::vector<OutputRecord> out = writeInteger(s.leaf, s.written);
        ASSERT_GE(out.size(), 1u);
        EXPECT_EQ(out[0].header.endpointId, uint32_t(s.leaf));
        EXPECT_EQ(out[0].asInteger(), s.replied) << s.written;
        EXPECT_EQ(out[0].header.flags, s.flags) << s.written;
        EXPECT_EQ(image(0), s.image) << s.written;
        EXPECT_EQ(familyDataOf(state()).signalPath.modMode[0], s.row);
    }
    EXPECT_EQ(send().size(), 1u);  // the one image, at offset 4
}

TEST_F(ModsTest, CoefficientCountsOnlyInFrequencyModulation) {
    const int32_t mode = modLeaf(0, "MODE");
    const int32_t sideband = modLeaf(0, "SIDEBAND");
    const int32_t fm = modLeaf(0, "FMCOEFF");
    writeInteger(mode, 1);
    std::vector<OutputRecord> out = writeDouble(fm, 1.0);
    EXPECT_EQ(out[0].asDouble(), 0.0);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_REPLY_ONLY);

    writeInteger(sideband, 1);
    out = writeInteger(mode, 3);  // from "AM upper": SIDEBAND shows 0 now
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].header.endpointId, uint32_t(sideband));
    EXPECT_EQ(out[1].asInteger(), 0);
    const struct {
        double written;
        uint32_t w0;
        double replied;
    } cases[] = {{1.0, 10430, 0.999956096985169}, {13.0, 131071, 12.566178867492146}, {-1, 0, 0.0}};
    for (const auto& c : cases) {
        out = writeDouble(fm, c.written);
        EXPECT_EQ(image(0)[0], c.w0);
        EXPECT_EQ(out[0].asDouble(), c.replied);
    }
    writeDouble(fm, 1.0);
    // Leaving FM clears the coefficient and announces it.
    out = writeInteger(mode, 1);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].asInteger(), 1);
    EXPECT_EQ(out[1].header.endpointId, uint32_t(fm));
    EXPECT_EQ(out[1].header.sessionTag, kUnsolicitedSessionTag);
    EXPECT_EQ(out[1].asDouble(), 0.0);
}

TEST_F(ModsTest, InstrumentImageIsDecodedAndAnnounced) {
    std::vector<uint8_t> bytes(16, 0);
    le::put32(bytes.data(), 10430);
    le::put32(bytes.data() + 12, 32);
    std::vector<OutputRecord> out = deliver(kModBlock + 4, bytes);
    ASSERT_EQ(out.size(), 2u);  // MODE 3, then the coefficient; SIDEBAND stays 0
    EXPECT_EQ(out[0].header.endpointId, uint32_t(modLeaf(0, "MODE")));
    EXPECT_EQ(out[0].asInteger(), 3);
    EXPECT_EQ(out[1].asDouble(), 0.999956096985169);
    EXPECT_EQ(familyDataOf(state()).signalPath.modMode[0], 7);
    // Words that match no mode read as "off".
    le::put32(bytes.data() + 4, 9);
    out = deliver(kModBlock + 4, bytes);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].asInteger(), 0);
    EXPECT_EQ(read(modLeaf(0, "SIDEBAND"))[0].asInteger(), 0);
    EXPECT_TRUE(deliver(kModBlock + 4, bytes).empty());
}

TEST_F(ModsTest, AmplitudeModulationCombinesCarrierAndSidebands) {
    const int32_t sample = modLeaf(0, "SAMPLE");
    writeInteger(modLeaf(0, "MODE"), 1);
    writeInteger(modLeaf(0, "SIDEBAND"), 1);  // AM upper
    sendDemodSample(0, 2.0);
    EXPECT_TRUE(streamed(sample).empty());
    sendDemodSample(1, 0.0, 0.5, 77);
    std::vector<DataDemodSample> s = streamed(sample);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_NEAR(s[0].x, 0.25, 1e-15);
    EXPECT_NEAR(s[0].y, 0.5, 1e-15);
    EXPECT_EQ(s[0].timeStamp, 77u);
    EXPECT_EQ(s[0].phase, 101 * 9.587526218325454e-05);
    EXPECT_EQ(s[0].dioBits, 1u);
    // The demodulators stream as usual, and a read shows the combined sample.
    EXPECT_EQ(streamed(leaf(0, "SAMPLE")).size(), 1u);
    EXPECT_NEAR(decodeDemodSample(read(sample)[0].bytes.data() + 12).x, 0.25, 1e-15);

    writeInteger(modLeaf(0, "SIDEBAND"), 0);  // AM both: needs only the first sideband to complete
    sendDemodSample(2, 0.5);
    sendDemodSample(0, 2.0);
    EXPECT_TRUE(streamed(sample).empty());
    sendDemodSample(1, 0.5);
    s = streamed(sample);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_NEAR(s[0].x, 0.5, 1e-15);
    EXPECT_NEAR(s[0].y, 1.0, 1e-15);
}

TEST_F(ModsTest, FrequencyDemodulationNeedsAllThreeAndInterpolatesTheIndex) {
    const int32_t sample = modLeaf(0, "SAMPLE");
    writeInteger(modLeaf(0, "MODE"), 2);
    writeInteger(modLeaf(0, "SIDEBAND"), 1);  // upper: As = 2 x A1
    const ModTables& t = ModulationTables();
    const double ratio = t.ratio[300];
    sendDemodSample(0, 1.0);
    sendDemodSample(1, ratio);
    EXPECT_TRUE(streamed(sample).empty());
    sendDemodSample(2, 0.0);
    const std::vector<DataDemodSample> s = streamed(sample);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_NEAR(s[0].x, t.index[300] * 820312.5, 1e-6);
    EXPECT_NEAR(s[0].y, 2 * ratio, 1e-12);

    EXPECT_EQ(ModIndexOfRatio(0.0), 0.0);
    EXPECT_NEAR(ModIndexOfRatio(t.ratio[512]), t.index[512], 1e-12);
    EXPECT_EQ(ModIndexOfRatio(1e9), 2.4);
    EXPECT_EQ(ModIndexOfRatio(std::nan("")), 0.0);
    EXPECT_NEAR(t.ratio[1023], 207.4, 0.1);
}

TEST_F(ModsTest, FullModulatorStreamDropsOnlyTheDerivedSample) {
    const EPNodePtr sample = ep(modLeaf(0, "SAMPLE"));
    writeInteger(modLeaf(0, "MODE"), 1);
    for (;;) {
        FifoWriter filler(*sample->stream, 16);
        if (!filler) break;
        filler.commitAll();
    }
    sendDemodSample(0, 2.0);
    // One message with both slots of demodulator 1 and the first of demodulator 2.
    std::vector<uint8_t> message(4 * test::kSampleStride + 40, 0);
    for (uint32_t slot = 0; slot < 3; ++slot) {
        std::vector<uint8_t> packet = Packet().bytes();
        le::put64(packet.data() + 8, uint64_t(1) << 60);
        std::copy(packet.begin(), packet.end(), message.begin() + slot * test::kSampleStride);
    }
    message.resize(2 * test::kSampleStride + 40);
    EXPECT_EQ(DeviceStateHandleData(dev, test::kSampleBlock + 2 * test::kSampleStride, uint32_t(message.size()),
                                    message.data()),
              QV_NO_ERROR);
    // The demodulators' own samples went out, all of them.
    EXPECT_EQ(streamed(leaf(1, "SAMPLE")).size(), 2u);
    EXPECT_EQ(streamed(leaf(2, "SAMPLE")).size(), 1u);
    for (;;) {
        FifoReader drain(*sample->stream, 0);
        if (!drain) break;
        drain.commitAll();
    }
    sendDemodSample(2, 0.5);  // any sample of the set completes it now
    EXPECT_EQ(streamed(modLeaf(0, "SAMPLE")).size(), 1u);
}

TEST_F(ModsTest, ReservedBytesOfDemodulatorAndModulatorSamplesAreZero) {
    const int32_t sample = modLeaf(0, "SAMPLE");
    writeInteger(modLeaf(0, "MODE"), 1);
    dirty(leaf(1, "SAMPLE"));
    dirty(sample);
    sendDemodSample(0, 2.0);
    sendDemodSample(1, 0.5);
    for (int32_t id : {leaf(1, "SAMPLE"), sample}) {
        const std::vector<std::vector<uint8_t>> blocks = streamedBytes(id);
        ASSERT_EQ(blocks.size(), 1u);
        ASSERT_EQ(blocks[0].size(), 64u);
        EXPECT_EQ(le::get32(blocks[0].data() + 44), 0u) << "streamed";
        EXPECT_EQ(le::get32(ep(id)->value.data() + 44), 0u) << "kept as the value";
        EXPECT_EQ(le::get32(blocks[0].data() + 40), 1u) << "the DIO bits before them";
    }
}

TEST_F(ModsTest, ModulatorOffStreamsNothing) {
    sendDemodSample(0, 1.0);
    sendDemodSample(1, 1.0);
    sendDemodSample(2, 1.0);
    EXPECT_TRUE(streamed(modLeaf(0, "SAMPLE")).empty());
    EXPECT_EQ(streamed(leaf(1, "SAMPLE")).size(), 1u);
}

}  // namespace
}  // namespace tarnix
