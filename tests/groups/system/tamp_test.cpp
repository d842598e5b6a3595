#include "core/ClientNumbers.h"
#include "SystemGroupFixture.h"

#include "groups/KCtrlsTAmp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarnix {
namespace {

using test::OutputRecord;
using test::words;

constexpr uint32_t kPorts = 0x03000000;

class TAmpTest : public test::SystemGroupTest {
protected:
    void SetUp() override {
        test::SystemGroupTest::SetUp();
        ASSERT_EQ(build(14, words({kPorts, 0, 8, 2, 0x82, 0})), QV_NO_ERROR);
    }
    // The commands waiting in the mailbox queue: code, argument, payload words.
    std::vector<std::vector<uint32_t>> queued() {
        std::vector<std::vector<uint32_t>> out;
        for (const CmdEntry& e : state().cmd.queue) {
            std::vector<uint32_t> entry{e.code, e.argument};
            for (std::size_t at = 0; at + 4 <= e.payload.size(); at += 4) entry.push_back(le::get32(e.payload.data() + at));
            out.push_back(entry);
        }
        return out;
    }
    void dropQueue() {
        state().cmd.queue.clear();
        state().cmd.queuedBytes = 0;
    }
};

TEST_F(TAmpTest, LeavesInCreationOrder) {
    EXPECT_EQ(childNames("KCTRLS/TAMP0"), (std::vector<std::string>{"0", "1", "EXTBIAS", "BIASOUT"}));
    EXPECT_EQ(childNames("KCTRLS/TAMP0/1"), (std::vector<std::string>{"CURRENTGAIN", "DC", "VOLTAGEGAIN", "OFFSET"}));
    EXPECT_EQ(node("KCTRLS/TAMP0/1")->nodeTypeId(), 196);
    EXPECT_EQ(node("KCTRLS/TAMP0/1/OFFSET")->nodeTypeId(), 200);
    EXPECT_EQ(node("KCTRLS/TAMP0/BIASOUT")->properties().at("unit").get<std::string>(), "V");
}

TEST_F(TAmpTest, EveryParameterIsReadBackThenThePortIsInitialised) {
    std::vector<std::vector<uint32_t>> expected;
    for (uint32_t code : {2u, 4u, 3u, 5u, 6u, 8u, 7u, 9u, 0u, 1u}) expected.push_back({22, 0, 0, code});
    expected.push_back({24, 0});
    EXPECT_EQ(queued(), expected);

    mailboxReady();
    for (int i = 0; i < 10; ++i) ASSERT_EQ(reply(words({0, 0})), QV_NO_ERROR);
    EXPECT_EQ(state().tampUpdateState, TAmpUpdateState::Idle);
    ASSERT_EQ(reply(words({0})), QV_NO_ERROR);
    EXPECT_EQ(state().tampUpdateState, TAmpUpdateState::Requested) << "command 24 done: an update poll is wanted";
}

TEST_F(TAmpTest, DefaultsReadAsTheirNodeValues) {
    EXPECT_DOUBLE_EQ(read("KCTRLS/TAMP0/BIASOUT").asDouble(), 0.00015259021896696368);
    EXPECT_DOUBLE_EQ(read("KCTRLS/TAMP0/0/OFFSET").asDouble(), 1.5259021896724123e-07);
    EXPECT_EQ(read("KCTRLS/TAMP0/0/CURRENTGAIN").asInteger(), 1000);
    EXPECT_EQ(read("KCTRLS/TAMP0/1/DC").asInteger(), 1);
    EXPECT_EQ(read("KCTRLS/TAMP0/1/VOLTAGEGAIN").asInteger(), 1);
    const OutputRecord extBias = read("KCTRLS/TAMP0/EXTBIAS");
    EXPECT_EQ(extBias.header.kind, DATATYPE_DOUBLE);
    EXPECT_EQ(extBias.asDouble(), 0.0);
}

TEST(TAmpConversions, VoltagesAreClampedAndTruncated) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, uint32_t> bias[] = {{0.0, 32767}, {5.0, 16383}, {10.0, 0},   {12.5, 0},
                                                {-10.0, 65535}, {-inf, 65535}, {nan, 32767}};
    for (const auto& c : bias) EXPECT_EQ(TAmpBiasOutToRaw(c.first), c.second) << c.first;
    EXPECT_DOUBLE_EQ(TAmpBiasOutFromRaw(16383), 5.0002288853284504);
    EXPECT_EQ(TAmpBiasOutFromRaw(0), 10.0);
    EXPECT_EQ(TAmpBiasOutFromRaw(65535), -10.0);
    const std::pair<double, uint32_t> offset[] = {{0.0, 32767}, {-1.0, 65535}, {-0.01, 65535}, {0.01, 0}, {inf, 0}};
    for (const auto& c : offset) EXPECT_EQ(TAmpOffsetToRaw(c.first), c.second) << c.first;
    EXPECT_DOUBLE_EQ(TAmpOffsetFromRaw(65535), -0.01);
}

TEST(TAmpConversions, GainsGoToTheNearestAllowedWord) {
    const std::pair<int64_t, int64_t> current[] = {{549, 100},    {550, 1000},    {2000, 1000},
                                                   {5500, 10000}, {-5, 100},      {1000000000, 100000000},
                                                   {55000000, 100000000}, {54999999, 10000000}};
    for (const auto& c : current) EXPECT_EQ(TAmpCurrentGainFromRaw(TAmpCurrentGainToRaw(c.first)), c.second) << c.first;
    EXPECT_EQ(TAmpCurrentGainFromRaw(9), 0);
    const std::pair<int64_t, int64_t> voltage[] = {{4, 1}, {5, 10}, {0, 1}, {-3, 1}, {100, 10}};
    for (const auto& c : voltage) EXPECT_EQ(TAmpVoltageGainFromRaw(TAmpVoltageGainToRaw(c.first)), c.second) << c.first;
    EXPECT_EQ(TAmpVoltageGainToRaw(4), 1u);
    EXPECT_EQ(TAmpVoltageGainToRaw(5), 0u);
}

TEST_F(TAmpTest, EveryWriteSendsTheParameterAndAsksForAPoll) {
    dropQueue();
    OutputRecord r = write("KCTRLS/TAMP0/BIASOUT", 0.0);
    EXPECT_DOUBLE_EQ(r.asDouble(), 0.00015259021896696368);
    EXPECT_EQ(r.header.flags, VALUE_FLAG_REPLY_ONLY) << "the default word already";
    r = write("KCTRLS/TAMP0/1/CURRENTGAIN", int64_t(5500));
    EXPECT_EQ(r.asInteger(), 10000);
    EXPECT_EQ(r.header.flags, VALUE_FLAG_CHANGED);
    sendPass();
    const std::vector<std::vector<uint32_t>> expected = {{21, 0, 0, 6, 2}, {21, 0, 0, 1, 32767}, {23, 0}};
    EXPECT_EQ(queued(), expected);
    EXPECT_EQ(state().tampUpdateState, TAmpUpdateState::InFlight);
    sendPass();
    EXPECT_EQ(queued().size(), 3u) << "no second poll while one is in flight";
}

TEST_F(TAmpTest, ANaNKeepsTheVoltageAndInfinitiesClamp) {
    write("KCTRLS/TAMP0/BIASOUT", 5.0);
    write("KCTRLS/TAMP0/1/OFFSET", 0.01);
    sendPass();
    dropQueue();
    for (const char* leaf : {"KCTRLS/TAMP0/BIASOUT", "KCTRLS/TAMP0/1/OFFSET"}) {
        SCOPED_TRACE(leaf);
        const double before = read(leaf).asDouble();
        EXPECT_EQ(handle(test::setDouble(idOf(leaf), std::numeric_limits<double>::quiet_NaN())), kRefusedValueStatus);
        EXPECT_TRUE(dev.takeOutput().empty());
        EXPECT_EQ(read(leaf).asDouble(), before);
    }
    sendPass();
    EXPECT_TRUE(queued().empty()) << "nothing goes to the amplifier";

    EXPECT_EQ(write("KCTRLS/TAMP0/BIASOUT", -std::numeric_limits<double>::infinity()).asDouble(), -10.0);
    EXPECT_EQ(write("KCTRLS/TAMP0/1/OFFSET", std::numeric_limits<double>::infinity()).asDouble(), 0.01);
}

TEST_F(TAmpTest, ExternalBiasRepliesIntegersToWritesAndADoubleToReads) {
    const OutputRecord w = write("KCTRLS/TAMP0/EXTBIAS", int64_t(1));
    EXPECT_EQ(w.header.kind, DATATYPE_INTEGER);
    EXPECT_EQ(w.asInteger(), 1);
    const OutputRecord r = read("KCTRLS/TAMP0/EXTBIAS");
    EXPECT_EQ(r.header.kind, DATATYPE_DOUBLE);
    EXPECT_EQ(r.asDouble(), 1.0);
}

TEST_F(TAmpTest, ReadBackRepliesUpdateTheLeavesWhenValid) {
    mailboxReady();
    dev.takeOutput();
    ASSERT_EQ(reply(words({1, 9})), QV_NO_ERROR);  // CURRENTGAIN of channel 0: a raw word above 6
    std::vector<OutputRecord> out = dev.takeOutput();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(idOf("KCTRLS/TAMP0/0/CURRENTGAIN")));
    EXPECT_EQ(out[0].asInteger(), 0);
    EXPECT_EQ(read("KCTRLS/TAMP0/0/CURRENTGAIN").asInteger(), 0);

    ASSERT_EQ(reply(words({0, 0})), QV_NO_ERROR);  // DC: not valid
    ASSERT_EQ(reply(words({1, 1})), QV_NO_ERROR);  // VOLTAGEGAIN: equal to the stored word
    ASSERT_EQ(reply(words({1})), QV_NO_ERROR);     // OFFSET: too short to hold a value
    EXPECT_TRUE(dev.takeOutput().empty());
    EXPECT_EQ(read("KCTRLS/TAMP0/0/DC").asInteger(), 1);
    EXPECT_DOUBLE_EQ(read("KCTRLS/TAMP0/0/OFFSET").asDouble(), 1.5259021896724123e-07);

    ASSERT_EQ(reply(words({1, 0})), QV_NO_ERROR);  // CURRENTGAIN of channel 1
    EXPECT_EQ(dev.takeOutput().at(0).asInteger(), 100);
}

TEST_F(TAmpTest, ThePollRepeatsUntilEveryAmplifierHasSettled) {
    dropQueue();
    state().cmd.inFlight = false;
    mailboxReady();
    write("KCTRLS/TAMP0/0/DC", int64_t(0));
    sendPass();                                    // 21 goes out, 23 waits
    ASSERT_EQ(reply(words({0})), QV_NO_ERROR);     // 21 done, 23 goes out
    ASSERT_EQ(reply(words({0, 3})), QV_NO_ERROR);  // port 1 still busy
    EXPECT_EQ(state().tampUpdateState, TAmpUpdateState::Requested);
    dev.clearEvents();
    sendPass();
    EXPECT_EQ(commandCodes(), (std::vector<uint32_t>{23}));
    dev.advance(std::chrono::milliseconds(5100));  // no reply: asked again
    EXPECT_EQ(state().tampUpdateState, TAmpUpdateState::Requested);
    dev.clearEvents();
    sendPass();
    EXPECT_EQ(commandCodes(), (std::vector<uint32_t>{23}));
    ASSERT_EQ(reply(words({0, 0})), QV_NO_ERROR);
    EXPECT_EQ(state().tampUpdateState, TAmpUpdateState::Idle);
    dev.clearEvents();
    sendPass();
    EXPECT_TRUE(commandCodes().empty());
}

TEST(TAmpPorts, EachAmplifierNamesItsOwnPort) {
    class Both : public test::SystemGroupTest {
    public:
        void TestBody() override {}
        void run() {
            SetUp();
            ASSERT_EQ(build(14, words({kPorts, 0, 8, 2, 0x82, 0x82})), QV_NO_ERROR);
            std::vector<uint32_t> ports;
            for (const CmdEntry& e : state().cmd.queue)
                ports.push_back(e.code == 24 ? e.argument : le::get32(e.payload.data()));
            std::vector<uint32_t> expected(11, 0);
            expected.resize(22, 1);
            EXPECT_EQ(ports, expected);
            write("KCTRLS/TAMP1/BIASOUT", 1.0);
            state().cmd.queue.clear();
            sendPass();
            ASSERT_FALSE(state().cmd.queue.empty());
            EXPECT_EQ(le::get32(state().cmd.queue.front().payload.data()), 1u);
        }
    };
    Both both;
    both.run();
}

}  // namespace
}  // namespace tarnix
