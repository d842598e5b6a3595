#include "DemodFixture.h"

#include "groups/DemodSample.h"

#include <cmath>

namespace tarnix {
namespace {

using test::kSampleBlock;
using test::kSampleStride;
using test::OutputRecord;
using test::Packet;

class DemodSampleTest : public test::DemodFixture {
protected:
    void SetUp() override {
        DemodFixture::SetUp();
        buildDemods();
        state().groups.auxOutDerived[0] = 1.0;    // input 0: a range of 1 V
        state().groups.auxOutDerived[1] = 100.0;  // input 1: 0.01 V
        for (int d = 0; d < 8; ++d) state().groups.demodInputIndex[std::size_t(d)] = 0;
    }
    uint32_t slot(uint32_t demod, uint32_t which) { return kSampleBlock + (2 * demod + which) * kSampleStride; }
    QV_STATUS packet(uint32_t demod, const Packet& p, uint32_t which = 0) {
        return DeviceStateHandleData(dev, slot(demod, which), 40, p.bytes().data());
    }
};

TEST_F(DemodSampleTest, PacketBecomesAScaledSample) {
    Packet p;
    p.time = 0x123456789ABCull;
    p.x = int64_t(1) << 62;
    p.y = INT64_MIN;
    p.frequency = uint64_t(1) << 40;
    p.phase = 65535;
    p.dio = 0xA5A5A5A5;
    p.aux0 = 32767;
    p.aux1 = -32768;
    ASSERT_EQ(packet(0, p), QV_NO_ERROR);
    p.harmonic = 0x0180;
    state().groups.demodInputIndex[1] = 1;
    ASSERT_EQ(packet(1, p), QV_NO_ERROR);
    state().groups.demodInputIndex[2] = 2;  // an aux input: gain 1.0
    p.harmonic = 0x0081;
    ASSERT_EQ(packet(2, p), QV_NO_ERROR);

    const std::vector<DataDemodSample> s0 = streamed(leaf(0, "SAMPLE"));
    ASSERT_EQ(s0.size(), 1u);
    EXPECT_EQ(s0[0].timeStamp, 0x123456789ABCull);
    EXPECT_EQ(s0[0].x, 1.1228070175438596);
    EXPECT_EQ(s0[0].y, -2.245614035087719);
    EXPECT_EQ(s0[0].frequency, 820312.5);
    EXPECT_EQ(s0[0].phase, 6.283185307179586);
    EXPECT_EQ(s0[0].dioBits, 0xA5A5A5A5u);
    EXPECT_EQ(s0[0].auxIn0, 9.999847409781033);
    EXPECT_EQ(s0[0].auxIn1, -10.000152590218967);

    const std::vector<DataDemodSample> s1 = streamed(leaf(1, "SAMPLE"));
    ASSERT_EQ(s1.size(), 1u);
    EXPECT_EQ(s1[0].x, 0.011228070175438596);
    EXPECT_EQ(s1[0].frequency, 3 * 820312.5);
    const std::vector<DataDemodSample> s2 = streamed(leaf(2, "SAMPLE"));
    ASSERT_EQ(s2.size(), 1u);
    EXPECT_EQ(s2[0].x, 1.1228070175438596);
    EXPECT_EQ(s2[0].frequency, 820312.5);

    // The latest sample is the leaf's value.
    const std::vector<OutputRecord> reply = read(leaf(1, "SAMPLE"));
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].bytes.size(), 76u);
    EXPECT_EQ(reply[0].header.kind, DATATYPE_DEMODSAMPLE);
    EXPECT_EQ(reply[0].header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(decodeDemodSample(reply[0].bytes.data() + 12).x, 0.011228070175438596);
}

TEST_F(DemodSampleTest, BothSlotsFeedOneStreamAndTimestampsWrapIntoANewEpoch) {
    Packet p;
    p.time = (uint64_t(1) << 48) - 10;
    ASSERT_EQ(packet(3, p, 0), QV_NO_ERROR);
    p.time = 5;  // the 48-bit counter wrapped
    ASSERT_EQ(packet(3, p, 1), QV_NO_ERROR);
    p.time = 7;
    ASSERT_EQ(packet(4, p, 0), QV_NO_ERROR);
    const std::vector<DataDemodSample> s = streamed(leaf(3, "SAMPLE"));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].timeStamp, (uint64_t(1) << 48) - 10);
    EXPECT_EQ(s[1].timeStamp, (uint64_t(1) << 48) + 5);
    // The epoch is shared by every demodulator of the device.
    EXPECT_EQ(streamed(leaf(4, "SAMPLE"))[0].timeStamp, (uint64_t(1) << 48) + 7);
}

TEST_F(DemodSampleTest, SamplesWithoutAKnownInputAreDropped) {
    const int32_t id = leaf(0, "SAMPLE");
    const Packet p;
    const int32_t inputs[] = {-1, 6, 1000};
    for (int32_t input : inputs) {
        state().groups.demodInputIndex[0] = input;
        EXPECT_EQ(packet(0, p), QV_NO_ERROR) << input;
    }
    state().groups.demodInputIndex[0] = 0;
    state().groups.auxOutDerived[0] = 0.0;  // gain not known yet
    EXPECT_EQ(packet(0, p), QV_NO_ERROR);
    state().groups.auxOutDerived[0] = std::nan("");
    EXPECT_EQ(packet(0, p), QV_NO_ERROR);
    EXPECT_TRUE(streamed(id).empty());
    // Before the first sample a read answers zeros.
    const std::vector<OutputRecord> reply = read(id);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(reply[0].bytes.begin() + 12, reply[0].bytes.end()), std::vector<uint8_t>(64, 0));
}

TEST_F(DemodSampleTest, FullStreamBufferDropsTheSampleAndKeepsTheValue) {
    const EPNodePtr sample = ep(leaf(0, "SAMPLE"));
    Packet p;
    p.x = int64_t(1) << 62;
    ASSERT_EQ(packet(0, p), QV_NO_ERROR);
    for (;;) {
        FifoWriter filler(*sample->stream, 64 * 1024);
        if (!filler) break;
        filler.commitAll();
    }
    for (;;) {
        FifoWriter filler(*sample->stream, 16);
        if (!filler) break;
        filler.commitAll();
    }
    p.x = 0;
    EXPECT_EQ(packet(0, p), QV_OVERFLOW);
    EXPECT_EQ(decodeDemodSample(sample->value.data()).x, 1.1228070175438596);
}

TEST_F(DemodSampleTest, ShortOrMisboundDataIsRefused) {
    const EPNodePtr sample = ep(leaf(0, "SAMPLE"));
    const std::vector<uint8_t> bytes = Packet().bytes();
    EXPECT_EQ(DemodSampleUpdateData(dev, sample, bytes.data(), 39), QV_BUFFER_TOO_SMALL);
    const int32_t saved = sample->instance;
    sample->instance = 64;  // demodulator 32
    EXPECT_EQ(DemodSampleUpdateData(dev, sample, bytes.data(), 40), QV_BUFFER_TOO_SMALL);
    sample->instance = saved;
    sample->stream.reset();
    EXPECT_EQ(DemodSampleUpdateData(dev, sample, bytes.data(), 40), QV_VALUE_NOT_FOUND);
}

}  // namespace
}  // namespace tarnix
