#include "AuxDioFixture.h"

#include "groups/AuxOuts.h"
#include "groups/AuxOutsScale.h"
#include "groups/data/GroupFamilyData.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

constexpr uint32_t kBlock = 0x02200000;
constexpr uint32_t kStride = 0x20;
constexpr uint32_t kValue = 0, kSelect = 4, kScale = 8, kOffset = 12;
constexpr uint32_t kStrobe = 0x02300000;

class AuxOutsTest : public test::AuxDioFixture {
protected:
    QV_STATUS buildOutputs(uint32_t outputs) {
        return build<NodeDefs::LQ3::AuxOuts>(AuxOutsFeatureInit, {{kBlock, kStride, outputs}});
    }
    // A device with demodulators, PIDs and PLLs, and its outputs.
    void buildDevice(uint32_t outputs, uint32_t demods = 4, uint32_t pids = 0, uint32_t plls = 0) {
        familyDataOf(state()).shared.demodulatorCount = demods;
        familyDataOf(state()).shared.pidCount = pids;
        familyDataOf(state()).shared.pllCount = plls;
        ASSERT_EQ(buildOutputs(outputs), QV_NO_ERROR);
        send();
    }
    uint32_t address(std::size_t n, uint32_t offset) const { return kBlock + uint32_t(n) * kStride + offset; }
    void setWord(std::size_t n, const char* leaf, uint32_t word) { storeWord(*epOf(n, leaf), word); }
    uint32_t word(std::size_t n, const char* leaf) { return storedWord(*epOf(n, leaf)); }
    // Demodulator d listens to `input`, whose gain (for a signal input) is `gain`.
    void listen(uint32_t d, int input, double gain) {
        familyDataOf(state()).shared.signalInputCount = 2;
        state().groups.demodInputIndex[d] = input;
        if (input >= 0 && input < 2) state().groups.auxOutDerived[std::size_t(input)] = gain;
    }
};

TEST_F(AuxOutsTest, RecordsOfTheWrongShapeBuildNothing) {
    EXPECT_EQ(build<NodeDefs::LQ3::AuxOuts>(AuxOutsFeatureInit, {{kBlock, kStride, 2}, {0x02210000, kStride, 2}}),
              QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(groupRoot->childCount(), 0u);
}

TEST_F(AuxOutsTest, EachOutputHasItsLeavesLinksAndRequests) {
    familyDataOf(state()).shared.demodulatorCount = 4;
    ASSERT_EQ(buildOutputs(2), QV_NO_ERROR);
    EXPECT_EQ(familyDataOf(state()).shared.auxOutputCount, 2u);
    struct Leaf {
        const char* name;
        int32_t typeId;
        uint16_t precision;
    };
    const Leaf leaves[] = {{"VALUE", 175, 3}, {"OUTPUTSELECT", 176, 0}, {"DEMODSELECT", 177, 0},
                           {"SCALE", 178, 2}, {"OFFSET", 179, 3}};
    ASSERT_EQ(groupRoot->childCount(), 2u);
    for (std::size_t n = 0; n < 2; ++n) {
        const TreeNode::Ptr output = groupRoot->childAt(n);
        EXPECT_EQ(output->nodeTypeId(), 174);
        ASSERT_EQ(output->childCount(), 5u);
        for (std::size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(output->childAt(i)->getName(), leaves[i].name);
            EXPECT_EQ(output->childAt(i)->nodeTypeId(), leaves[i].typeId);
            EXPECT_EQ(output->childAt(i)->endpoint()->precision, leaves[i].precision) << leaves[i].name;
        }
    }
    const AuxDioData& data = familyDataOf(state()).auxDio;
    ASSERT_EQ(data.auxOutScaleEpIdCount, 2u);
    EXPECT_EQ(int32_t(data.auxOutScaleEpIds[0]), idOf(0, "SCALE"));
    EXPECT_EQ(int32_t(data.auxOutScaleEpIds[1]), idOf(1, "SCALE"));
    NodeValueList signals;
    ASSERT_TRUE(groupRoot->childAt(1)->childAt(1)->getProperty("values", signals));
    ASSERT_EQ(signals.count, 7u);
    EXPECT_EQ(signals.entries[0].description, "Manual");
    EXPECT_EQ(signals.entries[6].description, "PLL 1 (with installed PLL option))");
    double to = 0;
    ASSERT_TRUE(groupRoot->childAt(0)->childAt(4)->getProperty("to", to));
    EXPECT_EQ(to, 2560.0);

    // Four registers per output are asked of the instrument; nothing is written.
    std::map<uint32_t, int> requests;
    for (const test::DeviceEvent& e : send()) {
        EXPECT_NE(e.kind, test::DeviceEvent::Write);
        if (e.kind == test::DeviceEvent::Request && e.address >= kBlock && e.address < kBlock + 2 * kStride)
            ++requests[e.address];
    }
    EXPECT_EQ(requests, (std::map<uint32_t, int>{{address(0, kValue), 1},
                                                 {address(0, kSelect), 1},
                                                 {address(0, kScale), 1},
                                                 {address(0, kOffset), 1},
                                                 {address(1, kValue), 1},
                                                 {address(1, kSelect), 1},
                                                 {address(1, kScale), 1},
                                                 {address(1, kOffset), 1}}));
    EXPECT_EQ(word(1, "OUTPUTSELECT"), 0u);
    EXPECT_EQ(readInteger(1, "DEMODSELECT"), 0);
}

TEST_F(AuxOutsTest, WithoutDemodulatorsTheSelectionStartsAtIndex15) {
    ASSERT_EQ(buildOutputs(1), QV_NO_ERROR);
    EXPECT_EQ(word(0, "OUTPUTSELECT"), 0xF0u);
    EXPECT_EQ(readInteger(0, "DEMODSELECT"), 15);
    EXPECT_EQ(readInteger(0, "OUTPUTSELECT"), 0);
}

TEST_F(AuxOutsTest, NoOutputsEmptyTheScaleList) {
    familyDataOf(state()).auxDio.auxOutScaleEpIdCount = 5;
    ASSERT_EQ(buildOutputs(0), QV_NO_ERROR);
    EXPECT_EQ(groupRoot->childCount(), 0u);
    EXPECT_EQ(familyDataOf(state()).shared.auxOutputCount, 0u);
    EXPECT_EQ(familyDataOf(state()).auxDio.auxOutScaleEpIdCount, 0u);
    EXPECT_TRUE(AuxOutsScaleFactors(dev).empty());
}

TEST_F(AuxOutsTest, AThirtyThirdScaleEndsTheBuild) {
    EXPECT_EQ(buildOutputs(40), QV_BUFFER_TOO_SMALL);
    ASSERT_EQ(groupRoot->childCount(), 33u);
    EXPECT_EQ(groupRoot->childAt(32)->childCount(), 4u);
    EXPECT_EQ(familyDataOf(state()).auxDio.auxOutScaleEpIdCount, 32u);
}

TEST_F(AuxOutsTest, OutputSelectionIsLimitedToThePresentLoops) {
    struct Case {
        uint32_t pids;
        uint32_t plls;
        int64_t written;
        int64_t shown;
        uint32_t word;
    };
    const Case cases[] = {
        {0, 2, 7, 5, 0x05}, {0, 0, 7, 3, 0x03}, {1, 0, -3, -2, 0x80000001}, {0, 0, -3, -1, 0x80000000}};
    for (const Case& c : cases) {
        familyDataOf(state()).shared.pidCount = c.pids;
        familyDataOf(state()).shared.pllCount = c.plls;
        if (!groupRoot) buildDevice(1, 4, c.pids, c.plls);
        setWord(0, "OUTPUTSELECT", 0x0A);
        const int32_t id = idOf(0, "OUTPUTSELECT");
        ASSERT_EQ(request(test::setInteger(id, c.written)), QV_NO_ERROR);
        EXPECT_EQ(only(id).asInteger(), c.shown) << c.written;
        EXPECT_EQ(readInteger(0, "OUTPUTSELECT"), c.shown);
        const auto writes = writesAt(send(), address(0, kSelect));
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].word(), c.word) << c.written;
    }
}

TEST_F(AuxOutsTest, RepeatedSelectionIsSentAgainWithoutPushes) {
    buildDevice(1);
    const int32_t id = idOf(0, "OUTPUTSELECT");
    setWord(0, "SCALE", 128);
    ASSERT_EQ(request(test::setInteger(id, 0)), QV_NO_ERROR);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0].header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(writesAt(send(), address(0, kSelect)).size(), 1u);
}

TEST_F(AuxOutsTest, ChoosingManualResetsTheOffsetAndPushesTheNewScale) {
    buildDevice(1);
    listen(2, 0, 1.0);
    ASSERT_EQ(request(test::setInteger(idOf(0, "DEMODSELECT"), 2)), QV_NO_ERROR);
    ASSERT_EQ(request(test::setDouble(idOf(0, "OFFSET"), 1.0)), QV_NO_ERROR);
    setWord(0, "SCALE", 128);
    send();

    ASSERT_EQ(request(test::setInteger(idOf(0, "OUTPUTSELECT"), -1)), QV_NO_ERROR);
    EXPECT_EQ(word(0, "OUTPUTSELECT"), 0x80000020u) << "the demodulator bits stay";
    EXPECT_EQ(only(idOf(0, "OUTPUTSELECT")).asInteger(), -1);
    const test::OutputRecord offset = only(idOf(0, "OFFSET"));
    EXPECT_EQ(offset.asDouble(), 0.0);
    EXPECT_EQ(offset.header.sequenceTag, kUnsolicitedSequenceTag);
    EXPECT_EQ(offset.header.sessionTag, kUnsolicitedSessionTag);
    EXPECT_EQ(offset.header.flags, VALUE_FLAG_CHANGED);
    const test::OutputRecord scale = only(idOf(0, "SCALE"));
    EXPECT_EQ(scale.asDouble(), 1.0);
    EXPECT_EQ(scale.header.sessionTag, kUnsolicitedSessionTag);
    EXPECT_EQ(readDouble(0, "OFFSET"), 0.0);

    const auto sent = send();
    EXPECT_EQ(writesAt(sent, address(0, kOffset)).at(0).word(), 0u);
    EXPECT_EQ(writesAt(sent, address(0, kSelect)).at(0).word(), 0x80000020u);
}

TEST_F(AuxOutsTest, DemodSelectWritesTheSelectionWord) {
    buildDevice(1);
    setWord(0, "OUTPUTSELECT", 0x02);
    const int32_t id = idOf(0, "DEMODSELECT");
    const std::pair<int64_t, int64_t> cases[] = {{9, 3}, {-2, 0}, {1, 1}};
    for (const auto& c : cases) {
        ASSERT_EQ(request(test::setInteger(id, c.first)), QV_NO_ERROR);
        EXPECT_EQ(only(id).asInteger(), c.second) << c.first;
        EXPECT_EQ(readInteger(0, "DEMODSELECT"), c.second);
        const auto writes = writesAt(send(), address(0, kSelect));
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].word(), uint32_t(c.second << 4) | 0x02) << c.first;
    }
    EXPECT_EQ(readInteger(0, "OUTPUTSELECT"), 2);
}

TEST_F(AuxOutsTest, EverySendOfTheSelectionIsFollowedByThePidStrobe) {
    buildDevice(1);
    state().pidStrobeAddress = kStrobe;
    state().pidStrobeEnable = 1;
    ASSERT_EQ(request(test::setInteger(idOf(0, "OUTPUTSELECT"), 1)), QV_NO_ERROR);
    std::vector<test::DeviceEvent> sent = send();
    auto select = std::find_if(sent.begin(), sent.end(), [&](const test::DeviceEvent& e) {
        return e.kind == test::DeviceEvent::Write && e.address == address(0, kSelect);
    });
    ASSERT_NE(select, sent.end());
    ASSERT_NE(select + 1, sent.end());
    EXPECT_EQ((select + 1)->address, kStrobe);
    EXPECT_EQ((select + 1)->word(), 1u);

    ASSERT_EQ(request(test::setInteger(idOf(0, "DEMODSELECT"), 1)), QV_NO_ERROR);
    EXPECT_EQ(writesAt(send(), kStrobe).size(), 1u);

    state().pidStrobeEnable = 0;
    ASSERT_EQ(request(test::setInteger(idOf(0, "OUTPUTSELECT"), 1)), QV_NO_ERROR);
    EXPECT_TRUE(writesAt(send(), kStrobe).empty());
}

TEST_F(AuxOutsTest, ValueIsReadOnlyVolts) {
    buildDevice(1);
    const int32_t id = idOf(0, "VALUE");
    EXPECT_EQ(readDouble(0, "VALUE"), -10.0);
    const std::pair<uint32_t, double> words[] = {{65535, 10.0}, {70000, 10.0}, {0, -10.0}};
    for (const auto& w : words) {
        ASSERT_EQ(deliverWord(address(0, kValue), w.first), QV_NO_ERROR);
        ASSERT_EQ(recordsOn(id).size(), 1u);
        EXPECT_EQ(recordsOn(id)[0].asDouble(), w.second);
    }
    EXPECT_EQ(request(test::setDouble(id, 1.0)), QV_VALUE_NOT_FOUND);
    EXPECT_TRUE(output.empty());
}

TEST_F(AuxOutsTest, OffsetWritesAreLimitedAndRounded) {
    buildDevice(1);
    const int32_t id = idOf(0, "OFFSET");
    const std::pair<double, double> cases[] = {{1.0, 1.000091555528428}, {3000.0, 2560.0}, {-2560.0, -2560.0}};
    for (const auto& c : cases) {
        ASSERT_EQ(request(test::setDouble(id, c.first)), QV_NO_ERROR);
        EXPECT_EQ(only(id).asDouble(), c.second);
    }
    EXPECT_EQ(writesAt(send(), address(0, kOffset)).at(0).word(), uint32_t(-8388608));
    ASSERT_EQ(deliverWord(address(0, kOffset), 0xFF7FFF00), QV_NO_ERROR);
    EXPECT_EQ(only(id).asDouble(), 2560.0);
}

TEST_F(AuxOutsTest, ScaleShowsTheFactorOnTheChosenSignal) {
    buildDevice(1);
    listen(0, 0, 1.0);
    const int32_t id = idOf(0, "SCALE");
    // X of demodulator 0.
    ASSERT_EQ(request(test::setDouble(id, 1.0)), QV_NO_ERROR);
    EXPECT_EQ(only(id).asDouble(), 1.0089111328125);
    EXPECT_EQ(writesAt(send(), address(0, kScale)).at(0).word(), 29u);
    // An aux-input or DIO signal has gain 1; past the inputs there is none.
    familyDataOf(state()).shared.auxInputCount = 1;
    familyDataOf(state()).shared.dioCount = 1;
    listen(0, 5, 0.0);
    EXPECT_EQ(readDouble(0, "SCALE"), 1.0089111328125);
    listen(0, 6, 0.0);
    EXPECT_EQ(readDouble(0, "SCALE"), 0.0);
    // Theta: 1/36 per unit.
    setWord(0, "OUTPUTSELECT", 3);
    ASSERT_EQ(deliverWord(address(0, kScale), 128), QV_NO_ERROR);
    EXPECT_EQ(only(id).asDouble(), 0.027777777777777776);
    // A negative selection beyond Manual shows no scale and stores 0.
    familyDataOf(state()).shared.pidCount = 2;
    setWord(0, "OUTPUTSELECT", 0x80000001);
    ASSERT_EQ(request(test::setDouble(id, 3.0)), QV_NO_ERROR);
    EXPECT_EQ(only(id).asDouble(), 0.0);
    EXPECT_EQ(word(0, "SCALE"), 0u);
}

TEST_F(AuxOutsTest, AScaleWrittenWhileTheGainIsUnknownKeepsItsRegister) {
    buildDevice(1);
    listen(0, 0, 1.0);
    const int32_t id = idOf(0, "SCALE");
    ASSERT_EQ(request(test::setDouble(id, 1.0)), QV_NO_ERROR);
    send();
    listen(0, 0, 0.0);  // the input's range is not known (yet)
    ASSERT_EQ(request(test::setDouble(id, 5.0)), QV_NO_ERROR);
    const test::OutputRecord reply = only(id);
    EXPECT_EQ(reply.asDouble(), 0.0) << "what the register shows now";
    EXPECT_EQ(reply.header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(word(0, "SCALE"), 29u);
    EXPECT_TRUE(writesAt(send(), address(0, kScale)).empty());
    listen(0, 0, 1.0);
    EXPECT_EQ(readDouble(0, "SCALE"), 1.0089111328125) << "the setting survived";
}

TEST_F(AuxOutsTest, GainChangesRefreshExactlyTheAffectedScales) {
    buildDevice(3);
    listen(0, 0, 1.0);
    listen(1, 1, 1.0);
    const uint32_t selections[] = {0x00, 0x12, 0x03};  // X of 0, R of 1, Theta
    for (std::size_t n = 0; n < 3; ++n) {
        setWord(n, "OUTPUTSELECT", selections[n]);
        setWord(n, "SCALE", 128);
    }
    const AuxOutScaleSnapshot before = AuxOutsScaleFactors(dev);
    ASSERT_EQ(before.size(), 3u);
    EXPECT_EQ(before[0], 4.453125000000001);
    EXPECT_EQ(AuxOutsRefreshScale(dev, before), QV_NO_ERROR);
    EXPECT_TRUE(dev.takeOutput().empty());

    state().groups.auxOutDerived[0] = 0.5;
    EXPECT_EQ(AuxOutsRefreshScale(dev, before), QV_NO_ERROR);
    output = dev.takeOutput();
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0].header.endpointId, uint32_t(idOf(0, "SCALE")));
    EXPECT_EQ(output[0].asDouble(), 2.2265625000000004);

    // A scale pushed on request goes out even when unchanged.
    EXPECT_EQ(AuxOutsPushScale(dev, epOf(2, "OUTPUTSELECT")), QV_NO_ERROR);
    output = dev.takeOutput();
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0].asDouble(), 0.027777777777777776);
    // Before the input ranges are known the demodulator signals show 0.
    state().groups.auxOutDerived[1] = 0.0;
    EXPECT_EQ(AuxOutsScaleFactors(dev)[1], 0.0);
}

TEST_F(AuxOutsTest, SelectionFromTheInstrumentPushesWhatChanged) {
    buildDevice(1);
    listen(3, 0, 1.0);
    setWord(0, "SCALE", 128);
    ASSERT_EQ(deliverWord(address(0, kSelect), 0x32), QV_NO_ERROR);
    EXPECT_EQ(only(idOf(0, "DEMODSELECT")).asInteger(), 3);
    EXPECT_EQ(only(idOf(0, "OUTPUTSELECT")).asInteger(), 2);
    EXPECT_EQ(only(idOf(0, "SCALE")).asDouble(), 5.185376147952884);
    ASSERT_EQ(deliverWord(address(0, kSelect), 0x32), QV_NO_ERROR);
    EXPECT_TRUE(output.empty());
    // Only the signal changes: no index push.
    ASSERT_EQ(deliverWord(address(0, kSelect), 0x33), QV_NO_ERROR);
    EXPECT_TRUE(recordsOn(idOf(0, "DEMODSELECT")).empty());
    EXPECT_EQ(only(idOf(0, "OUTPUTSELECT")).asInteger(), 3);
}

TEST_F(AuxOutsTest, AFullOutputFifoLosesTheReplyButNotTheSetting) {
    buildDevice(1);
    ASSERT_EQ(request(test::setDouble(idOf(0, "OFFSET"), 1.0)), QV_NO_ERROR);
    send();
    dev.fillOutput();
    EXPECT_EQ(DeviceStateMsgHandler(dev, test::setInteger(idOf(0, "OUTPUTSELECT"), -1).data(), 20), QV_OVERFLOW);
    EXPECT_EQ(word(0, "OUTPUTSELECT"), 0x80000000u);
    EXPECT_EQ(word(0, "OFFSET"), 3277u) << "later steps are skipped";
    EXPECT_EQ(writesAt(send(), address(0, kSelect)).size(), 1u);
}

}  // namespace
}  // namespace tarnix
