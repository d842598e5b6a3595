#include "AuxDioFixture.h"

#include "core/DataTypes.h"
#include "core/fifo/BufferFifo.h"
#include "groups/AuxIns.h"
#include "groups/data/GroupFamilyData.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using test::Block;
using test::samplePacket;

constexpr uint32_t kSettings = 0x02000000;
constexpr uint32_t kSlots = 0x02000100;
constexpr uint32_t kStride = 0x10;

// The samples a stream buffer holds, oldest first.
std::vector<DataAuxInSample> drain(BufferFifoBase& stream) {
    std::vector<DataAuxInSample> samples;
    for (;;) {
        FifoReader reader(stream, 0);
        if (!reader) break;
        for (uint8_t* p = reader.data(); p + kAuxInSampleSize <= reader.end(); p += kAuxInSampleSize)
            samples.push_back(decodeAuxInSample(p));
        reader.commitAll();
    }
    return samples;
}

// Two channels packed as the packet's payload.
uint32_t channels(int16_t ch0, int16_t ch1) { return uint32_t(uint16_t(ch0)) | (uint32_t(uint16_t(ch1)) << 16); }

class AuxInsTest : public test::AuxDioFixture {
protected:
    void buildBlocks(uint32_t blocks) {
        ASSERT_EQ(build<NodeDefs::LQ3::AuxIns>(AuxInsFeatureInit, {{kSettings, kStride, blocks},
                                                                   {kSlots, kStride, 2 * blocks}}),
                  QV_NO_ERROR);
    }
    BufferFifoBase& streamOf(std::size_t n) { return *epOf(n, "SAMPLE")->stream; }
};

TEST_F(AuxInsTest, RecordsOfTheWrongShapeBuildNothing) {
    // Each record's blocks lie apart from the others' in the register map.
    const std::vector<std::vector<Block>> shapes = {
        {{kSettings, kStride, 1}},
        {{kSettings + 0x10000, kStride, 1}, {kSlots + 0x10000, kStride, 2}, {0x02010200, kStride, 1}},
        {{kSettings + 0x20000, kStride, 2}, {kSlots + 0x20000, kStride, 3}},
    };
    for (const auto& blocks : shapes) {
        EXPECT_EQ(build<NodeDefs::LQ3::AuxIns>(AuxInsFeatureInit, blocks), QV_BUFFER_TOO_SMALL);
        EXPECT_EQ(groupRoot->childCount(), 0u);
    }
}

TEST_F(AuxInsTest, OneNodePerBlockWithItsSettingAndStream) {
    buildBlocks(2);
    EXPECT_EQ(familyDataOf(state()).shared.auxInputCount, 2u);
    ASSERT_EQ(groupRoot->childCount(), 2u);
    for (std::size_t n = 0; n < 2; ++n) {
        const TreeNode::Ptr node = groupRoot->childAt(n);
        EXPECT_EQ(node->getName(), std::to_string(n));
        EXPECT_EQ(node->nodeTypeId(), 170);
        ASSERT_EQ(node->childCount(), 2u);
        EXPECT_EQ(node->childAt(0)->getName(), "AVERAGING");
        EXPECT_EQ(node->childAt(0)->nodeTypeId(), 171);
        EXPECT_EQ(node->childAt(1)->getName(), "SAMPLE");
        EXPECT_EQ(node->childAt(1)->nodeTypeId(), 172);
        EXPECT_EQ(node->childAt(1)->endpoint()->dataType, DATATYPE_AUXINSAMPLE);
        std::string text;
        ASSERT_TRUE(node->childAt(1)->getProperty("stream", text));
        EXPECT_EQ(text, "auxinsample");
    }
    int64_t to = 0;
    ASSERT_TRUE(groupRoot->childAt(0)->childAt(0)->getProperty("to", to));
    EXPECT_EQ(to, 32768);

    // The averaging is asked of the instrument, not written; until it answers
    // the setting shows the largest averaging.
    const std::vector<test::DeviceEvent> sent = send();
    EXPECT_TRUE(writesAt(sent, kSettings).empty());
    int requests = 0;
    for (const auto& e : sent)
        if (e.kind == test::DeviceEvent::Request && (e.address == kSettings || e.address == kSettings + kStride)) {
            EXPECT_EQ(e.length, 4u);
            ++requests;
        }
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(readInteger(1, "AVERAGING"), 32768);
}

TEST_F(AuxInsTest, NoBlocksGiveAnEmptyGroup) {
    ASSERT_EQ(build<NodeDefs::LQ3::AuxIns>(AuxInsFeatureInit, {{kSettings, kStride, 0}, {kSlots, kStride, 0}}),
              QV_NO_ERROR);
    EXPECT_EQ(groupRoot->childCount(), 0u);
    EXPECT_EQ(familyDataOf(state()).shared.auxInputCount, 0u);
}

TEST_F(AuxInsTest, AveragingRoundsDownToAPowerOfTwoAndIsAlwaysSent) {
    buildBlocks(1);
    const int32_t id = idOf(0, "AVERAGING");
    send();
    struct Case {
        int64_t written;
        int64_t shown;
        uint32_t exponent;
    };
    const Case cases[] = {{0, 1, 0},  {-5, 1, 0},       {1, 1, 0},       {3, 2, 1},
                          {256, 256, 8}, {1000, 512, 9}, {40000, 32768, 15}, {4294967295, 32768, 15}};
    for (const Case& c : cases) {
        ASSERT_EQ(request(test::setInteger(id, c.written)), QV_NO_ERROR);
        EXPECT_EQ(only(id).asInteger(), c.shown) << c.written;
        const auto writes = writesAt(send(), kSettings);
        ASSERT_EQ(writes.size(), 1u) << c.written;
        EXPECT_EQ(writes[0].word(), c.exponent) << c.written;
    }
    // A double write counts with its integer part.
    ASSERT_EQ(request(test::setDouble(id, 511.9)), QV_NO_ERROR);
    EXPECT_EQ(only(id).asInteger(), 256);
    EXPECT_EQ(only(id).header.flags, VALUE_FLAG_CHANGED);
    // The same value again: sent again, replied to the writer alone.
    ASSERT_EQ(request(test::setInteger(id, 300)), QV_NO_ERROR);
    EXPECT_EQ(only(id).header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(writesAt(send(), kSettings).size(), 1u);
}

TEST_F(AuxInsTest, AveragingFromTheInstrumentIsPushedWhenItDiffers) {
    buildBlocks(1);
    const int32_t id = idOf(0, "AVERAGING");
    ASSERT_EQ(deliverWord(kSettings, 8), QV_NO_ERROR);
    ASSERT_EQ(recordsOn(id).size(), 1u);
    EXPECT_EQ(recordsOn(id)[0].asInteger(), 256);
    EXPECT_EQ(recordsOn(id)[0].header.sessionTag, kUnsolicitedSessionTag);
    EXPECT_EQ(recordsOn(id)[0].header.flags, VALUE_FLAG_CHANGED);
    ASSERT_EQ(deliverWord(kSettings, 8), QV_NO_ERROR);
    EXPECT_TRUE(recordsOn(id).empty());
    // A word above 15 is kept as it is and shows the largest averaging.
    ASSERT_EQ(deliverWord(kSettings, 20), QV_NO_ERROR);
    EXPECT_EQ(recordsOn(id).at(0).asInteger(), 32768);
    EXPECT_EQ(storedWord(*epOf(0, "AVERAGING")), 20u);
}

TEST_F(AuxInsTest, BothSlotsOfABlockFeedItsStream) {
    buildBlocks(2);
    ASSERT_EQ(deliver(kSlots, samplePacket(100, channels(-32768, 32767))), QV_NO_ERROR);
    ASSERT_EQ(deliver(kSlots + kStride, samplePacket(200, channels(0, 1))), QV_NO_ERROR);
    ASSERT_EQ(deliver(kSlots + 3 * kStride, samplePacket(300, channels(2, 3))), QV_NO_ERROR);
    EXPECT_TRUE(output.empty()) << "samples are streamed, not pushed";

    const std::vector<DataAuxInSample> first = drain(streamOf(0));
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].timeStamp, 100u);
    EXPECT_EQ(first[0].ch0, -10.000152590218967);
    EXPECT_EQ(first[0].ch1, 9.999847409781033);
    EXPECT_EQ(first[1].timeStamp, 200u);
    EXPECT_EQ(first[1].ch0, 0.0);
    const std::vector<DataAuxInSample> second = drain(streamOf(1));
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].timeStamp, 300u);
    EXPECT_EQ(second[0].ch1, AuxInChannelVolts(3));

    // A read replies the latest sample of the block.
    const int32_t id = idOf(0, "SAMPLE");
    ASSERT_EQ(request(test::getValue(id)), QV_NO_ERROR);
    const test::OutputRecord reply = only(id);
    EXPECT_EQ(reply.header.kind, DATATYPE_AUXINSAMPLE);
    EXPECT_EQ(reply.header.flags, VALUE_FLAG_REPLY_ONLY);
    ASSERT_EQ(reply.bytes.size(), 12 + kAuxInSampleSize);
    EXPECT_EQ(decodeAuxInSample(reply.bytes.data() + 12).timeStamp, 200u);
}

TEST_F(AuxInsTest, ReadBeforeAnyPacketIsAZeroSample) {
    buildBlocks(1);
    const int32_t id = idOf(0, "SAMPLE");
    ASSERT_EQ(request(test::getValue(id)), QV_NO_ERROR);
    const DataAuxInSample sample = decodeAuxInSample(only(id).bytes.data() + 12);
    EXPECT_EQ(sample.timeStamp, 0u);
    EXPECT_EQ(sample.ch0, 0.0);
    EXPECT_EQ(sample.ch1, 0.0);
}

TEST_F(AuxInsTest, TimestampsKeepRisingAcrossTheCounterWrap) {
    buildBlocks(1);
    const uint64_t nearEnd = (uint64_t(1) << 48) - 10;
    ASSERT_EQ(deliver(kSlots, samplePacket(nearEnd, 0)), QV_NO_ERROR);
    ASSERT_EQ(deliver(kSlots + kStride, samplePacket(5, 0)), QV_NO_ERROR);
    // A small step back is a reordered sample, not a wrap.
    ASSERT_EQ(deliver(kSlots, samplePacket(3, 0)), QV_NO_ERROR);
    const std::vector<DataAuxInSample> samples = drain(streamOf(0));
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[0].timeStamp, nearEnd);
    EXPECT_EQ(samples[1].timeStamp, (uint64_t(1) << 48) + 5);
    EXPECT_EQ(samples[2].timeStamp, (uint64_t(1) << 48) + 3);
}

TEST_F(AuxInsTest, BadPacketsAndAFullStreamChangeNothing) {
    buildBlocks(1);
    const EPNodePtr ep = epOf(0, "SAMPLE");
    const std::vector<uint8_t> packet = samplePacket(7, channels(100, 200));
    EXPECT_EQ(AuxInSampleUpdateData(dev, ep, packet.data(), 8), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(AuxInSampleUpdateData(dev, ep, packet.data(), 16), QV_BUFFER_TOO_SMALL);
    EXPECT_TRUE(drain(*ep->stream).empty());

    for (;;) {
        FifoWriter filler(*ep->stream, 4096);
        if (!filler) break;
        filler.commitAll();
    }
    for (;;) {
        FifoWriter filler(*ep->stream, uint32_t(kAuxInSampleSize));
        if (!filler) break;
        filler.commitAll();
    }
    EXPECT_EQ(AuxInSampleUpdateData(dev, ep, packet.data(), uint32_t(packet.size())), QV_OVERFLOW);
    EXPECT_EQ(decodeAuxInSample(ep->value.data()).timeStamp, 0u);
    // The dropped packet did not move the time base either.
    EXPECT_EQ(state().auxInExtender.last, 0u);

    const EPNodePtr bare = std::make_shared<DeviceStateEPNode>(*ep);
    bare->stream.reset();
    EXPECT_EQ(AuxInSampleUpdateData(dev, bare, packet.data(), uint32_t(packet.size())), QV_VALUE_NOT_FOUND);
}

}  // namespace
}  // namespace tarnix
