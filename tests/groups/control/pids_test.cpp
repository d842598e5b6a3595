// The PID controllers: their nodes, the control register and its views, the
// single-precision registers with the update strobe, the rate and TipProtect.
#include "core/ClientNumbers.h"
#include "ControlFixture.h"

#include "core/LogCapture.h"
#include "groups/PIDs.h"
#include "groups/data/GroupFamilyData.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;
using test::OutputRecord;

constexpr uint32_t kCommon = 0x03000000;
constexpr uint32_t kControllers = 0x03000100;
constexpr uint32_t kStride = 0x80;

const std::vector<std::string> kLeaves = {
    "INPUT", "INPUTCHANNEL", "OUTPUT", "OUTPUTCHANNEL", "OUTPUTDEFAULTENABLE", "OUTPUTDEFAULT", "MONITOROFFSET",
    "MONITORSCALE", "P", "I", "D", "SETPOINT", "SETPOINTSELECT", "ERROR", "CENTER", "RANGE", "SHIFT", "ENABLE",
    "RATE", "TIPPROTECT"};
const std::vector<std::string> kTipProtectLeaves = {"ENABLE", "PLL", "ACTIVE", "ACTIVETIMECONSTANT",
                                                    "ACTIVETHRESHOLD", "INACTIVETIMECONSTANT", "INACTIVETHRESHOLD"};

class PidsTest : public test::ControlFixture {
protected:
    QV_STATUS buildPids(uint32_t controllers) {
        return build<LQ3::PIDs>(PIDsFeatureInit, 1,
                                {insert(kCommon, 1, 0x10), insert(kControllers, controllers, kStride),
                                 insert(0x03001000, 1, 0x10)});
    }
    void SetUp() override {
        ControlFixture::SetUp();
        familyDataOf(state()).shared.demodulatorCount = 8;
        familyDataOf(state()).shared.auxInputCount = 2;
        familyDataOf(state()).shared.oscillatorCount = 2;
        familyDataOf(state()).shared.auxOutputCount = 4;
        familyDataOf(state()).shared.dioCount = 1;
        familyDataOf(state()).frontEnd.mixerChannelFirst = 6;
        familyDataOf(state()).frontEnd.mixerChannelLast = 7;
    }
    static uint32_t controlAddress(int n) { return kControllers + uint32_t(n) * kStride; }
    // The writes of a send pass, as (address, word).
    std::vector<std::pair<uint32_t, uint32_t>> writesOfPass() {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        for (const auto& e : sendPass())
            if (e.kind == test::DeviceEvent::Write) out.emplace_back(e.address, e.word());
        return out;
    }
    std::vector<OutputRecord> deliverControl(int n, uint32_t w) { return deliver(controlAddress(n), wordBytes(w)); }
};

TEST_F(PidsTest, BuildsControllersWithTheirLeaves) {
    ASSERT_EQ(buildPids(2), QV_NO_ERROR);
    EXPECT_EQ(childNames(""), (std::vector<std::string>{"0", "1"}));
    for (const char* n : {"0", "1"}) {
        EXPECT_EQ(childNames(n), kLeaves);
        EXPECT_EQ(childNames(std::string(n) + "/TIPPROTECT"), kTipProtectLeaves);
        EXPECT_EQ(node(n)->nodeTypeId(), 105);
        EXPECT_EQ(node(n)->siblingOrder(), 1);
        EXPECT_FALSE(node(n)->endpoint());
        EXPECT_FALSE(node(std::string(n) + "/TIPPROTECT")->endpoint());
    }
    EXPECT_EQ(familyDataOf(state()).shared.pidCount, 2u);
    EXPECT_EQ(state().pidStrobeEnable, 1u);
    EXPECT_EQ(state().pidStrobeAddress, kCommon);

    // Every register-backed leaf is requested once, nothing is written.
    sendPass();
    std::size_t requested = 0;
    for (const auto& e : dev.events()) {
        EXPECT_NE(e.kind, test::DeviceEvent::Write);
        if (e.kind == test::DeviceEvent::Request && e.address >= kCommon && e.address < kControllers + 2 * kStride) {
            EXPECT_EQ(e.length, 4u);
            ++requested;
        }
    }
    EXPECT_EQ(requested, 21u + 19u);
    EXPECT_EQ(readDouble("0/P"), 0.0);
    EXPECT_EQ(readDouble("1/RATE"), 0.0);
}

TEST_F(PidsTest, NodeDefinitions) {
    ASSERT_EQ(buildPids(2), QV_NO_ERROR);
    struct Expected {
        std::string path;
        int32_t typeId;
        int64_t order;
    };
    std::vector<Expected> expected;
    const int32_t leafIds[] = {106, 107, 108, 109, 110, 111, 117, 118, 112, 113,
                               114, 115, 116, 119, 120, 121, 122, 123, 124, 125};
    const int64_t leafOrders[] = {1, 2, 3, 4, 5, 6, 12, 13, 7, 8, 9, 10, 11, 14, 15, 16, 17, 18, 19, 20};
    for (std::size_t i = 0; i < kLeaves.size(); ++i) expected.push_back({"1/" + kLeaves[i], leafIds[i], leafOrders[i]});
    for (std::size_t i = 0; i < kTipProtectLeaves.size(); ++i)
        expected.push_back({"1/TIPPROTECT/" + kTipProtectLeaves[i], int32_t(126 + i), int64_t(i + 1)});
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.path);
        ASSERT_TRUE(node(e.path));
        EXPECT_EQ(node(e.path)->nodeTypeId(), e.typeId);
        EXPECT_EQ(node(e.path)->siblingOrder(), e.order);
    }
    EXPECT_EQ(groupNode->nodeTypeId(), 104);
    EXPECT_EQ(groupNode->siblingOrder(), 11);

    const auto props = [this](const std::string& path) { return node(path)->properties(); };
    // Like nodes differ in the kind of their "default".
    EXPECT_FALSE(props("0/OUTPUTDEFAULTENABLE").at("default").get<bool>());
    EXPECT_EQ(props("0/ENABLE").at("default").get<int64_t>(), 0);
    EXPECT_EQ(props("0/TIPPROTECT/ENABLE").at("default").get<int64_t>(), 0);
    EXPECT_EQ(props("0/TIPPROTECT/ACTIVETIMECONSTANT").at("default").get<int64_t>(), 0);
    EXPECT_EQ(props("0/TIPPROTECT/ACTIVETIMECONSTANT").at("read").get<std::string>(), "double");
    EXPECT_EQ(props("0/OUTPUTCHANNEL").at("default").get<int64_t>(), 6);
    EXPECT_EQ(props("0/D").at("default").get<double>(), 0.001);
    EXPECT_EQ(props("0/TIPPROTECT/INACTIVETHRESHOLD").at("to").get<double>(), 129600.0);
    for (const char* path : {"0/TIPPROTECT/ACTIVETHRESHOLD", "0/TIPPROTECT/INACTIVETHRESHOLD", "0/ERROR", "0/RATE"})
        EXPECT_EQ(props(path).count("default"), 0u) << path;
    // Read-only leaves.
    for (const char* path : {"0/ERROR", "0/SHIFT", "0/RATE", "0/TIPPROTECT/ACTIVE"}) {
        EXPECT_EQ(props(path).count("read"), 1u) << path;
        EXPECT_EQ(props(path).count("write"), 0u) << path;
        EXPECT_EQ(props(path).count("setting"), 0u) << path;
    }
    EXPECT_EQ(props("0/OUTPUTDEFAULT").at("detailed").get<std::string>(), "");
    EXPECT_EQ(props("0/TIPPROTECT/ACTIVETHRESHOLD").at("unit").get<std::string>(), "deg\xC2\xB2");
    EXPECT_EQ(props("0/OUTPUTCHANNEL").at("detailed").get<std::string>(),
              "Sets the input channel index for the selected OUTPUT, i.e., 0,1,2 etc.. The available channels "
              "depend on the output type");
    // "precision" reaches the endpoints.
    EXPECT_EQ(node("0/P")->endpoint()->precision, 4);
    EXPECT_EQ(node("0/TIPPROTECT/ACTIVETHRESHOLD")->endpoint()->precision, 5);
    EXPECT_EQ(node("0/INPUT")->endpoint()->precision, 0);

    // Value lists: one per definition, shared by every node made from it.
    const auto list = [&](const std::string& path) { return props(path).at("values").get<NodeValueList>(); };
    EXPECT_EQ(list("0/INPUT"), list("1/INPUT"));
    EXPECT_EQ(list("0/INPUT").count, 11u);
    EXPECT_EQ(list("0/OUTPUT").count, 5u);
    EXPECT_EQ(list("0/SETPOINTSELECT").entries[3].description, "PID n");
    EXPECT_EQ(list("0/INPUT").entries[7].description, "Dual Frequency Tracking |Z(n+)| - |Z(n)| [Vrms]");
    const NodeValueList offOn[] = {list("0/OUTPUTDEFAULTENABLE"), list("0/ENABLE"), list("0/TIPPROTECT/ENABLE")};
    EXPECT_FALSE(offOn[0] == offOn[1]);
    EXPECT_FALSE(offOn[1] == offOn[2]);
    for (const NodeValueList& l : offOn) {
        ASSERT_EQ(l.count, 2u);
        EXPECT_EQ(l.entries[1].description, "ON");
        EXPECT_EQ(l.entries[1].label, "");
    }
    // Describing a node again gives the same properties.
    const TreeNode::Ptr again = NewNode<LQ3::PIDs::Instance::TipProtect::ActiveThreshold>();
    EXPECT_EQ(again->properties().size(), props("1/TIPPROTECT/ACTIVETHRESHOLD").size());
}

TEST_F(PidsTest, RecordsThatBuildNothing) {
    const std::vector<Feature*> items = {insert(kCommon, 2, 0x10), insert(kControllers, 2, kStride),
                                         insert(0x03001000, 1, 0x10)};
    EXPECT_EQ(build<LQ3::PIDs>(PIDsFeatureInit, 1, {items[0], items[1]}), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(build<LQ3::PIDs>(PIDsFeatureInit, 1, items), QV_NO_ERROR);
    EXPECT_TRUE(childNames("").empty());
    EXPECT_EQ(state().pidStrobeEnable, 0u);
    EXPECT_EQ(familyDataOf(state()).shared.pidCount, 0u);
}

TEST_F(PidsTest, MoreThanFourControllersAreShownWithTheirRateAndTipProtect) {
    ASSERT_EQ(buildPids(6), QV_NO_ERROR);
    settle();
    EXPECT_EQ(childNames(""), (std::vector<std::string>{"0", "1", "2", "3", "4", "5"}));
    EXPECT_EQ(childNames("5"), kLeaves);
    EXPECT_EQ(familyDataOf(state()).shared.pidCount, 6u);
    // The rate reaches every controller, the status word each controller's bit.
    std::vector<OutputRecord> pushes = deliver(kCommon + 4, wordBytes(210000000));
    ASSERT_EQ(pushes.size(), 6u);
    EXPECT_EQ(pushes[5].header.endpointId, uint32_t(id("5/RATE")));
    EXPECT_EQ(readDouble("5/RATE"), 5000.0);
    pushes = deliver(kCommon + 8, wordBytes(0x20));
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(pushes[0].header.endpointId, uint32_t(id("5/TIPPROTECT/ACTIVE")));
    // Controller 5's own registers.
    EXPECT_EQ(writeInteger("5/INPUT", 2).asInteger(), 2);
    EXPECT_EQ(writesOfPass().front(), std::make_pair(controlAddress(5), 2u));
}

TEST_F(PidsTest, BeyondSixteenControllersOnlyTheFirstSixteenAreShown) {
    test::LogCapture log;
    ASSERT_EQ(buildPids(17), QV_NO_ERROR);
    EXPECT_EQ(childNames("").size(), 16u);
    EXPECT_EQ(familyDataOf(state()).shared.pidCount, 16u);
    EXPECT_TRUE(log.contains("The instrument lists 17 PID controllers; only the first 16 are shown."));
}

TEST_F(PidsTest, InputAndOutputAreLimited) {
    ASSERT_EQ(buildPids(1), QV_NO_ERROR);
    settle();
    struct Case {
        const char* leaf;
        int64_t written;
        int64_t stored;
    };
    for (const Case& c : {Case{"0/INPUT", 12, 10}, Case{"0/INPUT", -3, 0}, Case{"0/OUTPUT", 9, 4},
                          Case{"0/OUTPUT", -1, 0}}) {
        SCOPED_TRACE(c.leaf);
        EXPECT_EQ(writeInteger(c.leaf, c.written).asInteger(), c.stored);
        EXPECT_EQ(readInteger(c.leaf), c.stored);
    }
}

TEST_F(PidsTest, ANewInputRefitsItsChannel) {
    ASSERT_EQ(buildPids(1), QV_NO_ERROR);
    settle();
    EXPECT_EQ(writeInteger("0/INPUTCHANNEL", 7).asInteger(), 7);
    const std::vector<OutputRecord> out = request(test::setInteger(id("0/INPUT"), 8));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(id("0/INPUT")));
    EXPECT_EQ(out[0].asInteger(), 8);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_CHANGED);
    EXPECT_EQ(out[1].header.endpointId, uint32_t(id("0/INPUTCHANNEL")));
    EXPECT_EQ(out[1].header.sessionTag, kUnsolicitedSessionTag);
    EXPECT_EQ(out[1].asInteger(), 6);  // demodulator pairs: 8 - 2
    EXPECT_EQ(word("0/INPUT"), 0x68u);
    // The strobe follows the control register.
    EXPECT_EQ(writesOfPass(), (std::vector<std::pair<uint32_t, uint32_t>>{{controlAddress(0), 0x68}, {kCommon, 1}}));
}

TEST_F(PidsTest, UnchangedSelectionsWriteOnlyForTheInput) {
    ASSERT_EQ(buildPids(1), QV_NO_ERROR);
    settle();
    writeInteger("0/OUTPUTCHANNEL", 6);  // in the range of signal output 1
    sendPass();
    EXPECT_EQ(writeInteger("0/INPUT", 0).header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(writesOfPass().size(), 2u);  // control register and strobe
    EXPECT_EQ(writeInteger("0/OUTPUT", 0).header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(writeInteger("0/ENABLE", 0).header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_TRUE(writesOfPass().empty());
}

TEST_F(PidsTest, OutputChannelRanges) {
    ASSERT_EQ(buildPids(1), QV_NO_ERROR);
    settle();
    struct Case {
        int64_t output;
        int64_t channel;
        int64_t stored;
    };
    const Case cases[] = {
        {0, 0, 6}, {1, 9, 7}, {2, 5, 1}, {3, 3, 3}, {3, -2, 0},
        {4, 3, 0},  // one DIO block
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        writeInteger("0/OUTPUT", c.output);
        EXPECT_EQ(writeInteger("0/OUTPUTCHANNEL", c.channel).asInteger(), c.stored);
        EXPECT_EQ(readInteger("0/OUTPUTCHANNEL"), c.stored);
    }
    // No instance of the selected kind: the channel is the lowest, not the
    // low bits of a negative number.
    familyDataOf(state()).shared.dioCount = 0;
    writeInteger("0/OUTPUT", 4);
    EXPECT_EQ(writeInteger("0/OUTPUTCHANNEL", 3).asInteger(), 0);
}

TEST_F(PidsTest, EnableIsBit31) {
    ASSERT_EQ(buildPids(1), QV_NO_ERROR);
    settle();
    EXPECT_EQ(writeInteger("0/ENABLE", 2).asInteger(), 1);
    EXPECT_EQ(word("0/INPUT"), 0x80000000u);
    EXPECT_EQ(writeDouble("0/ENABLE", 0.5).asInteger(), 0);
    EXPECT_EQ(word("0/INPUT"), 0u);
}

TEST_F(PidsTest, SinglePrecisionRegistersAndTheStrobe) {
    ASSERT_EQ(buildPids(2), QV_NO_ERROR);
    settle();
    const OutputRecord reply = writeDouble("1/P", 0.1);
    EXPECT_EQ(reply.asDouble(), 0.10000000149011612);
    EXPECT_EQ(reply.header.kind, DATATYPE_DOUBLE);
    const float single = 0.1f;
    uint32_t bits;
    std::memcpy(&bits, &single, 4);
    EXPECT_EQ(writesOfPass(), (std::vector<std::pair<uint32_t, uint32_t>>{{controlAddress(1) + 4, bits}, {kCommon, 1}}));
    EXPECT_EQ(writeDouble("1/P", 0.1).header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(writesOfPass().size(), 2u);
    // Beyond the single range: the largest single, not undefined behaviour.
    EXPECT_EQ(writeDouble("1/CENTER", -1e300).asDouble(), -double(std::numeric_limits<float>::max()));
    // Settings without a range take no infinity: refused, nothing stored.
    const std::vector<uint8_t> center = ep("1/CENTER")->value;
    for (double infinite : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(handle(test::setDouble(id("1/CENTER"), infinite)), kRefusedValueStatus);
        EXPECT_TRUE(dev.takeOutput().empty());
        EXPECT_EQ(ep("1/CENTER")->value, center);
    }
    // Read-only readings refuse writes.
    EXPECT_EQ(handle(test::setDouble(id("1/ERROR"), 1.0)), QV_VALUE_NOT_FOUND);
    dev.takeOutput();
    // Instrument reports are pushed when they change.
    std::vector<uint8_t> data = wordBytes(bits);
    EXPECT_EQ(test::pushesOf(deliver(controlAddress(1) + 0x10, data)).size(), 1u);
    EXPECT_TRUE(deliver(controlAddress(1) + 0x10, data).empty());
    EXPECT_EQ(readDouble("1/ERROR"), 0.10000000149011612);
}

TEST_F(PidsTest, SetPointSelection) {
    ASSERT_EQ(buildPids(1), QV_NO_ERROR);
    settle();
    EXPECT_EQ(writeInteger("0/SETPOINTSELECT", 7).asInteger(), 3);
    const std::vector<OutputRecord> pushes = deliver(controlAddress(0) + 0x34, wordBytes(9));
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(pushes[0].asInteger(), 3);
    EXPECT_EQ(readInteger("0/SETPOINTSELECT"), 3);
}

TEST_F(PidsTest, ControlRegisterReports) {
    ASSERT_EQ(buildPids(1), QV_NO_ERROR);
    settle();
    // Input and enable change at once: INPUT first, ENABLE last.
    std::vector<OutputRecord> pushes = deliverControl(0, 0x80000003);
    ASSERT_EQ(pushes.size(), 2u);
    EXPECT_EQ(pushes[0].header.endpointId, uint32_t(id("0/INPUT")));
    EXPECT_EQ(pushes[0].asInteger(), 3);
    EXPECT_EQ(pushes[1].header.endpointId, uint32_t(id("0/ENABLE")));
    EXPECT_EQ(pushes[1].asInteger(), 1);
    // Every field in one report, in leaf order.
    pushes = deliverControl(0, 0x00004321);
    std::vector<uint32_t> ids;
    for (const auto& p : pushes) ids.push_back(p.header.endpointId);
    EXPECT_EQ(ids, (std::vector<uint32_t>{uint32_t(id("0/INPUT")), uint32_t(id("0/INPUTCHANNEL")),
                                          uint32_t(id("0/OUTPUT")), uint32_t(id("0/OUTPUTCHANNEL")),
                                          uint32_t(id("0/ENABLE"))}));
    // Input codes 12 and 13 both read as 10: nothing to push.
    deliverControl(0, 12);
    EXPECT_TRUE(deliverControl(0, 13).empty());
    EXPECT_EQ(readInteger("0/INPUT"), 10);
    EXPECT_TRUE(deliverControl(0, 13).empty());
}

TEST_F(PidsTest, RateIsSharedByEveryController) {
    ASSERT_EQ(buildPids(2), QV_NO_ERROR);
    settle();
    std::vector<OutputRecord> pushes = deliver(kCommon + 4, wordBytes(210000000));
    ASSERT_EQ(pushes.size(), 2u);
    EXPECT_EQ(pushes[0].header.endpointId, uint32_t(id("0/RATE")));
    EXPECT_EQ(pushes[1].header.endpointId, uint32_t(id("1/RATE")));
    EXPECT_EQ(pushes[1].asDouble(), 5000.0);
    EXPECT_EQ(readDouble("1/RATE"), 5000.0);
    deliver(kCommon + 4, wordBytes(0));
    EXPECT_EQ(readDouble("0/RATE"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(handle(test::setDouble(id("0/RATE"), 1.0)), QV_VALUE_NOT_FOUND);
}

TEST_F(PidsTest, TipProtectPllIsLimitedToThePllsThereAre) {
    ASSERT_EQ(buildPids(1), QV_NO_ERROR);
    settle();
    struct Case {
        uint32_t plls;
        int64_t written;
        int64_t stored;
    };
    for (const Case& c : {Case{2, 5, 1}, Case{2, -4, 0}, Case{0, 5, 5}, Case{0, 20, 4}}) {
        SCOPED_TRACE(c.written);
        familyDataOf(state()).shared.pllCount = c.plls;
        EXPECT_EQ(writeInteger("0/TIPPROTECT/PLL", c.written).asInteger(), c.stored);
        EXPECT_EQ(readInteger("0/TIPPROTECT/PLL"), c.stored);
        EXPECT_EQ(word("0/TIPPROTECT/ENABLE"), uint32_t(c.stored) << 27);
    }
}

TEST_F(PidsTest, TipProtectEnableClearsTheReportBits) {
    ASSERT_EQ(buildPids(1), QV_NO_ERROR);
    settle();
    familyDataOf(state()).shared.pllCount = 2;
    // The instrument reports PLL 3 and report bits.
    std::vector<OutputRecord> pushes = deliver(controlAddress(0) + 0x38, wordBytes((3u << 27) | 0x1234));
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(pushes[0].header.endpointId, uint32_t(id("0/TIPPROTECT/PLL")));
    EXPECT_EQ(pushes[0].asInteger(), 3);
    const OutputRecord reply = writeInteger("0/TIPPROTECT/ENABLE", 1);
    EXPECT_EQ(reply.asInteger(), 1);
    EXPECT_EQ(word("0/TIPPROTECT/ENABLE"), 0x80000000u | (1u << 27));
    EXPECT_EQ(writesOfPass(), (std::vector<std::pair<uint32_t, uint32_t>>{
                                  {controlAddress(0) + 0x38, 0x80000000u | (1u << 27)}, {kCommon, 1}}));
    // Written again unchanged: flags 1, still written.
    EXPECT_EQ(writeInteger("0/TIPPROTECT/ENABLE", 1).header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(writesOfPass().size(), 2u);
    // A report that changes only the report bits pushes nothing.
    EXPECT_TRUE(deliver(controlAddress(0) + 0x38, wordBytes(0x80000000u | (1u << 27) | 7)).empty());
}

TEST_F(PidsTest, TipProtectActiveBits) {
    ASSERT_EQ(buildPids(2), QV_NO_ERROR);
    settle();
    deliver(kCommon + 8, wordBytes(0x1));
    std::vector<OutputRecord> pushes = deliver(kCommon + 8, wordBytes(0x2));
    ASSERT_EQ(pushes.size(), 2u);
    EXPECT_EQ(pushes[0].header.endpointId, uint32_t(id("0/TIPPROTECT/ACTIVE")));
    EXPECT_EQ(pushes[0].asInteger(), 0);
    EXPECT_EQ(pushes[1].header.endpointId, uint32_t(id("1/TIPPROTECT/ACTIVE")));
    EXPECT_EQ(pushes[1].asInteger(), 1);
    EXPECT_EQ(readInteger("1/TIPPROTECT/ACTIVE"), 1);
    EXPECT_EQ(readInteger("0/TIPPROTECT/ACTIVE"), 0);
    // Bits of controllers that do not exist push nothing.
    EXPECT_TRUE(deliver(kCommon + 8, wordBytes(0xFFFC0002)).empty());

    // A lost push is repeated with the next report: the word is kept back.
    dev.fillOutput();
    EXPECT_EQ(DeviceStateHandleData(dev, kCommon + 8, 4, wordBytes(0x1).data()), QV_OVERFLOW);
    dev.takeOutput();
    EXPECT_EQ(deliver(kCommon + 8, wordBytes(0x1)).size(), 2u);
}

}  // namespace
}  // namespace tarnix
