#include "SigInsFixture.h"
#include "groups/data/GroupFamilyData.h"

#include <chrono>
#include <cmath>
#include <limits>

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;
using test::DeviceEvent;
using test::kSigInBlock;
using test::kSigInStride;
using test::OutputRecord;

constexpr uint32_t kFormulaMode = 0;
constexpr uint32_t kTableMode = 1;

class SigInsTest : public test::SigInsFixture {};

TEST_F(SigInsTest, InitWantsOneRecord) {
    Feature* a = addBlock(kSigInBlock, 2, kSigInStride);
    Feature* b = addBlock(kSigInBlock + 0x1000, 2, kSigInStride);
    TreeNode::Ptr node;
    EXPECT_EQ(build<LQ3::SigIns>(SigInsFeatureInit, 1, {a, b}, &node), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(node->childCount(), 0u);
    EXPECT_TRUE(state().cmd.queue.empty());
}

TEST_F(SigInsTest, InitBuildsFourLeavesPerInputAndRequestsThem) {
    buildSigIns(kFormulaMode);
    EXPECT_EQ(familyDataOf(state()).shared.signalInputCount, 2u);
    ASSERT_EQ(root->childCount(), 2u);
    struct Expected {
        const char* name;
        int32_t typeId;
        uint32_t offset;
        uint32_t initial;
    };
    const Expected leaves[] = {{"RANGE", 135, 0, 0}, {"AC", 136, 4, 0}, {"IMP50", 137, 8, 0}, {"DIFF", 138, 12, 1}};
    for (uint32_t input = 0; input < 2; ++input) {
        EXPECT_EQ(root->childAt(input)->nodeTypeId(), 134);
        for (const Expected& e : leaves) {
            const TreeNode::Ptr leaf = nodeAt(root, std::to_string(input) + "/" + e.name);
            ASSERT_TRUE(leaf) << e.name;
            EXPECT_EQ(leaf->nodeTypeId(), e.typeId);
            EXPECT_EQ(storedU32(leaf->endpoint()->id), e.initial) << e.name;
            EXPECT_EQ(requestsIn(test::SigInsFixture::address(input, e.offset), 4).size(), 1u) << e.name;
        }
    }
    EXPECT_EQ(nodeAt(root, "0/RANGE")->endpoint()->precision, 5);
    double from = 0.0;
    EXPECT_TRUE(nodeAt(root, "1/RANGE")->getProperty("from", from));
    EXPECT_EQ(from, 0.0001);
    EXPECT_EQ(state().ledRegisters,
              (std::vector<uint32_t>{address(0, sigin::kLedOffset), address(1, sigin::kLedOffset)}));
    EXPECT_EQ(familyDataOf(state()).frontEnd.sigInRangeEPIds[1], id(1, "RANGE"));
    EXPECT_EQ(state().sigInRewriteEPIds[1], id(1, "IMP50"));
    // DIFF shows differential as 1: its register holds 0 for that.
    EXPECT_EQ(read(id(0, "DIFF"))[0].asInteger(), 0);
    writeInteger(id(0, "DIFF"), 1);
    EXPECT_EQ(storedU32(id(0, "DIFF")), 0u);
}

TEST_F(SigInsTest, GainDataIsAskedForByMode) {
    buildSigIns(kFormulaMode);
    ASSERT_EQ(state().cmd.queue.size(), 8u);
    for (uint32_t b = 0; b < 8; ++b) {
        EXPECT_EQ(state().cmd.queue[b].code, 13u);
        EXPECT_EQ(state().cmd.queue[b].argument, b);
    }
}

TEST_F(SigInsTest, TableModeAsksForTheTableInThirtyTwoParts) {
    buildSigIns(kTableMode);
    ASSERT_EQ(state().cmd.queue.size(), 32u);
    EXPECT_EQ(state().cmd.queue[31].code, 16u);
    EXPECT_EQ(state().cmd.queue[31].argument, 31u);
}

struct RangeCase {
    double requested;
    uint32_t word;
    double shown;
};

TEST_F(SigInsTest, FormulaModeRanges) {
    buildSigIns(kFormulaMode);
    const RangeCase cases[] = {{1.0, 0x0A, 0.9492546358188422},
                               {0.1, 0x84, 0.11837574491266532},
                               {5.0, 0x07, 1.9372543588139637},
                               {0.0, 0xFF, 0.00011742897381131162},
                               {-3.0, 0xFF, 0.00011742897381131162},
                               {1e-300, 0xFF, 0.00011742897381131162}};
    for (const RangeCase& c : cases) {
        state().pidStrobePending = false;
        const std::vector<OutputRecord> out = writeDouble(id(1, "RANGE"), c.requested);
        ASSERT_EQ(out.size(), 1u) << c.requested;
        EXPECT_EQ(storedU32(id(1, "RANGE")), c.word) << c.requested;
        EXPECT_EQ(out[0].asDouble(), c.shown) << c.requested;
        EXPECT_EQ(shownRange(1), c.shown);
        EXPECT_EQ(gain(1), 1.0 / c.shown);
        EXPECT_TRUE(state().pidStrobePending);
    }
    // Formula mode writes no auxiliary register.
    const std::vector<DeviceEvent> writes = send();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, address(1, 0));
    EXPECT_EQ(writes[0].word(), 0xFFu);
}

TEST_F(SigInsTest, TableModeTakesTheNearestKeyAndWritesTheAuxiliaryWordAtOnce) {
    buildSigIns(kTableMode);
    for (uint32_t i = 0; i < table(1, 0).size(); ++i) {
        table(1, 0)[i].word16 = uint16_t(0x100 + i);
        table(1, 0)[i].word32 = 0xA000 + i;
    }
    const double midway = (table(1, 0)[10].range + table(1, 0)[11].range) * 0.5;
    struct TableCase {
        double requested;
        uint32_t position;
        double shown;
    };
    const TableCase cases[] = {{0.7, 16, 0.699999988079071},
                               {3.0, 29, 2.0},
                               {0.001, 0, 0.004999999888241291},
                               {midway, 11, double(0.2f)},
                               {std::nextafter(midway, 0.0), 10, double(0.1f)}};
    for (const TableCase& c : cases) {
        dev.clearEvents();
        const std::vector<OutputRecord> out = writeDouble(id(1, "RANGE"), c.requested);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].asDouble(), c.shown) << c.requested;
        const uint32_t code = (1u << 7) | c.position;  // input 1, sub-table 0
        EXPECT_EQ(storedU32(id(1, "RANGE")), code << 16 | (0x100 + c.position)) << c.requested;
        // The auxiliary register is written and flushed at once, outside the send pass.
        ASSERT_EQ(dev.events().size(), 2u);
        EXPECT_EQ(dev.events()[0].address, address(1, sigin::kRangeAuxOffset));
        EXPECT_EQ(dev.events()[0].word(), 0xA000 + c.position);
        EXPECT_EQ(dev.events()[1].kind, DeviceEvent::Flush);
    }
}

TEST_F(SigInsTest, TableModeWordsOfAnotherInputOrSubTableShowNoRange) {
    buildSigIns(kTableMode);
    const std::pair<uint32_t, double> words[] = {
        {(0x80u | 3) << 16, std::numeric_limits<double>::infinity()},  // input 1's code on input 0
        {(0x40u | 3) << 16, std::numeric_limits<double>::infinity()},  // sub-table 1, but AC is on
        {63u << 16, double(2.0f)},                                     // beyond the table: its last entry
        {3u << 16, double(0.03f)}};
    for (const auto& w : words) {
        deliver(address(0, 0), word(w.first));
        EXPECT_EQ(shownRange(0), w.second) << std::hex << w.first;
        EXPECT_EQ(gain(0), 1.0 / w.second);
    }
}

TEST_F(SigInsTest, RepeatedRangeWriteIsMarkedAgainAndRepliedToTheWriterOnly) {
    buildSigIns(kFormulaMode);
    for (uint16_t flags : {VALUE_FLAG_CHANGED, VALUE_FLAG_REPLY_ONLY}) {
        const std::vector<OutputRecord> out = writeDouble(id(0, "RANGE"), 1.0);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].header.flags, flags);
        EXPECT_EQ(writesAt(send(), address(0, 0)).size(), 1u);
    }
}

TEST_F(SigInsTest, RangeFromTheInstrumentIsPushedAndSetsTheGain) {
    buildSigIns(kFormulaMode);
    state().pidStrobePending = false;
    const std::vector<OutputRecord> out = deliver(address(0, 0), word(0x84));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.sessionTag, kUnsolicitedSessionTag);
    EXPECT_EQ(out[0].asDouble(), 0.11837574491266532);
    EXPECT_TRUE(state().pidStrobePending);
    // The same word again pushes nothing, but the gain is kept up to date.
    state().pidStrobePending = false;
    state().groups.auxOutDerived[0] = 0.0;
    EXPECT_TRUE(deliver(address(0, 0), word(0x84)).empty());
    EXPECT_FALSE(state().pidStrobePending);
    EXPECT_EQ(gain(0), 1.0 / 0.11837574491266532);
}

TEST_F(SigInsTest, CouplingSwitchesTheSubTableAndKeepsThePosition) {
    buildSigIns(kTableMode);
    table(0, 1).resize(5);
    for (uint32_t i = 0; i < 5; ++i) {
        table(0, 1)[i].word16 = uint16_t(0x200 + i);
        table(0, 1)[i].word32 = 0xB000 + i;
    }
    // AC on (the instrument answers 1): sub-table 0 stays, RANGE is not touched.
    EXPECT_EQ(on(deliver(address(0, 4), word(1)), id(0, "RANGE")).size(), 0u);
    writeDouble(id(0, "RANGE"), 0.02);  // position 2
    EXPECT_EQ(storedU32(id(0, "RANGE")), 2u << 16);
    send();

    // DC: sub-table 1, same position; the range is the same, so only the word moves.
    dev.clearEvents();
    std::vector<OutputRecord> out = writeInteger(id(0, "AC"), 0);
    EXPECT_EQ(out.size(), 1u) << "the AC reply only";
    EXPECT_EQ(familyDataOf(state()).frontEnd.sigInCouplingTable[0], 1u);
    EXPECT_EQ(storedU32(id(0, "RANGE")), (0x40u | 2) << 16 | 0x202);
    EXPECT_EQ(dev.events()[0].address, address(0, sigin::kRangeAuxOffset));
    EXPECT_EQ(dev.events()[0].word(), 0xB002u);
    EXPECT_EQ(writesAt(send(), address(0, 0)).size(), 1u);

    // The same coupling again changes nothing.
    out = writeInteger(id(0, "AC"), 0);
    EXPECT_EQ(out.size(), 1u);
    EXPECT_TRUE(writesAt(send(), address(0, 0)).empty());

    // Back to AC with the position beyond the short table: clamped to its last entry.
    writeDouble(id(0, "RANGE"), 0.04);  // sub-table 1 has 5 entries: 0.04 is position 4
    table(0, 0).resize(3);
    out = writeInteger(id(0, "AC"), 1);
    EXPECT_EQ(storedU32(id(0, "RANGE")), 2u << 16);
    const std::vector<OutputRecord> pushed = on(out, id(0, "RANGE"));
    ASSERT_EQ(pushed.size(), 1u);
    EXPECT_EQ(pushed[0].asDouble(), double(0.02f));
    EXPECT_EQ(gain(0), 1.0 / double(0.02f));
}

TEST_F(SigInsTest, FormulaModeCouplingDerivesTheCodeFromTheRange) {
    buildSigIns(kFormulaMode);
    writeDouble(id(0, "RANGE"), 5.0);  // code 7
    familyDataOf(state()).shared.gainTable0[7] = 0.5;
    // The code is derived again from the shown range (3.87 V, clamped to 2 V).
    writeInteger(id(0, "AC"), 0);
    EXPECT_EQ(storedU32(id(0, "RANGE")), 7u);
    EXPECT_DOUBLE_EQ(gain(0), 1.0 / 1.9372543588139637 * 0.5);
}

TEST_F(SigInsTest, FiftyOhmIsForcedForAWhileAfterTheFpgaWasConfigured) {
    state().sigInRewriteState = SigInRewriteState::FpgaConfigured;  // the device start configured the FPGA
    buildSigIns(kFormulaMode);
    EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::Armed);
    writeInteger(id(1, "IMP50"), 0);
    std::vector<DeviceEvent> writes = send();
    ASSERT_EQ(writesAt(writes, address(1, 8)).size(), 1u);
    EXPECT_EQ(writesAt(writes, address(1, 8))[0].word(), 1u) << "forced while the forcing is on";

    dev.advance(std::chrono::milliseconds(250));
    send();  // the engine releases the forcing and marks both IMP50 leaves
    EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::Idle);
    writes = send();
    ASSERT_EQ(writesAt(writes, address(0, 8)).size(), 1u);
    EXPECT_EQ(writesAt(writes, address(0, 8))[0].word(), 0u);
    EXPECT_EQ(writesAt(writes, address(1, 8))[0].word(), 0u);
    writeInteger(id(1, "IMP50"), 1);
    EXPECT_EQ(writesAt(send(), address(1, 8))[0].word(), 1u);
}

TEST_F(SigInsTest, ASingleInputIsForcedAndReleasedAlone) {
    state().sigInRewriteState = SigInRewriteState::FpgaConfigured;
    buildSigIns(kFormulaMode, 1);  // the init succeeds with one IMP50 leaf
    EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::Armed);
    EXPECT_EQ(state().sigInRewriteEPIds[1], -1);
    writeInteger(id(0, "IMP50"), 0);
    const std::vector<DeviceEvent> forced = writesAt(send(), address(0, 8));
    ASSERT_EQ(forced.size(), 1u);
    EXPECT_EQ(forced[0].word(), 1u);

    dev.advance(std::chrono::milliseconds(250));
    send();
    EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::Idle);
    const std::vector<DeviceEvent> writes = send();
    ASSERT_EQ(writesAt(writes, address(0, 8)).size(), 1u);
    EXPECT_EQ(writesAt(writes, address(0, 8))[0].word(), 0u) << "the stored setting once released";
}

TEST_F(SigInsTest, NoForcingWhenTheFpgaWasAlreadyRunning) {
    buildSigIns(kFormulaMode);
    EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::Idle);
    EXPECT_TRUE(writesAt(send(), address(0, 8)).empty());
}

}  // namespace
}  // namespace tarnix
