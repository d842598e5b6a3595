#include "SigInsFixture.h"

#include "core/LogCapture.h"
#include "core/QVException.h"
#include "groups/data/GroupFamilyData.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace tarnix {
namespace {

using test::OutputRecord;

constexpr uint32_t kFormulaMode = 0;
constexpr uint32_t kTableMode = 1;

void putSingle(uint8_t* p, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    le::put32(p, bits);
}

// One calibration block: 64 factors.
std::vector<uint8_t> factors(float value) {
    std::vector<uint8_t> b(256);
    for (int k = 0; k < 64; ++k) putSingle(b.data() + 4 * k, value);
    return b;
}

struct Record {
    float key = 0.0f;
    uint16_t regValue = 0;
    uint32_t aux = 0;
    float factor = 1.0f;
};

class GainTablesTest : public test::SigInsFixture {
protected:
    // The user data of a request of the current round.
    std::shared_ptr<void> index(uint32_t i) { return SigInGainRequestTag(state(), i); }

    // The instrument's table: entry n (bit 7 input, bit 6 sub-table, bits
    // 0-5 index) as it will answer; every other entry is empty.
    Record instrument[256];

    QV_STATUS answerPart(uint32_t part) {
        std::vector<uint8_t> b(192, 0);
        for (uint32_t k = 0; k < 8; ++k) {
            const Record& r = instrument[part * 8 + k];
            uint8_t* p = b.data() + 24 * k;
            putSingle(p, r.key);
            le::put16(p + 4, r.regValue);
            le::put16(p + 6, 0xEEEE);
            le::put32(p + 8, r.aux);
            putSingle(p + 12, r.factor);
        }
        GainRangeRequestComplete(dev, b.data(), uint32_t(b.size()), index(part));
        return QV_NO_ERROR;
    }
    void answerAll() {
        for (uint32_t part = 0; part < 32; ++part) answerPart(part).ignore();
    }
};

TEST_F(GainTablesTest, CalibrationOfAnInputTakesEffectWithItsFourthBlock) {
    buildSigIns(kFormulaMode);
    writeDouble(id(0, "RANGE"), 1.0);  // code 0x0A
    writeDouble(id(1, "RANGE"), 1.0);
    dev.takeOutput();
    const double calibrated = 1.0 / (SigInFormulaGain(0x0A) * 2.0);
    for (uint32_t block = 4; block < 7; ++block) {
        GainRequestComplete(dev, factors(2.0f).data(), 256, index(block));
        EXPECT_TRUE(dev.takeOutput().empty());
    }
    EXPECT_EQ(familyDataOf(state()).shared.gainTable1[0x0A], 2.0);
    // Reads use the factors at once; subscribers hear of the range with the fourth block.
    EXPECT_EQ(shownRange(1), calibrated);
    GainRequestComplete(dev, factors(2.0f).data(), 256, index(7));
    const std::vector<OutputRecord> out = dev.takeOutput();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(id(1, "RANGE")));
    EXPECT_EQ(out[0].asDouble(), calibrated);
    EXPECT_EQ(shownRange(1), calibrated);
    EXPECT_EQ(gain(1), SigInFormulaGain(0x0A) * 2.0);
    EXPECT_EQ(shownRange(0), 0.9492546358188422) << "input 0 is untouched";
    // A later block stores its factors without another recalibration.
    GainRequestComplete(dev, factors(4.0f).data(), 256, index(4));
    EXPECT_TRUE(dev.takeOutput().empty());
    EXPECT_EQ(familyDataOf(state()).shared.gainTable1[0x0A], 4.0);
}

// The group built again (a feature list processed once more): a new round of
// requests that counts from 0, and answers of the earlier round count for nothing.
class GainRoundsTest : public GainTablesTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(GainRoundsTest, ARebuildStartsANewRoundAndIgnoresLateAnswers) {
    const uint32_t hwRevision = GetParam();
    buildSigIns(hwRevision);
    const std::shared_ptr<void> earlyBlock = index(4);
    for (uint32_t block = 0; block < 3; ++block) GainRequestComplete(dev, factors(1.0f).data(), 256, index(block));
    for (uint32_t part = 0; part < 31; ++part) answerPart(part).ignore();

    state().cmd.queue.clear();
    state().cmd.queuedBytes = 0;
    {
        DispatcherTreeLocker lock(state().tree);
        DeviceStateNodeGroup* group = nullptr;
        EXPECT_EQ(DeviceStateGetNodeGroup<NodeDefs::LQ3::SigIns>(dev, &group, lock.getNode()), QV_NO_ERROR);
        ASSERT_EQ(DeviceStateNodeGroupClear(dev, *group), QV_NO_ERROR);
    }
    buildSigIns(hwRevision, 2, test::kSigInBlock + 0x1000);
    EXPECT_EQ(familyDataOf(state()).frontEnd.sigInGainCalBlocks[0], 0u);
    EXPECT_EQ(familyDataOf(state()).frontEnd.gainRangeAnswerCount, 0u);
    ASSERT_FALSE(state().cmd.queue.empty());
    EXPECT_NE(static_cast<const GainRequestTag*>(state().cmd.queue.front().user.get())->round,
              static_cast<const GainRequestTag*>(earlyBlock.get())->round);

    // A late answer and a late time-out of the earlier round.
    const std::size_t queued = state().cmd.queue.size();
    const std::vector<uint8_t> doubled = factors(2.0f);
    GainRequestComplete(dev, doubled.data(), 256, earlyBlock);
    GainRangeRequestComplete(dev, std::vector<uint8_t>(192, 0).data(), 192, earlyBlock);
    GainRequestTimeout(dev, earlyBlock);
    GainRangeRequestTimeout(dev, earlyBlock);
    EXPECT_EQ(familyDataOf(state()).frontEnd.sigInGainCalBlocks[1], 0u);
    EXPECT_EQ(familyDataOf(state()).frontEnd.gainRangeAnswerCount, 0u);
    EXPECT_EQ(familyDataOf(state()).shared.gainTable1[0x0A], 1.0) << "its factors are not taken";
    EXPECT_EQ(state().cmd.queue.size(), queued) << "nor asked for again";

    if (hwRevision == kFormulaMode) {
        // The new round's four blocks of input 1 calibrate it.
        writeDouble(id(1, "RANGE"), 1.0);
        for (uint32_t block = 4; block < 8; ++block) GainRequestComplete(dev, doubled.data(), 256, index(block));
        EXPECT_EQ(familyDataOf(state()).frontEnd.sigInGainCalBlocks[1], 4u);
        EXPECT_EQ(gain(1), SigInFormulaGain(0x0A) * 2.0);
    } else {
        instrument[0] = {0.5f, 1, 1, 1.0f};
        answerAll();
        EXPECT_EQ(familyDataOf(state()).frontEnd.gainRangeAnswerCount, 32u);
        ASSERT_EQ(table(0, 0).size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, GainRoundsTest, ::testing::Values(kFormulaMode, kTableMode));

TEST_F(GainTablesTest, FactorsOfOneChangeNoRange) {
    buildSigIns(kFormulaMode);
    writeDouble(id(0, "RANGE"), 0.1);
    dev.takeOutput();
    for (uint32_t block = 0; block < 4; ++block) GainRequestComplete(dev, factors(1.0f).data(), 256, index(block));
    EXPECT_TRUE(dev.takeOutput().empty());
    EXPECT_EQ(familyDataOf(state()).frontEnd.sigInGainCalBlocks[0], 4u);
}

TEST_F(GainTablesTest, ReplyOfTheWrongLengthEndsTheDevice) {
    buildSigIns(kFormulaMode);
    test::LogCapture log;
    const uint8_t four[4] = {0x39, 0x30, 0, 0};
    try {
        GainRequestComplete(dev, four, 4, index(5));
        FAIL() << "no exception";
    } catch (const QVDeviceException& e) {
        EXPECT_STREQ(e.what(), "Illegal length of calibration data packet.");
        ASSERT_TRUE(boost::get_error_info<boost::throw_line>(e));
        EXPECT_EQ(*boost::get_error_info<boost::throw_line>(e), 810);
        EXPECT_STREQ(*boost::get_error_info<boost::throw_file>(e), "LQ3SigIn");
    }
    EXPECT_TRUE(log.contains("Illegal length of calibration data packet detected! Length = 4, Data 12345."));

    const std::vector<uint8_t> short100(100, 0);
    try {
        GainRangeRequestComplete(dev, short100.data(), 100, index(3));
        FAIL() << "no exception";
    } catch (const QVDeviceException& e) {
        EXPECT_EQ(*boost::get_error_info<boost::throw_line>(e), 944);
    }
    EXPECT_TRUE(log.contains("Illegal length of calibration data packet detected! Length = 100."));
}

TEST_F(GainTablesTest, TimeoutsAskAgainAtTheBackOfTheQueue) {
    buildSigIns(kFormulaMode);
    test::LogCapture log;
    const std::size_t before = state().cmd.queue.size();
    GainRequestTimeout(dev, index(5));
    EXPECT_TRUE(log.contains("GainRequestTimeout, Index=5"));
    ASSERT_EQ(state().cmd.queue.size(), before + 1);
    EXPECT_EQ(state().cmd.queue.back().code, 13u);
    EXPECT_EQ(state().cmd.queue.back().argument, 5u);
    GainRangeRequestTimeout(dev, index(17));
    EXPECT_EQ(state().cmd.queue.back().code, 16u);
    EXPECT_EQ(state().cmd.queue.back().argument, 17u);
    // Without user data there is nothing to ask for.
    GainRequestTimeout(dev, nullptr);
    GainRangeRequestTimeout(dev, nullptr);
    EXPECT_EQ(state().cmd.queue.size(), before + 2);
}

TEST_F(GainTablesTest, TheThirtySecondPartPutsTheSortedTablesIntoService) {
    buildSigIns(kTableMode);
    // Input 0, AC on: three entries, given out of key order.
    instrument[0] = {0.5f, 0x50, 0xA50, 1.0f};
    instrument[1] = {0.05f, 0x05, 0xA05, 1.0f};
    instrument[2] = {0.0f, 0x99, 0, 1.0f};  // empty: skipped
    instrument[3] = {1.0f, 0x10, 0xA10, 1.25f};
    // Input 1, AC on: two entries.
    instrument[128] = {0.2f, 0x20, 0xB20, 1.0f};
    instrument[129] = {2.0f, 0x21, 0xB21, 1.0f};
    writeDouble(id(0, "RANGE"), 0.7);   // position 16 of the built-in table
    writeDouble(id(1, "RANGE"), 0.02);  // position 2
    send();
    dev.takeOutput();

    for (uint32_t part = 0; part < 31; ++part) answerPart(part).ignore();
    EXPECT_EQ(table(0, 0).size(), 30u) << "the built-in table serves until the last part";
    test::LogCapture log;
    dev.clearEvents();
    EXPECT_EQ(answerPart(31), QV_NO_ERROR);
    EXPECT_TRUE(log.contains("GainRangeRequest ALL LOADED!!!"));

    ASSERT_EQ(table(0, 0).size(), 3u);
    EXPECT_EQ(table(0, 0)[0].range, double(0.05f));
    EXPECT_EQ(table(0, 0)[2].word16, 0x10);
    EXPECT_EQ(table(0, 0)[2].factor, 1.25);
    EXPECT_TRUE(table(0, 1).empty());
    ASSERT_EQ(table(1, 0).size(), 2u);

    // Input 0's position 16 is beyond the new table: its last entry.
    EXPECT_EQ(storedU32(id(0, "RANGE")), 2u << 16 | 0x10);
    // Input 1's position 2 is beyond too: its last entry, 2.0 V.
    EXPECT_EQ(storedU32(id(1, "RANGE")), (0x80u | 1) << 16 | 0x21);
    const std::vector<OutputRecord> out = dev.takeOutput();
    ASSERT_EQ(on(out, id(0, "RANGE")).size(), 1u);
    EXPECT_EQ(on(out, id(0, "RANGE"))[0].asDouble(), 1.0 / (1.25 / 1.0));
    EXPECT_EQ(on(out, id(1, "RANGE"))[0].asDouble(), 2.0);
    EXPECT_EQ(gain(0), 1.25);
    // Both words are written, each with its auxiliary word at once.
    EXPECT_EQ(writesAt(dev.events(), address(0, sigin::kRangeAuxOffset))[0].word(), 0xA10u);
    EXPECT_EQ(writesAt(dev.events(), address(1, sigin::kRangeAuxOffset))[0].word(), 0xB21u);
    const std::vector<test::DeviceEvent> writes = send();
    EXPECT_EQ(writesAt(writes, address(0, 0)).size(), 1u);
    EXPECT_EQ(writesAt(writes, address(1, 0)).size(), 1u);
}

TEST_F(GainTablesTest, AWordWhosePositionExistsKeepsItAndTakesTheNewEntry) {
    buildSigIns(kTableMode);
    for (uint32_t i = 0; i < 30; ++i) instrument[i] = {float(i + 1) * 0.05f, uint16_t(0x300 + i), 0xC00 + i, 1.0f};
    writeDouble(id(0, "RANGE"), 0.02);  // position 2
    answerAll();
    EXPECT_EQ(storedU32(id(0, "RANGE")), 2u << 16 | 0x302);
    EXPECT_EQ(shownRange(0), 1.0 / (1.0 / table(0, 0)[2].range));
    EXPECT_EQ(table(0, 0)[2].range, double(3.0f * 0.05f));
}

TEST_F(GainTablesTest, EmptyAndUnusableRecordsStillCountTowardsTheWhole) {
    buildSigIns(kTableMode);
    instrument[5] = {std::numeric_limits<float>::quiet_NaN(), 1, 1, 1.0f};
    instrument[6] = {std::numeric_limits<float>::infinity(), 1, 1, 1.0f};
    instrument[7] = {0.3f, 7, 7, 1.0f};
    answerAll();
    ASSERT_EQ(table(0, 0).size(), 1u);
    EXPECT_EQ(table(0, 0)[0].range, double(0.3f));
    EXPECT_EQ(familyDataOf(state()).frontEnd.gainRangeAnswerCount, 32u);
    // A part the table does not have is ignored.
    std::vector<uint8_t> b(192, 0);
    putSingle(b.data(), 0.4f);
    GainRangeRequestComplete(dev, b.data(), 192, index(40));
    EXPECT_EQ(familyDataOf(state()).frontEnd.gainRangeAnswerCount, 32u);
    // An input whose table came empty shows no range.
    writeDouble(id(1, "RANGE"), 1.0);
    EXPECT_EQ(shownRange(1), std::numeric_limits<double>::infinity());
    EXPECT_EQ(gain(1), 0.0);
}

}  // namespace
}  // namespace tarnix
