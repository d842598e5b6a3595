// The phase-locked loops: their nodes by feature version, the blocks of
// demodulators 6 and 7, their value handlers and the coupled loop gains.
#include "core/ClientNumbers.h"
#include "ControlFixture.h"

#include "groups/PLLs.h"
#include "groups/PLLsLoopGain.h"
#include "groups/data/GroupFamilyData.h"

#include <cmath>
#include <limits>

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;
using test::OutputRecord;

constexpr uint32_t kDemods = 0x04000000;
constexpr uint32_t kDemodStride = 0x40;
constexpr uint32_t kLoops = 0x04001000;
constexpr uint32_t kLoopStride = 0x80;
constexpr uint32_t kDemods67 = kDemods + 6 * kDemodStride;

const std::vector<std::string> kFullLeaves = {
    "ADCSELECT", "FREQCENTER",    "FREQRANGE",     "ENABLE",    "ERROR",        "AUTOCENTER",
    "AUTOTIMECONSTANT", "TIMECONSTANT", "AUTOPID", "PGAIN", "ITIMECONSTANT", "DTIMECONSTANT",
    "FREQDELTA", "ADCTHRESHOLD", "AUXAVG", "SETPOINT"};
const std::vector<std::string> kVersion1Leaves = {"ADCSELECT", "FREQCENTER", "ENABLE", "ERROR", "ADCTHRESHOLD"};

std::vector<std::string> plus(std::vector<std::string> v, const std::vector<std::string>& more) {
    v.insert(v.end(), more.begin(), more.end());
    return v;
}

uint32_t mword(int32_t m, uint32_t flag = 0) { return (uint32_t(m) & 0x3FFFF) | flag; }

class PllsTest : public test::ControlFixture {
protected:
    void SetUp() override {
        ControlFixture::SetUp();
        familyDataOf(state()).shared.signalInputCount = 2;
        familyDataOf(state()).shared.auxInputCount = 1;
        familyDataOf(state()).shared.dioCount = 1;
    }
    void addDemods(uint32_t count) {
        Feature* demods = insert(kDemods, count, kDemodStride, "DEMODS  ");
        auto& signal = familyDataOf(state()).signalPath;
        signal.demodBlockRow = DeviceStateRowOf(dev, demods);
        signal.demodBlockStride = kDemodStride;
        signal.demodBlockAttribute = 0x5A;
    }
    QV_STATUS buildPlls(uint32_t loops, uint16_t version, uint32_t demods = 6) {
        if (demods) addDemods(demods);
        loopBlock = insert(kLoops, loops, kLoopStride, "PLLS    ");
        return build<LQ3::PLLs>(PLLsFeatureInit, version, {loopBlock});
    }
    // Rows of the register map that hold the blocks of demodulators 6 and 7.
    std::vector<int> demods67Rows() {
        std::vector<int> rows;
        for (int row = 0; row < map().count; ++row) {
            const Feature& f = map().items[std::size_t(row)];
            if (f.inUse && std::string(f.name, 8) == "DEMODS67") rows.push_back(row);
        }
        return rows;
    }
    static uint32_t loopAddress(int n, uint32_t offset) { return kLoops + uint32_t(n) * kLoopStride + offset; }
    // Register words the next send pass writes, by address.
    std::map<uint32_t, std::vector<uint8_t>> writesOfPass() {
        std::map<uint32_t, std::vector<uint8_t>> out;
        for (const auto& e : sendPass())
            if (e.kind == test::DeviceEvent::Write) out[e.address] = e.payload;
        return out;
    }
    Feature* loopBlock = nullptr;
};

TEST_F(PllsTest, FullLeafSetWithTheHarmonicsOfDemodulatorsSixAndSeven) {
    ASSERT_EQ(buildPlls(3, 2), QV_NO_ERROR);
    EXPECT_EQ(childNames(""), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(childNames("0"), plus(kFullLeaves, {"HARMONIC", "ORDER"}));
    EXPECT_EQ(childNames("1"), plus(kFullLeaves, {"HARMONIC", "ORDER"}));
    EXPECT_EQ(childNames("2"), kFullLeaves);
    EXPECT_EQ(familyDataOf(state()).shared.pllCount, 3u);
    EXPECT_EQ(familyDataOf(state()).controlLoop.pllFeatureVersion, 2);

    const std::vector<int> rows = demods67Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(familyDataOf(state()).controlLoop.demods67Row, rows[0]);
    const Feature& d67 = map().items[std::size_t(rows[0])];
    EXPECT_EQ(d67.address, kDemods67);
    EXPECT_EQ(d67.count, 2u);
    EXPECT_EQ(d67.stride, kDemodStride);
    EXPECT_EQ(d67.attribute, 0x5Au);

    // Start values, until the instrument's registers arrive.
    EXPECT_EQ(word("0/TIMECONSTANT"), 0x247u);
    EXPECT_EQ(word("0/AUTOPID"), 1u);
    EXPECT_EQ(readInteger("0/AUTOTIMECONSTANT"), 0);
    EXPECT_EQ(word("1/HARMONIC"), 0x80u);
    EXPECT_EQ(readInteger("1/ORDER"), 1);
    EXPECT_EQ(word("0/ADCSELECT"), 0u);

    // Every leaf is requested at its register; nothing is written.
    std::map<uint32_t, uint32_t> requested;
    for (const auto& e : sendPass()) {
        const bool ours = (e.address >= kDemods67 && e.address < kDemods67 + 2 * kDemodStride) ||
                          (e.address >= kLoops && e.address < kLoops + 3 * kLoopStride);
        if (e.kind == test::DeviceEvent::Request && ours) requested[e.address] = e.length;
    }
    EXPECT_TRUE(dev.writes().empty());
    EXPECT_EQ(requested.at(loopAddress(2, 0x38)), 8u);
    EXPECT_EQ(requested.at(loopAddress(1, 0x48)), 4u);
    EXPECT_EQ(requested.at(kDemods67 + kDemodStride + 0x14), 4u);  // PLLS/1/HARMONIC
    EXPECT_EQ(requested.at(kDemods67 + 0x04), 4u);                  // PLLS/0/ORDER
    EXPECT_EQ(requested.size(), 3u * 16 + 2 * 2);

    // The harmonic of demodulator 7 reaches PLLS/1/HARMONIC.
    const std::vector<OutputRecord> pushes = deliver(kDemods67 + kDemodStride + 0x14, wordBytes(0x100));
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(pushes[0].header.endpointId, uint32_t(id("1/HARMONIC")));
    EXPECT_EQ(pushes[0].asInteger(), 2);
}

TEST_F(PllsTest, NodeDefinitions) {
    ASSERT_EQ(buildPlls(2, 3), QV_NO_ERROR);
    EXPECT_EQ(groupNode->nodeTypeId(), 84);
    EXPECT_EQ(groupNode->siblingOrder(), 10);
    EXPECT_EQ(node("1")->nodeTypeId(), 85);
    EXPECT_EQ(node("1")->siblingOrder(), 1);
    const std::vector<std::string> leaves = plus(kFullLeaves, {"HARMONIC", "ORDER"});
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        SCOPED_TRACE(leaves[i]);
        EXPECT_EQ(node("1/" + leaves[i])->nodeTypeId(), int32_t(86 + i));
        EXPECT_EQ(node("1/" + leaves[i])->siblingOrder(), int64_t(i + 1));
    }
    const auto props = [this](const std::string& path) { return node(path)->properties(); };
    EXPECT_EQ(props("0/ERROR").at("stream").get<std::string>(), "double");
    EXPECT_EQ(props("0/ERROR").count("write"), 0u);
    EXPECT_EQ(props("0/FREQDELTA").count("stream"), 0u);
    EXPECT_EQ(props("0/FREQDELTA").count("setting"), 0u);
    EXPECT_EQ(props("0/SETPOINT").at("from").get<int64_t>(), -180);
    EXPECT_EQ(props("0/ERROR").at("from").get<double>(), -180.0);
    EXPECT_EQ(props("0/ENABLE").at("default").get<int64_t>(), 0);
    EXPECT_EQ(props("0/PGAIN").at("from").get<double>(), -72904.8);
    EXPECT_EQ(props("0/ITIMECONSTANT").at("unit").get<std::string>(), "Hz^2/deg");
    EXPECT_EQ(props("0/HARMONIC").at("to").get<int64_t>(), 1023);
    EXPECT_EQ(props("0/HARMONIC").at("detailed").get<std::string>(), "Selecting 1 chooses the fundamental frequency.");
    EXPECT_EQ(props("0/ORDER").at("values").get<NodeValueList>().entries[0].value, NodeValueListEntry::Value(int64_t(1)));
    // Precision of the endpoints.
    const std::pair<const char*, int> precisions[] = {{"0/FREQCENTER", 5}, {"0/ERROR", 3}, {"0/TIMECONSTANT", 6},
                                                      {"0/PGAIN", 2},      {"0/DTIMECONSTANT", 5}, {"0/ENABLE", 0}};
    for (const auto& p : precisions) EXPECT_EQ(node(p.first)->endpoint()->precision, p.second) << p.first;
    // Shared lists per definition; the two-entry lists are distinct.
    const auto list = [&](const std::string& path) { return props(path).at("values").get<NodeValueList>(); };
    EXPECT_EQ(list("0/ENABLE"), list("1/ENABLE"));
    EXPECT_FALSE(list("0/ENABLE") == list("0/AUTOCENTER"));
    EXPECT_EQ(list("0/ADCSELECT").count, 6u);
    EXPECT_EQ(list("0/AUTOTIMECONSTANT").entries[1].description, "External time constant on");
}

TEST_F(PllsTest, VersionOneHasTheBasicLeavesAndAFixedCentre) {
    ASSERT_EQ(buildPlls(2, 1), QV_NO_ERROR);
    EXPECT_EQ(childNames("0"), plus(kVersion1Leaves, {"HARMONIC", "ORDER"}));
    settle();
    deliver(loopAddress(0, 4), word64Bytes(134035703));
    const OutputRecord reply = writeDouble("0/FREQCENTER", 5000.0);
    EXPECT_EQ(reply.header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_NEAR(reply.asDouble(), 100.0, 1e-6);
    EXPECT_TRUE(sendPass().empty());
}

TEST_F(PllsTest, NoHarmonicsWithoutRoomForDemodulatorsSixAndSeven) {
    ASSERT_EQ(buildPlls(2, 2, 8), QV_NO_ERROR);
    EXPECT_EQ(childNames("0"), kFullLeaves);
    EXPECT_TRUE(demods67Rows().empty());
    EXPECT_EQ(familyDataOf(state()).controlLoop.demods67Row, -1);
}

TEST_F(PllsTest, NoDemodulatorGroup) {
    ASSERT_EQ(buildPlls(1, 2, 0), QV_NO_ERROR);
    EXPECT_EQ(childNames("0"), kFullLeaves);
}

TEST_F(PllsTest, RecordCountOtherThanOne) {
    addDemods(6);
    EXPECT_EQ(build<LQ3::PLLs>(PLLsFeatureInit, 2, {insert(kLoops, 2, kLoopStride), insert(0x04002000, 1, 4)}),
              QV_BUFFER_TOO_SMALL);
    EXPECT_TRUE(childNames("").empty());
    EXPECT_TRUE(demods67Rows().empty());
}

TEST_F(PllsTest, RebuildingReplacesTheBlocksOfDemodulatorsSixAndSeven) {
    ASSERT_EQ(buildPlls(2, 2), QV_NO_ERROR);
    for (int run = 0; run < 2; ++run) {
        {
            DispatcherTreeLocker lock(state().tree);
            ASSERT_EQ(DeviceStateNodeGroupClear(dev, *nodeGroup), QV_NO_ERROR);
        }
        // Another block takes the freed row before the loops are built again;
        // it must survive the rebuild.
        Feature* other = insert(0x05000000 + uint32_t(run) * 0x1000, 1, 4, "OTHER   ");
        ASSERT_EQ(build<LQ3::PLLs>(PLLsFeatureInit, 2, {loopBlock}), QV_NO_ERROR);
        EXPECT_TRUE(other->inUse);
        EXPECT_EQ(demods67Rows().size(), 1u);
        EXPECT_EQ(childNames("0"), plus(kFullLeaves, {"HARMONIC", "ORDER"}));
        loopBlock = insert(kLoops + 0x10000 * uint32_t(run + 1), 2, kLoopStride, "PLLS    ");
    }
}

TEST_F(PllsTest, InputSelection) {
    ASSERT_EQ(buildPlls(1, 2), QV_NO_ERROR);
    settle();
    EXPECT_EQ(writeInteger("0/ADCSELECT", 9).asInteger(), 5);
    EXPECT_EQ(word("0/ADCSELECT"), 5u);
    EXPECT_EQ(writeInteger("0/ADCSELECT", -1).asInteger(), 0);
    const std::vector<OutputRecord> pushes = deliver(loopAddress(0, 0), wordBytes(7));
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(pushes[0].asInteger(), 5);
    EXPECT_EQ(readInteger("0/ADCSELECT"), 5);
}

TEST_F(PllsTest, InputSelectionWithoutInputs) {
    familyDataOf(state()).shared.signalInputCount = 0;
    familyDataOf(state()).shared.auxInputCount = 0;
    familyDataOf(state()).shared.dioCount = 0;
    ASSERT_EQ(buildPlls(1, 2), QV_NO_ERROR);
    EXPECT_EQ(word("0/ADCSELECT"), 0xFFFFFFFFu);
    settle();
    EXPECT_EQ(writeInteger("0/ADCSELECT", 3).asInteger(), 4294967295);
    EXPECT_EQ(word("0/ADCSELECT"), 0xFFFFFFFFu);
}

TEST_F(PllsTest, WritesStoreRegisterWordsAndReplyTheirValues) {
    ASSERT_EQ(buildPlls(2, 2), QV_NO_ERROR);
    settle();
    struct Case {
        const char* leaf;
        bool isDouble;
        double value;
        uint32_t offset;  // in the loop's block; 0xFFFF for HARMONIC
        uint64_t stored;
        double reply;
    };
    const Case cases[] = {
        {"0/FREQCENTER", true, 2e8, 0x04, 134035703195550ull, 99999999.99999964},
        {"0/FREQCENTER", true, -5.0, 0x04, 0, 0.0},
        {"0/FREQRANGE", true, 1e8, 0x0c, 67017851597775ull, 99999999.99999964},
        {"0/ADCTHRESHOLD", false, 5000, 0x40, 0xfff, 4095},
        {"0/ADCTHRESHOLD", false, -5000, 0x40, 0x1000, -4096},
        {"0/AUXAVG", false, 100, 0x44, 6, 64},
        {"0/AUXAVG", false, 0, 0x44, 0, 1},
        {"0/SETPOINT", true, 200.0, 0x48, 65535, 180.0},
        {"0/SETPOINT", true, -90.0, 0x48, uint32_t(-32767), -32767 * 180.0 * 1.5259021896696422e-05},
        {"0/TIMECONSTANT", true, 1.0, 0x28, 0x247, 0.999808337049718},
        {"0/AUTOPID", false, 1, 0x20, 0, 1},
        {"0/ENABLE", false, 3, 0x14, 1, 1},
        {"1/HARMONIC", false, 5, 0xFFFF, 0x100, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.leaf) + " " + std::to_string(c.value));
        const OutputRecord reply = c.isDouble ? writeDouble(c.leaf, c.value) : writeInteger(c.leaf, int64_t(c.value));
        if (c.isDouble)
            EXPECT_EQ(reply.asDouble(), c.reply);
        else
            EXPECT_EQ(reply.asInteger(), int64_t(c.reply));
        const auto writes = writesOfPass();
        const uint32_t address = c.offset == 0xFFFF ? kDemods67 + kDemodStride + 0x14 : loopAddress(0, c.offset);
        ASSERT_EQ(writes.count(address), 1u);
        const std::vector<uint8_t>& payload = writes.at(address);
        EXPECT_EQ(payload.size() == 8 ? le::get64(payload.data()) : le::get32(payload.data()), c.stored);
        EXPECT_EQ(writes.size(), 1u);  // no update strobe for the loops
    }
    EXPECT_EQ(handle(test::setDouble(id("0/ERROR"), 1.0)), QV_VALUE_NOT_FOUND);
    EXPECT_EQ(handle(test::setDouble(id("0/FREQDELTA"), 1.0)), QV_VALUE_NOT_FOUND);
}

// A value that is not a number names no setting: it is refused, the stored
// word stays and nothing is written. Infinities are limited like any large
// value.
TEST_F(PllsTest, ANaNKeepsTheSetting) {
    ASSERT_EQ(buildPlls(1, 3), QV_NO_ERROR);
    settle();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* leaf;
        double before;
        double infinite;
        double limited;
    };
    const Case cases[] = {
        {"0/FREQCENTER", 1000.0, inf, 99999999.99999964},
        {"0/FREQRANGE", 1000.0, -inf, 0.0},
        {"0/SETPOINT", 90.0, inf, 180.0},
        {"0/TIMECONSTANT", 1.0, inf, 582.8884184714285},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.leaf);
        const double inForce = writeDouble(c.leaf, c.before).asDouble();
        EXPECT_NEAR(inForce, c.before, 0.01);
        writesOfPass();
        const std::vector<uint8_t> stored = ep(c.leaf)->value;
        EXPECT_EQ(handle(test::setDouble(id(c.leaf), nan)), kRefusedValueStatus);
        EXPECT_TRUE(dev.takeOutput().empty());
        EXPECT_EQ(ep(c.leaf)->value, stored);
        EXPECT_TRUE(writesOfPass().empty());
        EXPECT_EQ(writeDouble(c.leaf, c.infinite).asDouble(), c.limited);
    }
}

TEST_F(PllsTest, ErrorIsPushedOnEveryReport) {
    ASSERT_EQ(buildPlls(1, 2), QV_NO_ERROR);
    settle();
    for (int i = 0; i < 2; ++i) {
        const std::vector<OutputRecord> pushes = deliver(loopAddress(0, 0x18), wordBytes(0xFFF20000));
        ASSERT_EQ(pushes.size(), 1u);
        EXPECT_EQ(pushes[0].asDouble(), -360.0);
    }
    EXPECT_EQ(word("0/ERROR"), 0x20000u);
    EXPECT_EQ(readDouble("0/ERROR"), -360.0);
    // FREQDELTA compares all eight bytes.
    EXPECT_EQ(deliver(loopAddress(0, 0x38), word64Bytes(0xFFFFFFFFFFFFFFFFull)).size(), 1u);
    EXPECT_TRUE(deliver(loopAddress(0, 0x38), word64Bytes(0xFFFFFFFFFFFFFFFFull)).empty());
    EXPECT_EQ(readDouble("0/FREQDELTA"), -210000000.0 * 3.552713678800501e-15);
}

class LoopGainTest : public PllsTest {
protected:
    void SetUp() override {
        PllsTest::SetUp();
        ASSERT_EQ(buildPlls(1, 2), QV_NO_ERROR);
        settle();
        // The instrument answers the read requests of the three gain words.
        for (uint32_t offset : {0x2c, 0x30, 0x34}) deliver(loopAddress(0, offset), wordBytes(0));
    }
    void setGains(uint32_t p, uint32_t i, uint32_t d) {
        setWord("0/PGAIN", p);
        setWord("0/ITIMECONSTANT", i);
        setWord("0/DTIMECONSTANT", d);
    }
    uint32_t pgain() { return word("0/PGAIN"); }
    uint32_t itc() { return word("0/ITIMECONSTANT"); }
    uint32_t dtc() { return word("0/DTIMECONSTANT"); }
    // The addresses of the loop-gain registers that the next pass writes.
    std::vector<uint32_t> gainWrites() {
        std::vector<uint32_t> offsets;
        for (const auto& w : writesOfPass()) offsets.push_back(w.first - kLoops);
        return offsets;
    }
};

TEST_F(LoopGainTest, AGainWritePreservesIntegralAndDerivative) {
    setGains(mword(230), mword(512), mword(3398));
    const std::vector<OutputRecord> out = request(test::setDouble(id("0/PGAIN"), 2.0));
    EXPECT_EQ(pgain(), mword(460));
    EXPECT_EQ(itc(), mword(1024));
    EXPECT_EQ(dtc(), mword(6796));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(id("0/ITIMECONSTANT")));
    EXPECT_EQ(out[0].header.sessionTag, kUnsolicitedSessionTag);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_CHANGED);
    EXPECT_EQ(out[0].asDouble(), 0.0009994568169473111);
    EXPECT_EQ(out[1].header.endpointId, uint32_t(id("0/DTIMECONSTANT")));
    EXPECT_EQ(out[1].asDouble(), 9.999549232736575e-07);
    EXPECT_EQ(out[2].header.endpointId, uint32_t(id("0/PGAIN")));
    EXPECT_EQ(out[2].header.sequenceTag, 7);
    EXPECT_EQ(out[2].asDouble(), 1.9989136338946223);
    EXPECT_EQ(out[2].header.flags, VALUE_FLAG_CHANGED);
    EXPECT_EQ(gainWrites(), (std::vector<uint32_t>{0x2c, 0x30, 0x34}));
}

TEST_F(LoopGainTest, AReceivedGainPreservesIntegralAndDerivative) {
    setGains(mword(230), mword(512), mword(3398));
    const std::vector<OutputRecord> out = deliver(loopAddress(0, 0x2c), wordBytes(mword(460)));
    EXPECT_EQ(itc(), mword(1024));
    EXPECT_EQ(dtc(), mword(6796));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(id("0/PGAIN")));
    EXPECT_EQ(out[0].asDouble(), 1.9989136338946223);
    EXPECT_EQ(out[1].header.endpointId, uint32_t(id("0/ITIMECONSTANT")));
    EXPECT_EQ(out[2].header.endpointId, uint32_t(id("0/DTIMECONSTANT")));
    EXPECT_EQ(gainWrites(), (std::vector<uint32_t>{0x30, 0x34}));
    // The same word again: nothing.
    EXPECT_TRUE(deliver(loopAddress(0, 0x2c), wordBytes(mword(460))).empty());
}

TEST_F(LoopGainTest, RewritingThePresentGain) {
    setGains(mword(230), mword(512), mword(3398));
    std::vector<OutputRecord> out = request(test::setDouble(id("0/PGAIN"), 1.0));
    ASSERT_EQ(out.size(), 3u);
    for (const auto& r : out) EXPECT_EQ(r.header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(out[0].header.sessionTag, kUnsolicitedSessionTag);  // reaches no client
    EXPECT_EQ(gainWrites(), (std::vector<uint32_t>{0x2c, 0x30, 0x34}));

    // Words in other forms come out in the conversions' form.
    struct Case {
        uint32_t itcWord;
        uint32_t dtcWord;
        uint32_t itcAfter;
        uint32_t dtcAfter;
    };
    const Case cases[] = {{mword(512), mword(255), mword(512), mword(65280, 0x40000)},
                          {mword(-300, 0x80000), mword(3398), mword(-19200), mword(3398)},
                          {mword(512), mword(-254, 0x40000), mword(512), mword(-253, 0x40000)}};
    for (const Case& c : cases) {
        setGains(mword(230), c.itcWord, c.dtcWord);
        out = request(test::setDouble(id("0/PGAIN"), 1.0));
        EXPECT_EQ(itc(), c.itcAfter);
        EXPECT_EQ(dtc(), c.dtcAfter);
        EXPECT_EQ(test::pushesOf(out).size(), std::size_t(c.itcWord != c.itcAfter) + (c.dtcWord != c.dtcAfter));
    }
}

TEST_F(LoopGainTest, GainZeroAndBack) {
    setGains(mword(230), mword(512), mword(3398));
    const std::vector<OutputRecord> out = request(test::setDouble(id("0/PGAIN"), 0.0));
    EXPECT_EQ(itc(), mword(0, 0x40000));
    EXPECT_EQ(dtc(), mword(0, 0x40000));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].asDouble(), 0.0);
    // Without a gain there is no derivative action: its time constant reads 0,
    // never NaN.
    EXPECT_EQ(out[1].asDouble(), 0.0);
    EXPECT_EQ(readDouble("0/DTIMECONSTANT"), 0.0);

    // Away from a gain of 0 the held values are 0 and infinity.
    sendPass();
    setGains(0, 0, 0);
    deliver(loopAddress(0, 0x2c), wordBytes(mword(230)));
    EXPECT_EQ(itc(), mword(131071, 0x80000));
    EXPECT_EQ(dtc(), 0u);
    EXPECT_EQ(gainWrites(), (std::vector<uint32_t>{0x30, 0x34}));
}

// At start-up the instrument's gain may arrive a pass before its integral and
// derivative words: the start words are not written over the instrument's own.
class LoopGainStartUpTest : public PllsTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(LoopGainStartUpTest, TheGainLeavesWordsStillAwaitedAlone) {
    ASSERT_EQ(buildPlls(1, GetParam()), QV_NO_ERROR);
    sendPass();  // the read requests go out
    dev.takeOutput();
    const std::vector<OutputRecord> out = deliver(loopAddress(0, 0x2c), wordBytes(mword(230)));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(id("0/PGAIN")));
    EXPECT_EQ(word("0/ITIMECONSTANT"), 0u);
    EXPECT_EQ(word("0/DTIMECONSTANT"), 0u);
    EXPECT_TRUE(writesOfPass().empty()) << "nothing written before the instrument's own words arrived";

    deliver(loopAddress(0, 0x30), wordBytes(mword(512)));
    deliver(loopAddress(0, 0x34), wordBytes(mword(3398)));
    EXPECT_TRUE(writesOfPass().empty());
    EXPECT_EQ(readDouble("0/ITIMECONSTANT"), 0.0009994568169473111);
    EXPECT_EQ(readDouble("0/DTIMECONSTANT"), 9.999549232736575e-07);
    // Once they are in, a gain change preserves them as before.
    deliver(loopAddress(0, 0x2c), wordBytes(mword(460)));
    EXPECT_EQ(word("0/ITIMECONSTANT"), mword(1024));
    EXPECT_EQ(word("0/DTIMECONSTANT"), mword(6796));
}

INSTANTIATE_TEST_SUITE_P(Versions, LoopGainStartUpTest, ::testing::Values(uint16_t(2), uint16_t(3)));

TEST_F(LoopGainTest, IntegralAndDerivativeWrites) {
    setGains(mword(230), mword(512), mword(3398));
    OutputRecord reply = writeDouble("0/ITIMECONSTANT", 1.0);
    EXPECT_EQ(itc(), mword(33536, 0x40000));
    EXPECT_EQ(reply.asDouble(), 1.0000061367245647);
    reply = writeDouble("0/DTIMECONSTANT", 1e-8);
    EXPECT_EQ(dtc(), mword(8699, 0x40000));
    EXPECT_EQ(reply.asDouble(), 9.999687175311702e-09);
    EXPECT_EQ(writeDouble("0/DTIMECONSTANT", 1e-8).header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(gainWrites(), (std::vector<uint32_t>{0x30, 0x34}));
    // Integer writes arrive as doubles too.
    EXPECT_EQ(writeInteger("0/PGAIN", 4).asDouble(), 4.002172732210755);
}

TEST_F(LoopGainTest, AFullOutputFifoKeepsTheStoredGain) {
    setGains(mword(230), mword(512), mword(3398));
    dev.fillOutput();
    EXPECT_EQ(handle(test::setDouble(id("0/PGAIN"), 2.0)), QV_OVERFLOW);
    EXPECT_EQ(pgain(), mword(460));
    dev.takeOutput();
}

TEST_F(PllsTest, LinkChangesNothing) {
    ASSERT_EQ(buildPlls(1, 2), QV_NO_ERROR);
    settle();
    EXPECT_EQ(PLLsFeatureLink(dev, groupNode, {133, 169, 160}, 3), QV_NO_ERROR);
    EXPECT_TRUE(sendPass().empty());
    EXPECT_TRUE(dev.takeOutput().empty());
}

}  // namespace
}  // namespace tarnix
