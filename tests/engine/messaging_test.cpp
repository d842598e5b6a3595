#include "core/ClientNumbers.h"
#include "EngineFixture.h"
#include "engine/FeatureBootstrap.h"

#include "core/LogCapture.h"
#include "core/QVException.h"
#include "core/tree/TreeNotices.h"
#include "engine/RegisterHandlers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarnix {
namespace {

using test::DeviceEvent;

class MessagingTest : public test::EngineFixture {
protected:
    // These passes drive endpoints only; the feature-list discovery stays off.
    void SetUp() override {
        test::EngineFixture::SetUp();
        state().bootStep = BootStep::Off;
    }
    // A leaf whose number writes land in `numbers`.
    EPNodePtr numberSink() {
        EPNodePtr ep = addLeaf(-1, 0, 0, 0, 0);
        ep->writeNumber = [this](DeviceAccess&, const EPNodePtr&, uint16_t, uint16_t, double d, int64_t i) {
            numbers.push_back({d, i});
            return QV_NO_ERROR;
        };
        return ep;
    }
    std::vector<std::pair<double, int64_t>> numbers;
};

TEST_F(MessagingTest, MissingEndpointsAndHandlersAreReportedWithTheirId) {
    test::LogCapture log;
    EPNodePtr ep = addLeaf(-1, 0, 0, 0, 0);
    const int id = ep->epId;
    struct Case {
        std::vector<uint8_t> record;
        std::string line;
    } cases[] = {
        {test::getValue(9999), "DeviceStateMsgHandler node not found (EPId=9999)."},
        {test::getValue(id), "DeviceStateMsgHandler node not readable - no ReadDataFunc set (EPId=" +
                                 std::to_string(id) + ")."},
        {test::setDouble(id, 1.0),
         "DeviceStateMsgHandler node not writeable for numbers (EPId=" + std::to_string(id) + ")."},
        {test::setBytes(id, {1, 2, 3, 4}),
         "DeviceStateMsgHandler node not writeable for byte arrays (EPId=" + std::to_string(id) + ")."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(handle(c.record), QV_VALUE_NOT_FOUND) << c.line;
        EXPECT_TRUE(log.contains(c.line)) << c.line;
    }
}

TEST_F(MessagingTest, NumbersReachTheHandlerInBothForms) {
    const int id = numberSink()->epId;
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(handle(test::setDouble(id, 2.9)), QV_NO_ERROR);
    EXPECT_EQ(handle(test::setDouble(id, -2.9)), QV_NO_ERROR);
    EXPECT_EQ(handle(test::setDouble(id, inf)), QV_NO_ERROR);
    EXPECT_EQ(handle(test::setInteger(id, -5)), QV_NO_ERROR);
    EXPECT_EQ(handle(test::setInteger(id, 4294967295)), QV_NO_ERROR);
    EXPECT_EQ(handle(test::setInteger(id, -2147483648)), QV_NO_ERROR);
    ASSERT_EQ(numbers.size(), 6u);
    EXPECT_EQ(numbers[0].second, 2);
    EXPECT_EQ(numbers[1].second, -2);
    EXPECT_EQ(numbers[2].second, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(numbers[3].first, -5.0);
    EXPECT_EQ(numbers[4].second, 4294967295);
    EXPECT_EQ(numbers[5].second, -2147483648);
}

TEST_F(MessagingTest, NumbersThatFitNoSettingWordNeverReachTheHandler) {
    const int id = numberSink()->epId;
    const std::vector<uint8_t> refused[] = {
        test::setDouble(id, std::nan("")),
        test::setInteger(id, int64_t(1) << 32),
        test::setInteger(id, (int64_t(1) << 32) + 1),
        test::setInteger(id, -2147483649),
        test::setInteger(id, std::numeric_limits<int64_t>::min()),
        test::setInteger(id, std::numeric_limits<int64_t>::max()),
    };
    for (const std::vector<uint8_t>& record : refused) EXPECT_EQ(handle(record), kRefusedValueStatus);
    EXPECT_TRUE(numbers.empty());
}

TEST_F(MessagingTest, OtherKindsAreIgnoredAndShortRecordsRefused) {
    const int id = numberSink()->epId;
    EXPECT_EQ(handle(test::requestRecord(DATATYPE_DEMODSAMPLE, id)), QV_NO_ERROR);
    auto truncated = test::setDouble(id, 1.0);
    truncated.resize(16);
    EXPECT_EQ(handle(truncated), QV_BUFFER_TOO_SMALL);
    auto lying = test::setBytes(id, {1, 2, 3, 4});
    lying.resize(18);  // states 4 bytes, carries 2
    EXPECT_EQ(handle(lying), QV_BUFFER_TOO_SMALL);
    EXPECT_TRUE(numbers.empty());
}

// Writes and requests leave in ascending id order, each endpoint once, its
// request before its write at the same address.
TEST_F(MessagingTest, SendSetOrder) {
    const int row = addBlock(0x10000, 4, 0x100);
    EPNodePtr a = addLeaf(row, 1, 0x10, 4, 4);
    EPNodePtr b = addLeaf(row, 2, 0x20, 4, 4);
    EPNodePtr beyond = addLeaf(row, 0, 0, 4, 4);
    for (const EPNodePtr& ep : {a, b, beyond}) {
        ep->writeData = DeviceStateEPWriteRegisters;
        ep->requestData = DeviceStateEPRequestRegisters;
    }
    beyond->instance = 4;  // not below the item's count
    EXPECT_EQ(DeviceStateEPNodesMarkWrite(state().epNodes, b->epId), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateEPNodesMarkWrite(state().epNodes, a->epId), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateRequestEP(dev, a->epId), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateEPNodesMarkWrite(state().epNodes, a->epId), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateRequestEP(dev, beyond->epId), QV_NO_ERROR);
    dev.clearEvents();
    ASSERT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
    const auto& ev = dev.events();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].kind, DeviceEvent::Request);
    EXPECT_EQ(ev[0].address, 0x10110u);
    EXPECT_EQ(ev[1].kind, DeviceEvent::Write);
    EXPECT_EQ(ev[1].address, 0x10110u);
    EXPECT_EQ(ev[2].kind, DeviceEvent::Write);
    EXPECT_EQ(ev[2].address, 0x10220u);
    EXPECT_EQ(a->flags, EPFlagAwaiting);
    EXPECT_EQ(beyond->flags, 0) << "dropped without any call";
    EXPECT_EQ(state().epNodes.awaitingCount, 1u) << "the dropped request no longer counts";
    EXPECT_TRUE(state().epNodes.sendSet.empty());
    dev.clearEvents();
    EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
    EXPECT_TRUE(dev.events().empty()) << "nothing is sent twice";
}

// A handler that fails does not hold up the others, nor the steps after it.
TEST_F(MessagingTest, FailingHandlerDoesNotBlockTheSendSet) {
    test::LogCapture log;
    const int row = addBlock(0x10000, 1, 0x100);
    EPNodePtr bad = addLeaf(row, 0, 0, 4, 4);
    EPNodePtr good = addLeaf(row, 0, 4, 4, 4);
    int badCalls = 0;
    bad->writeData = [&](DeviceAccess&, const EPNodePtr&, uint32_t) {
        ++badCalls;
        return QV_BUFFER_TOO_SMALL;
    };
    good->writeData = DeviceStateEPWriteRegisters;
    state().pidStrobeEnable = 1;
    state().pidStrobeAddress = 0x7000;
    state().pidStrobePending = true;
    EXPECT_EQ(DeviceStateEPNodesMarkWrite(state().epNodes, bad->epId), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateEPNodesMarkWrite(state().epNodes, good->epId), QV_NO_ERROR);
    dev.clearEvents();
    EXPECT_EQ(DeviceStateSendChanges(dev), QV_BUFFER_TOO_SMALL);
    ASSERT_EQ(dev.writes().size(), 2u);
    EXPECT_EQ(dev.writes()[0].address, 0x10004u);
    EXPECT_EQ(dev.writes()[1].address, 0x7000u) << "the PID strobe still goes out";
    EXPECT_EQ(dev.writes()[1].word(), 1u);
    EXPECT_EQ(bad->flags, 0);
    const std::string reported = "Can't send endpoint (EPId=" + std::to_string(bad->epId) + "), status " +
                                 std::to_string(QV_BUFFER_TOO_SMALL) + "; its pending write and request are dropped.";
    EXPECT_TRUE(log.contains(reported)) << reported;
    EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
    EXPECT_EQ(badCalls, 1);
}

TEST_F(MessagingTest, RoutingToInstancesAndAtMostFourEndpoints) {
    const int row = addBlock(0x20000, 3, 0x10);
    std::vector<std::pair<int, std::vector<uint8_t>>> updates;
    std::vector<std::pair<uint32_t, uint32_t>> itemCalls;  // instance, remaining length
    map().items[std::size_t(row)].dataFunc = [&](DeviceAccess&, Feature&, uint32_t, uint32_t instance,
                                                 const uint8_t*, uint32_t length) {
        itemCalls.push_back({instance, length});
        return QV_NO_ERROR;
    };
    auto record = [&](const EPNodePtr& ep) {
        ep->updateData = [&](DeviceAccess&, const EPNodePtr& self, const uint8_t* d, uint32_t n) {
            updates.push_back({self->epId, std::vector<uint8_t>(d, d + n)});
            return QV_NO_ERROR;
        };
    };
    std::vector<EPNodePtr> first;
    for (int i = 0; i < 5; ++i) {
        first.push_back(addLeaf(row, 0, 2 * i, 2, 2));  // five fields of instance 0
        record(first.back());
    }
    EPNodePtr second = addLeaf(row, 1, 4, 4, 4);
    EPNodePtr third = addLeaf(row, 2, 0, 4, 4);
    record(second);
    record(third);
    EPNodePtr empty = addLeaf(row, 2, 0, 0, 0);  // size 0: never routed
    record(empty);

    std::vector<uint8_t> block(0x30);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i);
    ASSERT_EQ(DeviceStateHandleData(dev, 0x20000, uint32_t(block.size()), block.data()), QV_NO_ERROR);
    EXPECT_EQ(itemCalls, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0x30}, {1, 0x20}, {2, 0x10}}));
    ASSERT_EQ(updates.size(), 6u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(updates[std::size_t(i)].first, first[std::size_t(i)]->epId);
        EXPECT_EQ(updates[std::size_t(i)].second, (std::vector<uint8_t>{uint8_t(2 * i), uint8_t(2 * i + 1)}));
    }
    EXPECT_EQ(updates[4].second, (std::vector<uint8_t>{0x14, 0x15, 0x16, 0x17}));
    EXPECT_EQ(updates[5].first, third->epId);
}

TEST_F(MessagingTest, RoutingStopsWhereNoItemCovers) {
    const int row = addBlock(0x30000, 2, 0x10);
    int calls = 0;
    EPNodePtr ep = addLeaf(row, 1, 0, 4, 4);
    ep->updateData = [&](DeviceAccess&, const EPNodePtr&, const uint8_t*, uint32_t) {
        ++calls;
        return QV_NO_ERROR;
    };
    std::vector<uint8_t> block(0x40);
    EXPECT_EQ(DeviceStateHandleData(dev, 0x2FFF0, 0x40, block.data()), QV_NO_ERROR);
    EXPECT_EQ(calls, 0) << "a block starting before every item reaches nobody";
    EXPECT_EQ(DeviceStateHandleData(dev, 0x30000, 0x40, block.data()), QV_NO_ERROR);
    EXPECT_EQ(calls, 1) << "routing ends at the item's end";
}

// Routing found for one block serves the following blocks at the same address,
// and follows every change: a shorter block, an endpoint removed by a handler
// in the middle of a block, a row cleared and another item in its place (which
// leaves the map's generation as it was).
TEST_F(MessagingTest, RoutingFollowsChangesBetweenAndWithinBlocks) {
    const int row = addBlock(0x50000, 2, 0x40);
    std::vector<int32_t> calls;
    const auto record = [&](const EPNodePtr& ep) {
        ep->updateData = [&](DeviceAccess&, const EPNodePtr& self, const uint8_t*, uint32_t) {
            calls.push_back(self->epId);
            return QV_NO_ERROR;
        };
    };
    EPNodePtr a = addLeaf(row, 0, 0, 4, 4), b = addLeaf(row, 0, 8, 4, 4), c = addLeaf(row, 1, 0, 4, 4);
    for (const EPNodePtr& ep : {a, b, c}) record(ep);
    const std::vector<uint8_t> block(0x80);
    const auto handle = [&](uint32_t length) {
        calls.clear();
        EXPECT_EQ(DeviceStateHandleData(dev, 0x50000, length, block.data()), QV_NO_ERROR);
        return calls;
    };
    const std::vector<int32_t> all{a->epId, b->epId, c->epId};
    EXPECT_EQ(handle(0x80), all);
    EXPECT_EQ(handle(0x80), all);
    EXPECT_EQ(handle(8), std::vector<int32_t>{a->epId}) << "b does not lie inside the shorter block";
    EXPECT_EQ(handle(0x80), all);

    a->updateData = [&](DeviceAccess&, const EPNodePtr& self, const uint8_t*, uint32_t) {
        calls.push_back(self->epId);
        return DeviceStateEPNodesRemove(state().epNodes, c->epId);
    };
    EXPECT_EQ(handle(0x80), (std::vector<int32_t>{a->epId, b->epId})) << "c went while the block was routed";
    EXPECT_EQ(handle(0x80), (std::vector<int32_t>{a->epId, b->epId}));

    const uint32_t generation = map().generation;
    ASSERT_EQ(FeatureMapClearRow(map(), row), QV_NO_ERROR);
    ASSERT_EQ(addBlock(0x50000, 1, 0x80), row);
    ASSERT_EQ(map().generation, generation);
    int itemCalls = 0;
    map().items[std::size_t(row)].dataFunc = [&](DeviceAccess&, Feature&, uint32_t, uint32_t, const uint8_t*,
                                                 uint32_t) {
        ++itemCalls;
        return QV_NO_ERROR;
    };
    EXPECT_EQ(handle(0x80), std::vector<int32_t>{}) << "the old row's endpoints are bound no more";
    EXPECT_EQ(itemCalls, 1);
}

TEST_F(MessagingTest, ArrivingDataEndsTheAwaitedRequestAndAnnouncesTheDevice) {
    test::LogCapture log;
    const int row = addBlock(0x40000, 1, 0x10);
    EPNodePtr ep = addLeaf(row, 0, 0, 4, 4);
    ep->requestData = DeviceStateEPRequestRegisters;
    ASSERT_EQ(DeviceStateRequestEP(dev, ep->epId), QV_NO_ERROR);
    EXPECT_EQ(state().initCounter, 1);
    EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
    EXPECT_EQ(ep->flags, EPFlagAwaiting);
    const uint8_t data[4] = {1, 0, 0, 0};
    EXPECT_EQ(DeviceStateHandleData(dev, 0x40000, 4, data), QV_NO_ERROR);
    EXPECT_EQ(ep->flags, 0);
    EXPECT_EQ(state().initCounter, 0);
    EXPECT_TRUE(dev.initialized);
    EXPECT_EQ(state().announced, 1);
    EXPECT_TRUE(log.contains("Start LED animation."));
}

TEST(DeviceAnnouncement, AnInstrumentPulledOutDuringTheFirstLedWriteIsStillReportedGone) {
    // The tree is announced, then the LED registers are written: an instrument
    // pulled out at that moment fails the write, and the device is destroyed.
    struct PulledOut : test::FakeDevice {
        void flush() override { QV_THROW(QVDeviceException("Write error 1167 during waitAsync().")); }
    };
    PulledOut device;
    ASSERT_EQ(DeviceStateCreate(device), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateAddLedRegister(device, 0x500), QV_NO_ERROR);
    std::vector<unsigned> codes;
    device.treeRegistry().setTreeNoticeSink([&codes](const TreeNode::Ptr&, uint8_t code) { codes.push_back(code); });
    EXPECT_THROW(DeviceStateStartLedAnimation(device, stateOf(device)).ignore(), QVDeviceException);
    EXPECT_EQ(DeviceStateDestroy(device), QV_NO_ERROR);
    device.treeRegistry().setTreeNoticeSink(nullptr);
    EXPECT_EQ(codes, (std::vector<unsigned>{TREE_CHANGE_NEW, TREE_CHANGE_GONE}));
}

TEST_F(MessagingTest, LedAnimationTicks) {
    EXPECT_EQ(DeviceStateAddLedRegister(dev, 0x500), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateAddLedRegister(dev, 0x504), QV_NO_ERROR);
    dev.clearEvents();
    EXPECT_EQ(DeviceStateLedRegistersSet(dev), QV_NO_ERROR);
    std::vector<uint32_t> words;  // what register 0x500 shows over time
    std::vector<uint32_t> tickOf;
    auto collect = [&] {
        for (const auto& e : dev.writes())
            if (e.address == 0x500) words.push_back(e.word());
        dev.clearEvents();
    };
    collect();
    EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);  // the first tick only starts the clock
    collect();
    for (int pass = 0; pass < 45; ++pass) {
        dev.advance(std::chrono::microseconds(50000));
        EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
        collect();
    }
    std::vector<uint32_t> expected{1};
    for (int tick = 0; tick < 19; ++tick) expected.push_back(uint32_t(tick & 1));
    expected.push_back(0);  // the final clear
    EXPECT_EQ(words, expected);
    EXPECT_EQ(state().ledFlags & 1, 0);
}

TEST_F(MessagingTest, AmplifierPollAndItsCompletion) {
    state().tampUpdateState = TAmpUpdateState::Requested;
    EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
    EXPECT_EQ(state().tampUpdateState, TAmpUpdateState::InFlight);
    ASSERT_EQ(state().cmd.queue.size(), 1u);
    EXPECT_EQ(state().cmd.queue.front().code, 23u);
    uint8_t reply[16] = {};
    TAmpUpdateComplete(dev, reply, sizeof reply, nullptr);
    EXPECT_EQ(state().tampUpdateState, TAmpUpdateState::Idle);
    reply[9] = 1;
    test::LogCapture log;
    TAmpUpdateComplete(dev, reply, sizeof reply, nullptr);
    EXPECT_EQ(state().tampUpdateState, TAmpUpdateState::Requested);
    // Its own signature, then one line per reply word.
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find("TAmpUpdateComplete("), std::string::npos) << lines[0];
    EXPECT_EQ(lines[3], "tamp 2 state=256");
}

TEST_F(MessagingTest, DeferredSignalInputRewrite) {
    EPNodePtr a = addLeaf(-1, 0, 0, 4, 0);
    EPNodePtr b = addLeaf(-1, 0, 0, 4, 0);
    state().sigInRewriteEPIds = {{a->epId, b->epId}};
    state().sigInRewriteState = SigInRewriteState::Armed;
    state().sigInRewriteTime = dev.now();
    EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
    EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::Armed) << "not yet 200 ms";
    dev.advance(std::chrono::microseconds(200000));
    EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
    EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::Idle);
    EXPECT_EQ(std::vector<int32_t>(state().epNodes.sendSet.begin(), state().epNodes.sendSet.end()),
              (std::vector<int32_t>{a->epId, b->epId}));
}

TEST_F(MessagingTest, DeferredSignalInputRewriteOfASingleInput) {
    EPNodePtr a = addLeaf(-1, 0, 0, 4, 0);
    state().sigInRewriteEPIds = {{a->epId, -1}};
    state().sigInRewriteState = SigInRewriteState::Armed;
    state().sigInRewriteTime = dev.now();
    dev.advance(std::chrono::microseconds(200000));
    EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
    EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::Idle);
    EXPECT_EQ(std::vector<int32_t>(state().epNodes.sendSet.begin(), state().epNodes.sendSet.end()),
              (std::vector<int32_t>{a->epId}));
}

}  // namespace
}  // namespace tarnix
