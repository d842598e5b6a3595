#include "groups/SigOuts.h"

#include <boost/format.hpp>

#include <cmath>
#include <functional>

#include "FrontEndFixture.h"
#include "core/LogCapture.h"
#include "engine/DeviceState.h"
#include "groups/common/EndpointLinks.h"
#include "groups/data/GroupFamilyData.h"

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;
using test::DeviceEvent;
using test::OutputRecord;

constexpr uint32_t kOutputBlock = 0x01015000;
constexpr uint32_t kOutputStride = 0x10;
constexpr uint32_t kMixerBlock = 0x01015100;
constexpr uint32_t kMixerStride = 0x40;

double rangeOfIndex(uint32_t index) {
    const double volts[] = {0.01, 0.1, 1.0, 10.0};
    return index < 4 ? volts[index] : -1.0;
}

struct Layout {
    uint32_t hwRevision = 4;
    uint16_t demodsVersion = 2;
    uint32_t demodCount = 8;
    uint32_t outputs = 2;
    uint32_t mixerStride = kMixerStride;
};

class SigOutsTest : public test::FrontEndFixture {
protected:
    QV_STATUS tryBuild(const Layout& layout, uint32_t mixerCount) {
        state().hwInfo.revision = layout.hwRevision;
        familyDataOf(state()).signalPath.demodsVersion = layout.demodsVersion;
        familyDataOf(state()).shared.demodulatorCount = layout.demodCount;
        Feature* outputs = addBlock(kOutputBlock + spare, layout.outputs, kOutputStride);
        Feature* mixer = addBlock(kMixerBlock + spare, mixerCount, layout.mixerStride);
        spare += 0x10000;  // a further try needs blocks of its own
        return build<LQ3::SigOuts>(SigOutsFeatureInit, 1, {outputs, mixer}, &root);
    }
    void buildSigOuts(const Layout& layout = Layout()) {
        ASSERT_EQ(tryBuild(layout, layout.outputs), QV_NO_ERROR);
        send();
        dev.takeOutput();
    }
    int32_t id(uint32_t output, const std::string& path) { return idAt(root, std::to_string(output) + "/" + path); }
    static uint32_t outputAddress(uint32_t output, uint32_t offset) {
        return kOutputBlock + output * kOutputStride + offset;
    }
    static uint32_t enableAddress(uint32_t output, uint32_t channel) {
        return kMixerBlock + output * kMixerStride + 8 * channel;
    }
    std::vector<std::string> channelsOf(uint32_t output, const std::string& branch) {
        std::vector<std::string> names;
        for (const auto& c : nodeAt(root, std::to_string(output) + "/" + branch)->children())
            names.push_back(c->getName());
        return names;
    }
    // The waveform ids kept by the output's RANGE.
    std::vector<int32_t> rangeLinks(uint32_t output) {
        std::vector<int32_t> ids;
        for (std::size_t c = 0; c < 8; ++c) ids.push_back(LinkedEndpointId(*ep(id(output, "RANGE")), c));
        return ids;
    }

    TreeNode::Ptr root;
    uint32_t spare = 0;
};

TEST_F(SigOutsTest, InitRefusesRecordsItCannotServe) {
    Layout three;
    three.outputs = 3;
    EXPECT_EQ(tryBuild(three, 3), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(root->childCount(), 0u);
    Layout wide;
    wide.mixerStride = 72;
    EXPECT_EQ(tryBuild(wide, 2), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(tryBuild(Layout(), 1), QV_BUFFER_TOO_SMALL) << "instance counts differ";
    EXPECT_EQ(root->childCount(), 0u);
}

TEST_F(SigOutsTest, NoOutputsGiveAnEmptyGroup) {
    Layout none;
    none.outputs = 0;
    ASSERT_EQ(tryBuild(none, 0), QV_NO_ERROR);
    EXPECT_EQ(root->childCount(), 0u);
}

struct ChannelCase {
    uint16_t version;
    uint32_t demodCount;
    uint32_t mixerStride;
    std::vector<std::string> channels;
    int32_t first;
    int32_t last;
};

class SigOutsChannelTest : public SigOutsTest, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(SigOutsChannelTest, MixerChannelsFollowTheDemodulators) {
    const ChannelCase& c = GetParam();
    Layout layout;
    layout.demodsVersion = c.version;
    layout.demodCount = c.demodCount;
    layout.mixerStride = c.mixerStride;
    buildSigOuts(layout);
    for (uint32_t output = 0; output < 2; ++output) {
        for (const char* branch : {"ENABLES", "AMPLITUDES", "WAVEFORMS"})
            EXPECT_EQ(channelsOf(output, branch), c.channels) << branch;
        std::vector<int32_t> expected(8, -1);
        for (const std::string& name : c.channels)
            expected[std::size_t(std::stoi(name))] = id(output, "WAVEFORMS/" + name);
        EXPECT_EQ(rangeLinks(output), expected);
    }
    EXPECT_EQ(familyDataOf(state()).frontEnd.mixerChannelFirst, c.first);
    EXPECT_EQ(familyDataOf(state()).frontEnd.mixerChannelLast, c.last);
}

INSTANTIATE_TEST_SUITE_P(Versions, SigOutsChannelTest,
                         ::testing::Values(ChannelCase{1, 8, 0x40, {"6", "7"}, 6, 7},
                                           ChannelCase{0, 8, 0x40, {"6", "7"}, 6, 7},
                                           ChannelCase{3, 4, 0x40, {"0", "1", "2", "3"}, 0, 3},
                                           ChannelCase{2, 4, 0x40, {"0", "1", "2", "3", "4", "5", "6", "7"}, 0, 7},
                                           ChannelCase{5, 1, 0x47, {"0", "1", "2", "3", "4", "5", "6", "7"}, 0, 7},
                                           ChannelCase{2, 8, 32, {"0", "1", "2", "3"}, 0, 3},
                                           ChannelCase{1, 8, 32, {}, 6, 7},
                                           // A last channel of -1 bounds nothing: compared as unsigned.
                                           ChannelCase{3, 0, 32, {"0", "1", "2", "3"}, 0, -1}));

TEST_F(SigOutsTest, StartValuesAreRequestedButTheWaveformIsNot) {
    buildSigOuts();
    EXPECT_EQ(read(id(1, "RANGE"))[0].asDouble(), 1.0);
    EXPECT_EQ(read(id(1, "AMPLITUDES/3"))[0].asDouble(), 1.0);
    EXPECT_EQ(read(id(1, "WAVEFORMS/3"))[0].asInteger(), 0);
    EXPECT_EQ(requestsIn(outputAddress(1, 0), 12).size(), 3u);
    const std::vector<DeviceEvent> mixer = requestsIn(enableAddress(1, 3), 8);
    ASSERT_EQ(mixer.size(), 2u) << "enable word and amplitude";
    EXPECT_EQ(mixer[0].address, enableAddress(1, 3));
    EXPECT_EQ(mixer[1].address, enableAddress(1, 3) + 4);
    EXPECT_EQ(nodeAt(root, "1/ENABLES/3")->getIndex(), 3);
    NodeValueList values;
    ASSERT_TRUE(nodeAt(root, "0/RANGE")->getProperty("values", values));
    ASSERT_EQ(values.count, 4u);
    EXPECT_EQ(boost::get<double>(values.entries[3].value), 10.0);
    EXPECT_TRUE(nodeAt(root, "0/WAVEFORMS")->properties().empty());
}

TEST_F(SigOutsTest, RangeWritesPickTheRangeAboveAndTellTheInstrument) {
    buildSigOuts();
    const std::pair<double, double> cases[] = {{0.005, 0.01}, {0.01, 0.01},        {0.011, 0.1}, {0.1, 0.1},
                                               {0.2, 1.0},    {1.0, 1.0},          {1.5, 10.0},  {1000, 10.0},
                                               {-4, 0.01}};
    for (const auto& c : cases) {
        state().cmd.queue.clear();
        state().cmd.queuedBytes = 0;
        const std::vector<OutputRecord> out = writeDouble(id(1, "RANGE"), c.first);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].asDouble(), c.second) << c.first;
        ASSERT_EQ(state().cmd.queue.size(), 1u);
        const CmdEntry& command = state().cmd.queue.front();
        EXPECT_EQ(command.code, 14u);
        EXPECT_EQ(command.argument, 1u);
        ASSERT_EQ(command.payload.size(), 4u);
        EXPECT_EQ(rangeOfIndex(le::get32(command.payload.data())), c.second);
    }
}

TEST_F(SigOutsTest, RepeatedRangeWriteIsStillSentAnnouncedAndStrobed) {
    buildSigOuts();
    for (uint16_t flags : {VALUE_FLAG_CHANGED, VALUE_FLAG_REPLY_ONLY}) {
        state().pidStrobePending = false;
        const std::size_t queued = state().cmd.queue.size();
        const std::vector<OutputRecord> out = writeDouble(id(0, "RANGE"), 0.1);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].header.flags, flags);
        EXPECT_EQ(state().cmd.queue.size(), queued + 1);
        EXPECT_TRUE(state().pidStrobePending);
        const std::vector<DeviceEvent> writes = writesAt(send(), outputAddress(0, 8));
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].word(), 1u);
    }
}

TEST_F(SigOutsTest, RangeCommandThatCannotBeQueuedIsLoggedAndTheWriteGoesOn) {
    Layout layout;
    layout.hwRevision = 3;
    buildSigOuts(layout);
    writeInteger(id(0, "WAVEFORMS/4"), 1);
    struct Case {
        const char* what;
        std::function<void()> cut;
        QV_STATUS status;
    };
    const Case cases[] = {
        {"no mailbox", [this] { state().cmd.dataSize = 0; }, QV_BUFFER_TOO_SMALL},
        {"a queue that never empties (the CPU never ran)",
         [this] {
             state().cmd.dataSize = 0x400;
             state().cmd.ready = false;
             while (state().cmd.queue.size() < DeviceStateCmd::kMaxEntries)
                 EXPECT_EQ(DeviceStateCmdRequest(dev, nullptr, nullptr, nullptr, 99, 0, nullptr, 0), QV_NO_ERROR);
         },
         QV_OVERFLOW},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.cut();
        writeDouble(id(0, "RANGE"), 0.1);
        state().pidStrobePending = false;
        test::LogCapture log;
        const std::vector<OutputRecord> out = writeDouble(id(0, "RANGE"), 10.0);
        EXPECT_EQ(lastStatus, QV_NO_ERROR);
        EXPECT_TRUE(log.contains((boost::format("The range of signal output 0 was not announced to the instrument "
                                                "(command 14 not queued, status 0x%04x).") %
                                  c.status.code())
                                     .str()));
        EXPECT_TRUE(state().pidStrobePending);
        // The 10 V range sets every waveform back to sine (revision 3), then the writer hears of it.
        ASSERT_EQ(on(out, id(0, "RANGE")).size(), 1u);
        EXPECT_EQ(on(out, id(0, "RANGE"))[0].asDouble(), 10.0);
        EXPECT_EQ(storedU32(id(0, "WAVEFORMS/4")), 0u);
        EXPECT_EQ(writesAt(send(), outputAddress(0, 8)).size(), 1u);
        writeInteger(id(0, "WAVEFORMS/4"), 1);
    }
}

TEST_F(SigOutsTest, RangeWordFromTheInstrumentIsKeptAsItCame) {
    buildSigOuts();
    state().pidStrobePending = false;
    const std::vector<OutputRecord> out = deliver(outputAddress(0, 8), word(7));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].asDouble(), 10.0);
    EXPECT_EQ(storedU32(id(0, "RANGE")), 7u);
    EXPECT_EQ(read(id(0, "RANGE"))[0].asDouble(), 10.0);
    EXPECT_TRUE(state().pidStrobePending);
}

TEST_F(SigOutsTest, RangeTimeoutIsLoggedOnly) {
    buildSigOuts();
    writeDouble(id(0, "RANGE"), 0.1);
    test::LogCapture log;
    state().cmd.queue.back().cleanup(dev, state().cmd.queue.back().user);
    EXPECT_TRUE(log.contains("RangeUpdateTimeout."));
    EXPECT_EQ(storedU32(id(0, "RANGE")), 1u);
}

TEST_F(SigOutsTest, AmplitudesAreFractionsOfTheRange) {
    buildSigOuts();
    struct Case {
        double written;
        int32_t stored;
        double replied;
    };
    const Case cases[] = {
        {0.5, 65535, 0.4999961852736303},  {1.0, 131071, 1.0},    {-2.0, -131071, -1.0}, {1e-6, 0, 0.0},
        {0.1, 13107, 0.09999923705472606}};
    for (const Case& c : cases) {
        const std::vector<OutputRecord> out = writeDouble(id(0, "AMPLITUDES/2"), c.written);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(int32_t(storedU32(id(0, "AMPLITUDES/2"))), c.stored) << c.written;
        EXPECT_EQ(out[0].asDouble(), c.replied) << c.written;
    }
    const std::vector<OutputRecord> pushed = deliver(enableAddress(0, 2) + 4, word(uint32_t(-65536)));
    ASSERT_EQ(pushed.size(), 1u);
    EXPECT_EQ(pushed[0].asDouble(), -65536 * 7.629452739355006e-06);
}

TEST_F(SigOutsTest, WaveformAndModeAreSentAsOneEnableWord) {
    buildSigOuts();
    const int32_t wave = id(0, "WAVEFORMS/5");
    const std::pair<int64_t, uint32_t> clamps[] = {{5, 1}, {-3, 0}};
    for (const auto& c : clamps) {
        writeInteger(wave, c.first);
        EXPECT_EQ(storedU32(wave), c.second);
    }
    // Writing the same waveform again still sends the enable word.
    std::vector<OutputRecord> out = writeInteger(wave, 0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(writesAt(send(), enableAddress(0, 5)).size(), 1u);

    const std::tuple<int64_t, int64_t, uint32_t> words[] = {{3, 1, 7}, {1, 0, 1}, {2, 1, 6}};
    for (const auto& w : words) {
        writeInteger(id(0, "ENABLES/5"), std::get<0>(w));
        writeInteger(wave, std::get<1>(w));
        const std::vector<DeviceEvent> writes = writesAt(send(), enableAddress(0, 5));
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].word(), std::get<2>(w));
    }
    writeInteger(id(0, "ENABLES/5"), 9);
    EXPECT_EQ(storedU32(id(0, "ENABLES/5")), 3u);
}

TEST_F(SigOutsTest, EnableWordFromTheInstrumentSetsModeAndWaveform) {
    buildSigOuts();
    const std::vector<OutputRecord> out = deliver(enableAddress(1, 4), word(6));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(id(1, "ENABLES/4")));
    EXPECT_EQ(out[0].asInteger(), 2);
    EXPECT_EQ(out[1].header.endpointId, uint32_t(id(1, "WAVEFORMS/4")));
    EXPECT_EQ(out[1].asInteger(), 1);
    EXPECT_EQ(read(id(1, "WAVEFORMS/4"))[0].asInteger(), 1);
    EXPECT_TRUE(deliver(enableAddress(1, 4), word(6)).empty());
}

TEST_F(SigOutsTest, FullOutputFifoLosesOnlyTheRecord) {
    buildSigOuts();
    dev.fillOutput();
    EXPECT_EQ(post(test::setDouble(id(0, "AMPLITUDES/1"), 0.5)), QV_OVERFLOW);
    EXPECT_EQ(storedU32(id(0, "AMPLITUDES/1")), 65535u);
    state().pidStrobePending = false;
    const std::vector<uint8_t> zero = word(0);
    EXPECT_EQ(DeviceStateHandleData(dev, outputAddress(0, 8), 4, zero.data()), QV_OVERFLOW);
    EXPECT_EQ(storedU32(id(0, "RANGE")), 0u);
    EXPECT_FALSE(state().pidStrobePending);
    dev.takeOutput();
    EXPECT_EQ(writesAt(send(), enableAddress(0, 1) + 4).size(), 1u);
}

class SquareLimitTest : public SigOutsTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(SquareLimitTest, SquareWaveAndTenVoltRangeExcludeEachOtherOnOldBoards) {
    Layout layout;
    layout.hwRevision = GetParam();
    buildSigOuts(layout);
    const bool limited = layout.hwRevision < 4;
    writeDouble(id(0, "RANGE"), 10.0);
    dev.takeOutput();

    // Square under 10 V: the range drops to 1 V first (subscribers see it), then the reply.
    std::vector<OutputRecord> out = writeInteger(id(0, "WAVEFORMS/1"), 1);
    if (limited) {
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[0].header.endpointId, uint32_t(id(0, "RANGE")));
        EXPECT_EQ(out[0].asDouble(), 1.0);
        EXPECT_EQ(out[0].header.flags, VALUE_FLAG_CHANGED);
        EXPECT_EQ(out[0].header.sessionTag, kUnsolicitedSessionTag);
        EXPECT_EQ(storedU32(id(0, "RANGE")), 2u);
    } else {
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(storedU32(id(0, "RANGE")), 3u);
    }
    EXPECT_EQ(out.back().header.endpointId, uint32_t(id(0, "WAVEFORMS/1")));

    // 10 V again: every channel of the output goes back to sine.
    writeInteger(id(0, "WAVEFORMS/6"), 1);
    writeInteger(id(1, "WAVEFORMS/6"), 1);
    out = writeDouble(id(0, "RANGE"), 10.0);
    if (limited) {
        EXPECT_EQ(read(id(0, "WAVEFORMS/1"))[0].asInteger(), 0);
        EXPECT_EQ(read(id(0, "WAVEFORMS/6"))[0].asInteger(), 0);
        EXPECT_EQ(on(out, id(0, "WAVEFORMS/1")).size(), 1u);
        // An unchanged channel's record names no session: nobody receives it.
        const std::vector<OutputRecord> unchanged = on(out, id(0, "WAVEFORMS/0"));
        ASSERT_EQ(unchanged.size(), 1u);
        EXPECT_EQ(unchanged[0].header.flags, VALUE_FLAG_REPLY_ONLY);
        EXPECT_EQ(unchanged[0].header.sessionTag, kUnsolicitedSessionTag);
        EXPECT_EQ(read(id(1, "WAVEFORMS/6"))[0].asInteger(), 1) << "the other output keeps its waveform";
        EXPECT_EQ(writesAt(send(), enableAddress(0, 7)).size(), 1u) << "every enable word is rewritten";
    } else {
        EXPECT_EQ(read(id(0, "WAVEFORMS/1"))[0].asInteger(), 1);
    }
    EXPECT_EQ(out.back().header.endpointId, uint32_t(id(0, "RANGE")));

    // Square from the instrument under 10 V pulls the range down as well.
    deliver(enableAddress(0, 3), word(4));
    EXPECT_EQ(storedU32(id(0, "RANGE")), limited ? 2u : 3u);
}

INSTANTIATE_TEST_SUITE_P(Revisions, SquareLimitTest, ::testing::Values(3u, 4u));

}  // namespace
}  // namespace tarnix
