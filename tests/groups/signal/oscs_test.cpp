#include "SignalFixture.h"

#include "groups/Oscs.h"
#include "groups/common/PhaseIncrement.h"
#include "groups/data/GroupFamilyData.h"

#include <cmath>

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;
using test::OutputRecord;

constexpr uint32_t kOscBlock = 0x01012000;
constexpr uint32_t kOscStride = 0x10;

class OscsTest : public test::SignalFixture {
protected:
    void buildOscs(uint32_t count = 2) {
        Feature* record = addBlock(kOscBlock, count, kOscStride);
        ASSERT_EQ(build<LQ3::Oscs>(OscsFeatureInit, 1, {record}, &root), QV_NO_ERROR);
    }
    int32_t freq(std::size_t osc) { return idOf(root->childAt(osc), "FREQ"); }
    void linkSinc(int demod, int osc) {
        familyDataOf(state()).shared.demodOscSelect[std::size_t(demod)] = osc;
        familyDataOf(state()).signalPath.demodSincEnable[std::size_t(demod)] = 1;
    }

    TreeNode::Ptr root;
};

TEST_F(OscsTest, WrongRecordCountBuildsNothing) {
    Feature* a = addBlock(kOscBlock, 2, kOscStride);
    Feature* b = addBlock(kOscBlock + 0x100, 2, kOscStride);
    for (const std::vector<Feature*>& items : {std::vector<Feature*>{}, std::vector<Feature*>{a, b}}) {
        TreeNode::Ptr node;
        EXPECT_EQ(build<LQ3::Oscs>(OscsFeatureInit, 1, items, &node), QV_BUFFER_TOO_SMALL);
        EXPECT_EQ(node->childCount(), 0u);
    }
    EXPECT_EQ(familyDataOf(state()).shared.oscillatorCount, 0u);
}

TEST_F(OscsTest, InitBuildsOneFrequencyPerOscillatorAndRequestsIt) {
    buildOscs(2);
    EXPECT_EQ(familyDataOf(state()).shared.oscillatorCount, 2u);
    ASSERT_EQ(root->childCount(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const TreeNode::Ptr instance = root->childAt(i);
        EXPECT_EQ(instance->getName(), std::to_string(i));
        EXPECT_EQ(instance->nodeTypeId(), 76);
        const TreeNode::Ptr leaf = instance->childAt(0);
        EXPECT_EQ(leaf->getName(), "FREQ");
        EXPECT_EQ(leaf->nodeTypeId(), 77);
        double to = 0.0;
        EXPECT_TRUE(leaf->getProperty("to", to));
        EXPECT_EQ(to, 100000000.0);
        EXPECT_EQ(familyDataOf(state()).signalPath.oscFreqEpId[i], freq(i));
        // 100 Hz is the initial image until the instrument answers.
        EXPECT_EQ(storedU64(freq(i)), 134035703u);
    }
    const std::vector<test::DeviceEvent> none = send();
    EXPECT_TRUE(none.empty());
    const std::vector<test::DeviceEvent> requests = requestsIn(kOscBlock, 2 * kOscStride);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].address, kOscBlock + kOscStride);
    EXPECT_EQ(requests[1].length, 8u);
}

struct FreqCase {
    double written;
    uint64_t stored;
    double replied;
};

TEST_F(OscsTest, WritesClampAndRoundToTheNearestStep) {
    buildOscs();
    const FreqCase plain[] = {{100, 134035703u, 99.99999985410568},
                              {1, 1340357u, 0.9999999761589606},
                              {1000000, 1340357031956u, 1000000.0000003695},
                              {100000000, 134035703195550u, 99999999.99999964},
                              {200000000, 134035703195550u, 99999999.99999964},
                              {-5, 0u, 0.0}};
    for (const FreqCase& c : plain) {
        const std::vector<OutputRecord> out = writeDouble(freq(0), c.written);
        ASSERT_EQ(out.size(), 1u) << c.written;
        EXPECT_EQ(storedU64(freq(0)), c.stored) << c.written;
        EXPECT_EQ(out[0].header.kind, DATATYPE_DOUBLE);
        EXPECT_EQ(out[0].asDouble(), c.replied) << c.written;
    }
    // NaN is no frequency: refused, nothing stored or replied.
    writeDouble(freq(0), 1);
    EXPECT_TRUE(writeDouble(freq(0), std::nan("")).empty());
    EXPECT_EQ(storedU64(freq(0)), 1340357u);
    linkSinc(3, 0);
    const FreqCase sinc[] = {{100, 134043363u, 100.0057147493294},
                             {1000000, 617269685769u, 460526.31578948675},
                             {460526.3157894737, 617269685769u, 460526.31578948675},
                             {300000, 308634842884u, 230263.15789437035},
                             {0, 0u, 0.0}};
    for (const FreqCase& c : sinc) {
        const std::vector<OutputRecord> out = writeDouble(freq(0), c.written);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(storedU64(freq(0)), c.stored) << c.written;
        EXPECT_EQ(out[0].asDouble(), c.replied) << c.written;
    }
    // The link is per oscillator.
    writeDouble(freq(1), 1000000);
    EXPECT_EQ(storedU64(freq(1)), 1340357031956u);
}

TEST_F(OscsTest, RepeatedWriteIsSentAgainAndRepliedToTheWriterOnly) {
    buildOscs();
    send();
    for (uint16_t expectedFlags : {VALUE_FLAG_CHANGED, VALUE_FLAG_REPLY_ONLY}) {
        const std::vector<OutputRecord> out = writeDouble(freq(1), 1000000);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].header.flags, expectedFlags);
        EXPECT_EQ(out[0].header.sequenceTag, 7);
        EXPECT_EQ(out[0].header.sessionTag, 3);
        const std::vector<test::DeviceEvent> writes = send();
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].address, kOscBlock + kOscStride);
        ASSERT_EQ(writes[0].payload.size(), 8u);
        EXPECT_EQ(le::get64(writes[0].payload.data()), 1340357031956u);
    }
}

TEST_F(OscsTest, InstrumentValuesArePushedOnlyWhenTheyDiffer) {
    buildOscs();
    std::vector<uint8_t> image(8);
    le::put64(image.data(), 134035703u);
    EXPECT_TRUE(deliver(kOscBlock, image).empty());
    // Not clamped nor rounded: what the instrument holds is shown.
    le::put64(image.data(), 0xFFFFFFFFFFFFull);
    const std::vector<OutputRecord> out = deliver(kOscBlock, image);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.sessionTag, kUnsolicitedSessionTag);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_CHANGED);
    EXPECT_EQ(out[0].asDouble(), FromPhaseIncrement(0xFFFFFFFFFFFFull));
    const std::vector<OutputRecord> reply = read(freq(0));
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(reply[0].asDouble(), out[0].asDouble());
}

TEST_F(OscsTest, FullOutputFifoStillStoresAndMarks) {
    buildOscs();
    send();
    dev.fillOutput();
    EXPECT_EQ(post(test::setDouble(freq(0), 1000000)), QV_OVERFLOW);
    EXPECT_EQ(storedU64(freq(0)), 1340357031956u);
    EXPECT_EQ(send().size(), 1u);
}

TEST_F(OscsTest, SincRuleMovesTheOscillatorAndPushesOnce) {
    buildOscs();
    writeDouble(freq(0), 1000000);
    send();
    linkSinc(0, 0);
    dev.takeOutput();
    ASSERT_EQ(OscApplySincRule(dev, 0), QV_NO_ERROR);
    std::vector<OutputRecord> out = dev.takeOutput();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(freq(0)));
    EXPECT_EQ(out[0].asDouble(), 460526.31578948675);
    EXPECT_EQ(send().size(), 1u);
    ASSERT_EQ(OscApplySincRule(dev, 0), QV_NO_ERROR);
    EXPECT_TRUE(dev.takeOutput().empty());
    // Oscillators without a FREQ leaf are left alone.
    EXPECT_EQ(OscApplySincRule(dev, 5), QV_NO_ERROR);
    EXPECT_EQ(OscApplySincRule(dev, 100), QV_NO_ERROR);
}

}  // namespace
}  // namespace tarnix
