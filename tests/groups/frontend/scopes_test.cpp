#include "groups/Scopes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "FrontEndFixture.h"
#include "core/LogCapture.h"

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;
using test::OutputRecord;

constexpr uint32_t kSettingsBlock = 0x01016000;
constexpr uint32_t kSettingsStride = 0x40;
constexpr uint32_t kWaveBlock = 0x01020000;
constexpr uint32_t kWaveStride = 0x1000;

class ScopesTest : public test::FrontEndFixture {
protected:
    void buildScopes(uint32_t count = 2) {
        Feature* settings = addBlock(kSettingsBlock, count, kSettingsStride);
        Feature* waves = addBlock(kWaveBlock, count, kWaveStride);
        ASSERT_EQ(build<LQ3::Scopes>(ScopesFeatureInit, 1, {settings, waves}, &root), QV_NO_ERROR);
    }
    int32_t id(uint32_t scope, const std::string& leaf) { return idAt(root, std::to_string(scope) + "/" + leaf); }
    uint32_t settingAddress(uint32_t scope, uint32_t offset) {
        return kSettingsBlock + scope * kSettingsStride + offset;
    }
    const std::vector<uint8_t>& header(uint32_t scope) { return ep(id(scope, "WAVE"))->bytes; }
    double secondsPerSample(uint32_t scope) { return le::getDouble(header(scope).data()); }
    uint32_t headerWord(uint32_t scope, uint32_t offset) { return le::get32(header(scope).data() + offset); }

    TreeNode::Ptr root;
};

TEST_F(ScopesTest, InitWantsTwoRecordsOfEqualCounts) {
    Feature* a = addBlock(kSettingsBlock, 2, kSettingsStride);
    Feature* b = addBlock(kWaveBlock, 2, kWaveStride);
    Feature* c = addBlock(kWaveBlock + 0x10000, 1, kWaveStride);
    for (const std::vector<Feature*>& items :
         {std::vector<Feature*>{a}, std::vector<Feature*>{a, b, c}, std::vector<Feature*>{a, c}}) {
        TreeNode::Ptr node;
        EXPECT_EQ(build<LQ3::Scopes>(ScopesFeatureInit, 1, items, &node), QV_BUFFER_TOO_SMALL);
        EXPECT_EQ(node->childCount(), 0u);
    }
}

TEST_F(ScopesTest, NoScopesGiveAnEmptyGroup) {
    buildScopes(0);
    EXPECT_EQ(root->childCount(), 0u);
}

TEST_F(ScopesTest, LeavesInOrderWithTypesHelpAndStartValues) {
    buildScopes(2);
    ASSERT_EQ(root->childCount(), 2u);
    const TreeNode::Ptr scope = root->childAt(1);
    EXPECT_EQ(scope->getName(), "1");
    EXPECT_EQ(scope->nodeTypeId(), 151);
    scope->sortChildren();
    struct Expected {
        const char* name;
        int32_t typeId;
        uint32_t initial;
    };
    const Expected leaves[] = {
        {"CHANNEL", 152, 0},   {"TRIGCHANNEL", 153, 0x80000000}, {"BWLIMIT", 154, 0}, {"TRIGEDGE", 155, 0},
        {"TRIGLEVEL", 156, 0}, {"TRIGHOLDOFF", 157, 0},          {"TIME", 158, 1},    {"WAVE", 159, 0}};
    ASSERT_EQ(scope->childCount(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        const TreeNode::Ptr leaf = scope->childAt(i);
        EXPECT_EQ(leaf->getName(), leaves[i].name);
        EXPECT_EQ(leaf->nodeTypeId(), leaves[i].typeId);
        EXPECT_EQ(leaf->siblingOrder(), int64_t(i + 1));
        bool setting = false;
        EXPECT_EQ(leaf->getProperty("setting", setting), i < 7) << leaves[i].name;
        if (i < 7) {
            EXPECT_EQ(storedU32(leaf->endpoint()->id), leaves[i].initial) << leaves[i].name;
        }
    }
    double to = 0.0;
    EXPECT_TRUE(nodeAt(scope, "TRIGHOLDOFF")->getProperty("to", to));
    EXPECT_EQ(to, 65.535);
    EXPECT_EQ(nodeAt(scope, "TRIGHOLDOFF")->endpoint()->precision, 3);
    std::string text;
    EXPECT_TRUE(nodeAt(scope, "TIME")->getProperty("detailed", text));
    EXPECT_EQ(text.back(), ' ');
    NodeValueList values;
    ASSERT_TRUE(nodeAt(scope, "TRIGCHANNEL")->getProperty("values", values));
    ASSERT_EQ(values.count, 16u);
    EXPECT_EQ(values.entries[0].description, "Continuous");
    EXPECT_EQ(boost::get<int64_t>(values.entries[0].value), -2);
    EXPECT_EQ(values.entries[15].description, "DIO 1");
    EXPECT_TRUE(nodeAt(scope, "WAVE")->getProperty("stream", text));
    EXPECT_EQ(text, "scopesample");
}

TEST_F(ScopesTest, EverySettingIsRequestedAtStartButNotTheWave) {
    buildScopes(1);
    send();
    std::vector<uint32_t> addresses;
    for (const test::DeviceEvent& e : requestsIn(kSettingsBlock, 0x100000)) {
        EXPECT_EQ(e.length, 4u);
        addresses.push_back(e.address - kSettingsBlock);
    }
    std::sort(addresses.begin(), addresses.end());
    EXPECT_EQ(addresses, (std::vector<uint32_t>{0, 4, 8, 12, 16, 20, 24}));
    // Answers equal to the start values change and push nothing.
    EXPECT_TRUE(deliver(settingAddress(0, 4), word(1)).empty());
    EXPECT_TRUE(deliver(settingAddress(0, 12), word(0x80000000)).empty());
}

struct WriteCase {
    const char* leaf;
    double value;  // written as a double for TRIGHOLDOFF, as an integer for the others
    uint32_t stored;
    double replied;
};

TEST_F(ScopesTest, WritesConvertClampAndReplyTheStoredSetting) {
    buildScopes(1);
    const WriteCase cases[] = {
        {"CHANNEL", 7, 3, 3},
        {"CHANNEL", -1, 0, 0},
        {"CHANNEL", 2, 2, 2},
        {"TIME", 20, 15, 15},
        {"TIME", -3, 0, 0},
        {"TIME", 7, 7, 7},
        {"BWLIMIT", 5, 1, 1},
        {"BWLIMIT", 0, 0, 0},
        {"TRIGCHANNEL", -2, 0x40000000, -2},
        {"TRIGCHANNEL", -1, 0x80000000, -1},
        {"TRIGCHANNEL", -7, 0x80000000, -1},
        {"TRIGCHANNEL", 20, 13, 13},
        {"TRIGCHANNEL", 4, 4, 4},
        {"TRIGEDGE", 3, 1, 1},
        {"TRIGLEVEL", 40000, 32767, 32767},
        {"TRIGLEVEL", -40000, 0xFFFF8000, -32768},
        {"TRIGLEVEL", -5, 0xFFFFFFFB, -5},
        {"TRIGHOLDOFF", 0.0015, 1, 0.001},
        {"TRIGHOLDOFF", 100, 65535, 65.535},
        {"TRIGHOLDOFF", -1, 0, 0.0},
        {"TRIGHOLDOFF", 1e300, 65535, 65.535},
    };
    for (const WriteCase& c : cases) {
        const int32_t leaf = id(0, c.leaf);
        const bool holdoff = std::string(c.leaf) == "TRIGHOLDOFF";
        const std::vector<OutputRecord> out =
            holdoff ? writeDouble(leaf, c.value) : writeInteger(leaf, int64_t(c.value));
        ASSERT_EQ(out.size(), 1u) << c.leaf << " " << c.value;
        EXPECT_EQ(storedU32(leaf), c.stored) << c.leaf << " " << c.value;
        if (holdoff) {
            EXPECT_EQ(out[0].header.kind, DATATYPE_DOUBLE);
            EXPECT_EQ(out[0].asDouble(), c.replied) << c.value;
        } else {
            EXPECT_EQ(out[0].header.kind, DATATYPE_INTEGER);
            EXPECT_EQ(out[0].asInteger(), int64_t(c.replied)) << c.leaf << " " << c.value;
        }
        // A read shows the same.
        const std::vector<OutputRecord> again = read(leaf);
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0].header.flags, VALUE_FLAG_REPLY_ONLY);
        EXPECT_EQ(holdoff ? again[0].asDouble() : double(again[0].asInteger()), c.replied);
    }
}

TEST_F(ScopesTest, InstrumentWordsReadAsTheirSettings) {
    buildScopes(1);
    const std::pair<const char*, std::pair<uint32_t, int64_t>> cases[] = {{"TRIGCHANNEL", {0x40000001, 13}},
                                                                          {"TRIGCHANNEL", {0x40000000, -2}},
                                                                          {"TRIGLEVEL", {0x00010000, 32767}},
                                                                          {"TRIGLEVEL", {0xFFFF0000, -32768}},
                                                                          {"CHANNEL", {0xFFFFFFFF, 3}},
                                                                          {"TIME", {99, 15}},
                                                                          {"BWLIMIT", {8, 1}}};
    const uint32_t offsets[] = {12, 12, 20, 20, 0, 4, 8};
    std::size_t i = 0;
    for (const auto& c : cases) {
        const std::vector<OutputRecord> pushed = deliver(settingAddress(0, offsets[i++]), word(c.second.first));
        ASSERT_EQ(pushed.size(), 1u) << c.first;
        EXPECT_EQ(pushed[0].header.sequenceTag, kUnsolicitedSequenceTag);
        EXPECT_EQ(pushed[0].header.sessionTag, kUnsolicitedSessionTag);
        EXPECT_EQ(pushed[0].asInteger(), c.second.second) << c.first;
        EXPECT_EQ(read(id(0, c.first))[0].asInteger(), c.second.second) << c.first;
    }
    const std::vector<OutputRecord> holdoff = deliver(settingAddress(0, 24), word(70000));
    ASSERT_EQ(holdoff.size(), 1u);
    EXPECT_EQ(holdoff[0].asDouble(), 65.535);
}

TEST_F(ScopesTest, RepeatedWriteIsSentAgainButRepliedToTheWriterOnly) {
    buildScopes(1);
    send();
    for (uint16_t flags : {VALUE_FLAG_CHANGED, VALUE_FLAG_REPLY_ONLY}) {
        const std::vector<OutputRecord> out = writeInteger(id(0, "TRIGLEVEL"), 1000);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].header.flags, flags);
        const std::vector<test::DeviceEvent> writes = send();
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].address, settingAddress(0, 20));
        EXPECT_EQ(writes[0].word(), 1000u);
    }
}

TEST_F(ScopesTest, HeaderFollowsTheSettingsFromTheStart) {
    buildScopes(2);
    // Seeded from the start values: TIME 1, trigger off.
    EXPECT_EQ(secondsPerSample(0), 9.523809523809524e-9);
    EXPECT_EQ(int32_t(headerWord(0, scopewave::kTrigChannelOffset)), -1);

    writeInteger(id(1, "CHANNEL"), 7);
    EXPECT_EQ(headerWord(1, scopewave::kChannelOffset), 3u);
    EXPECT_EQ(headerWord(0, scopewave::kChannelOffset), 0u) << "each scope has its own header";
    writeInteger(id(1, "TIME"), 20);
    EXPECT_EQ(secondsPerSample(1), 1.5603809523809524e-4);
    writeInteger(id(1, "TIME"), -3);
    EXPECT_EQ(secondsPerSample(1), 4.761904761904762e-9);
    writeInteger(id(1, "TRIGCHANNEL"), -2);
    EXPECT_EQ(headerWord(1, scopewave::kTrigChannelOffset), 0xFFFFFFFEu);
    writeInteger(id(1, "BWLIMIT"), 9);
    EXPECT_EQ(headerWord(1, scopewave::kBWLimitOffset), 1u);
    // From the instrument too, but only when the word changes.
    deliver(settingAddress(1, 0), word(1));
    EXPECT_EQ(headerWord(1, scopewave::kChannelOffset), 1u);
    ep(id(1, "WAVE"))->bytes[scopewave::kChannelOffset] = 0x55;
    EXPECT_TRUE(deliver(settingAddress(1, 0), word(1)).empty());
    EXPECT_EQ(headerWord(1, scopewave::kChannelOffset), 0x55u);
    // The trigger edge, level and hold-off are not part of the header.
    const std::vector<uint8_t> before = header(1);
    writeInteger(id(1, "TRIGLEVEL"), 77);
    writeInteger(id(1, "TRIGEDGE"), 1);
    writeDouble(id(1, "TRIGHOLDOFF"), 2.0);
    EXPECT_EQ(header(1), before);
}

TEST_F(ScopesTest, LeafWithoutItsLinkToTheWaveFailsAfterStoring) {
    buildScopes(1);
    const int32_t channel = id(0, "CHANNEL");
    ep(channel)->bytes.clear();
    send();
    EXPECT_TRUE(writeInteger(channel, 2).empty());
    EXPECT_EQ(lastStatus, QV_VALUE_NOT_FOUND);
    EXPECT_EQ(storedU32(channel), 2u);
    EXPECT_TRUE(send().empty()) << "nothing marked";
    EXPECT_TRUE(deliver(settingAddress(0, 0), word(3)).empty());
    EXPECT_EQ(lastStatus, QV_VALUE_NOT_FOUND);
    EXPECT_EQ(storedU32(channel), 3u);
}

class ScopeWaveTest : public ScopesTest {
protected:
    // The wave records among `records`.
    static std::vector<OutputRecord> waves(const std::vector<OutputRecord>& records) {
        std::vector<OutputRecord> out;
        for (const OutputRecord& r : records)
            if (r.header.kind == DATATYPE_SCOPESAMPLE) out.push_back(r);
        return out;
    }
};

TEST_F(ScopeWaveTest, AWaveBecomesOneRecordWithTheHeaderAndItsSamples) {
    buildScopes(1);
    writeInteger(id(0, "TIME"), 3);
    writeInteger(id(0, "TRIGCHANNEL"), -2);
    std::vector<uint8_t> samples(kWaveStride);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i * 7);
    const std::vector<OutputRecord> out = deliver(kWaveBlock, samples);
    ASSERT_EQ(out.size(), 1u);
    const OutputRecord& r = out[0];
    EXPECT_EQ(r.bytes.size(), 4132u);
    EXPECT_EQ(r.header.sequenceTag, 0);
    EXPECT_EQ(r.header.sessionTag, 0xFFFF);
    EXPECT_EQ(r.header.endpointId, uint32_t(id(0, "WAVE")));
    EXPECT_EQ(r.header.kind, DATATYPE_SCOPESAMPLE);
    EXPECT_EQ(r.header.flags, VALUE_FLAG_CHANGED);
    EXPECT_EQ(le::getDouble(r.bytes.data() + 12), 3.8095238095238096e-8);
    EXPECT_EQ(le::get32(r.bytes.data() + 24), 0xFFFFFFFEu);
    EXPECT_EQ(le::get32(r.bytes.data() + 32), 2048u);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), r.bytes.begin() + 36));
    // The stored header keeps no sample count.
    EXPECT_EQ(headerWord(0, scopewave::kSampleCountOffset), 0u);
}

TEST_F(ScopeWaveTest, OddAndTinyLengthsAndAFullFifo) {
    buildScopes(1);
    const EPNodePtr wave = ep(id(0, "WAVE"));
    const uint8_t five[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(wave->updateData(dev, wave, five, 5), QV_NO_ERROR);
    ASSERT_EQ(wave->updateData(dev, wave, five, 1), QV_NO_ERROR);
    const std::vector<OutputRecord> out = dev.takeOutput();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].bytes.size(), 40u);
    EXPECT_EQ(le::get32(out[0].bytes.data() + 32), 2u);
    EXPECT_EQ(out[0].bytes[39], 4);
    EXPECT_EQ(out[1].bytes.size(), 36u);
    EXPECT_EQ(le::get32(out[1].bytes.data() + 32), 0u);

    const std::vector<uint8_t> before = wave->bytes;
    dev.fillOutput();
    const unsigned blocks = dev.outputFifo()->used();
    test::LogCapture log;
    std::vector<uint8_t> big(kWaveStride, 1);
    EXPECT_EQ(wave->updateData(dev, wave, big.data(), uint32_t(big.size())), QV_OVERFLOW);
    for (const std::string& m : log.messages()) EXPECT_EQ(m.find("QV_OVERFLOW"), std::string::npos) << m;
    EXPECT_EQ(wave->bytes, before);
    EXPECT_EQ(dev.outputFifo()->used(), blocks);
}

TEST_F(ScopeWaveTest, TwoScopesInOneMessageEachGetTheirRecordInAddressOrder) {
    buildScopes(2);
    writeInteger(id(1, "CHANNEL"), 2);
    dev.takeOutput();
    std::vector<uint8_t> both(2 * kWaveStride, 0);
    both[0] = 0x11;
    both[kWaveStride] = 0x22;
    const std::vector<OutputRecord> out = waves(deliver(kWaveBlock, both));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(id(0, "WAVE")));
    EXPECT_EQ(out[0].bytes[36], 0x11);
    EXPECT_EQ(out[1].header.endpointId, uint32_t(id(1, "WAVE")));
    EXPECT_EQ(out[1].bytes[36], 0x22);
    EXPECT_EQ(le::get32(out[1].bytes.data() + 20), 2u);
}

}  // namespace
}  // namespace tarnix
