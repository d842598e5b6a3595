#include "SystemGroupFixture.h"

#include "core/LogCapture.h"
#include "core/QVException.h"
#include "groups/System.h"

#include <gtest/gtest.h>

#include <chrono>

namespace tarnix {
namespace {

using test::blocks;
using test::OutputRecord;
using test::words;

constexpr uint32_t kSystemBlock = 0x01000000;
const std::array<uint8_t, 16> kDigest{{0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04, 0xe9, 0x80, 0x09, 0x98,
                                       0xec, 0xf8, 0x42, 0x7e}};

class SystemTest : public test::SystemGroupTest {
protected:
    QV_STATUS buildSystem() { return build(12, blocks({{kSystemBlock, 0, 0x10, 1}})); }
    std::vector<uint8_t> digestBytes() const { return std::vector<uint8_t>(kDigest.begin(), kDigest.end()); }
    // Built, the mailbox ready and the debug status answered: the hash command is in flight.
    void reachHashCommand() {
        ASSERT_EQ(buildSystem(), QV_NO_ERROR);
        mailboxReady();
        ASSERT_EQ(reply(words({0, 0})), QV_NO_ERROR);
    }
};

TEST_F(SystemTest, BuildsBothLeavesAndRequestsTheClockSource) {
    ASSERT_EQ(buildSystem(), QV_NO_ERROR);
    EXPECT_EQ(childNames("SYSTEM"), (std::vector<std::string>{"EXTCLK", "HWREVISION"}));
    const TreeNode::Ptr extClk = node("SYSTEM/EXTCLK");
    EXPECT_EQ(extClk->nodeTypeId(), 19);
    EXPECT_EQ(extClk->siblingOrder(), 1);
    EXPECT_EQ(node("SYSTEM/HWREVISION")->nodeTypeId(), 20);
    EXPECT_TRUE(extClk->properties().at("setting").get<bool>());
    const NodeValueList values = extClk->properties().at("values").get<NodeValueList>();
    ASSERT_EQ(values.count, 2u);
    EXPECT_EQ(values.entries[1].description, "External clock");
    EXPECT_EQ(node("SYSTEM/HWREVISION")->properties().count("setting"), 0u);

    EXPECT_EQ(state().initCounter, 1) << "the clock source's value is awaited";
    std::vector<test::DeviceEvent> requests;
    for (const auto& e : sendPass())
        if (e.kind == test::DeviceEvent::Request && e.address == kSystemBlock) requests.push_back(e);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].length, 4u);
}

TEST_F(SystemTest, ARecordOfTwoBlocksBuildsNothingAndQueuesNothing) {
    DeviceStateNodeGroup* group = nullptr;
    TreeNode::Ptr groupNode;
    {
        DispatcherTreeLocker lock(state().tree);
        ASSERT_EQ(DeviceStateGetNodeGroup<NodeDefs::LQ3::System>(dev, &group, lock.getNode()), QV_NO_ERROR);
        groupNode = group->node;
    }
    Feature a, b;
    EXPECT_EQ(SystemFeatureInit(dev, group, groupNode, 1, {&a, &b}, 2), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(groupNode->childCount(), 0u);
    EXPECT_EQ(queuedCommands(), 0u);
}

TEST_F(SystemTest, TheClockSourceIsAnOnOffRegister) {
    ASSERT_EQ(buildSystem(), QV_NO_ERROR);
    EXPECT_EQ(read("SYSTEM/EXTCLK").asInteger(), 0) << "until the register has arrived";

    OutputRecord r = write("SYSTEM/EXTCLK", int64_t(5));
    EXPECT_EQ(r.asInteger(), 1);
    EXPECT_EQ(r.header.flags, VALUE_FLAG_CHANGED);
    r = write("SYSTEM/EXTCLK", 0.9);
    EXPECT_EQ(r.asInteger(), 0) << "a double counts truncated";
    r = write("SYSTEM/EXTCLK", int64_t(0));
    EXPECT_EQ(r.header.flags, VALUE_FLAG_REPLY_ONLY);
    std::vector<test::DeviceEvent> writes;
    for (const auto& e : sendPass())
        if (e.kind == test::DeviceEvent::Write && e.address == kSystemBlock) writes.push_back(e);
    ASSERT_EQ(writes.size(), 1u) << "an unchanged value is written again";
    EXPECT_EQ(writes[0].payload, words({0}));

    // The instrument reports 2, then 1: both are changes, both push 1.
    const int32_t id = idOf("SYSTEM/EXTCLK");
    for (uint32_t word : {2u, 1u, 1u}) DeviceStateHandleData(dev, kSystemBlock, 4, words({word}).data()).ignore();
    const std::vector<OutputRecord> pushes = dev.takeOutput();
    ASSERT_EQ(pushes.size(), 2u);
    for (const OutputRecord& p : pushes) {
        EXPECT_EQ(p.header.endpointId, uint32_t(id));
        EXPECT_EQ(p.header.sessionTag, kUnsolicitedSessionTag);
        EXPECT_EQ(p.asInteger(), 1);
    }
    EXPECT_EQ(read("SYSTEM/EXTCLK").asInteger(), 1);
}

TEST_F(SystemTest, TheHardwareRevisionIsReadOnly) {
    ASSERT_EQ(buildSystem(), QV_NO_ERROR);
    EXPECT_EQ(read("SYSTEM/HWREVISION").asInteger(), 0);
    state().hwInfo.revision = 5;
    const OutputRecord r = read("SYSTEM/HWREVISION");
    EXPECT_EQ(r.asInteger(), 5);
    EXPECT_EQ(r.header.kind, DATATYPE_INTEGER);
    EXPECT_EQ(r.header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(handle(test::setInteger(idOf("SYSTEM/HWREVISION"), 3)), QV_VALUE_NOT_FOUND);
}

struct CommandCase {
    bool programmed;
    bool digestKnown;
    std::vector<uint32_t> codes;
};

class SystemCommandsTest : public SystemTest, public testing::WithParamInterface<CommandCase> {};

TEST_P(SystemCommandsTest, CommandsWaitForTheMailboxAndFollowHowTheDesignWasLoaded) {
    const CommandCase& c = GetParam();
    dev.programmed = c.programmed;
    if (c.digestKnown) dev.digest = kDigest;
    ASSERT_EQ(buildSystem(), QV_NO_ERROR);
    EXPECT_TRUE(commands().empty()) << "the CPU has not reported itself running";
    dev.advance(std::chrono::seconds(10));
    EXPECT_EQ(queuedCommands(), c.codes.size()) << "no time-out runs for commands never sent";

    mailboxReady();
    for (std::size_t i = 1; i < c.codes.size(); ++i) ASSERT_EQ(reply(words({0, 0})), QV_NO_ERROR);
    const std::vector<test::SentCommand> sent = commands();
    std::vector<uint32_t> codes;
    for (const auto& s : sent) codes.push_back(s.code);
    EXPECT_EQ(codes, c.codes);
    for (const auto& s : sent) EXPECT_EQ(s.argument, 0u);
    if (c.codes.back() == 17) {
        EXPECT_EQ(sent.back().payload, digestBytes());
    }
}

INSTANTIATE_TEST_SUITE_P(Designs, SystemCommandsTest,
                         testing::Values(CommandCase{true, true, {19, 17}}, CommandCase{true, false, {19}},
                                         CommandCase{false, true, {19, 18}}, CommandCase{false, false, {19, 18}}));

TEST_F(SystemTest, AMatchingStoredDigestIsAccepted) {
    dev.digest = kDigest;
    reachHashCommand();
    test::LogCapture log;
    EXPECT_EQ(reply(digestBytes()), QV_NO_ERROR);
    EXPECT_TRUE(log.contains("Comparing bitstream hashes."));
    EXPECT_FALSE(dev.needProgram);
}

struct StaleCase {
    const char* what;
    std::size_t length;
    std::size_t flippedByte;  // >= length: none
};

class StaleDigestTest : public SystemTest, public testing::WithParamInterface<StaleCase> {};

TEST_P(StaleDigestTest, EndsTheDeviceForReprogramming) {
    dev.digest = kDigest;
    reachHashCommand();
    std::vector<uint8_t> stored(GetParam().length, 0);
    for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = i < kDigest.size() ? kDigest[i] : 0;
    if (GetParam().flippedByte < stored.size()) stored[GetParam().flippedByte] ^= 1;
    try {
        EXPECT_EQ(reply(stored), QV_NO_ERROR);
        ADD_FAILURE() << "no exception";
    } catch (const QVDeviceException& e) {
        EXPECT_STREQ(e.what(), "There is an old bitstream running!");
        EXPECT_STREQ(*boost::get_error_info<boost::throw_file>(e), "LQ3System");
        EXPECT_EQ(*boost::get_error_info<boost::throw_line>(e), 39);
    }
    EXPECT_TRUE(dev.needProgram);
}

INSTANTIATE_TEST_SUITE_P(Replies, StaleDigestTest,
                         testing::Values(StaleCase{"last byte differs", 16, 15}, StaleCase{"first byte differs", 16, 0},
                                         StaleCase{"15 bytes", 15, 99}, StaleCase{"20 bytes", 20, 99}));

TEST_F(SystemTest, NoReplyToTheDigestReadEndsTheDeviceAfterFiveSeconds) {
    dev.digest = kDigest;
    reachHashCommand();
    dev.advance(std::chrono::milliseconds(4900));
    EXPECT_FALSE(dev.needProgram);
    EXPECT_THROW(dev.advance(std::chrono::milliseconds(200)), QVDeviceException);
    EXPECT_TRUE(dev.needProgram);
}

TEST_F(SystemTest, WithoutAnEmbeddedDigestTheStoredOneIsNotCompared) {
    reachHashCommand();
    std::vector<uint8_t> other(16, 0xAB);
    EXPECT_NO_THROW(reply(other).ignore());
    EXPECT_FALSE(dev.needProgram);
}

TEST_F(SystemTest, TheDebugStatusIsLoggedBitByBit) {
    ASSERT_EQ(buildSystem(), QV_NO_ERROR);
    mailboxReady();
    test::LogCapture log;
    ASSERT_EQ(reply(words({3, 0x80000001u})), QV_NO_ERROR);
    std::vector<std::string> flags;
    for (const std::string& m : log.messages())
        if (m.size() > 38 && (m.compare(38, std::string::npos, ": TRUE") == 0 || m.compare(38, std::string::npos, ": FALSE") == 0))
            flags.push_back(m);
    ASSERT_EQ(flags.size(), 20u);
    EXPECT_EQ(flags.front(), "read calibration data                 : TRUE");
    EXPECT_EQ(flags.back(), "default gain range set 2              : TRUE");
    EXPECT_EQ(std::count_if(flags.begin(), flags.end(),
                            [](const std::string& m) { return m.find(": TRUE") != std::string::npos; }),
              2);
    EXPECT_TRUE(log.contains("HWRevision: 3"));
    EXPECT_TRUE(log.contains(std::string(44, '=')));
}

struct IllegalStatusCase {
    std::vector<uint8_t> packet;
    const char* logged;
};

class IllegalStatusTest : public SystemTest, public testing::WithParamInterface<IllegalStatusCase> {};

TEST_P(IllegalStatusTest, IsLoggedAndTheDeviceCarriesOn) {
    ASSERT_EQ(buildSystem(), QV_NO_ERROR);
    mailboxReady();
    test::LogCapture log;
    EXPECT_NO_THROW(reply(GetParam().packet).ignore());
    EXPECT_TRUE(log.contains(GetParam().logged));
    EXPECT_FALSE(log.contains("HWRevision:"));
    EXPECT_EQ(commandCodes(), (std::vector<uint32_t>{19, 18})) << "the next command goes out";
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, IllegalStatusTest,
    testing::Values(IllegalStatusCase{words({7}), "Illegal length of debug status packet detected! Length = 4, Data 7."},
                    IllegalStatusCase{words({1, 2, 3}), "Illegal length of debug status packet detected! Length = 12."}));

TEST_F(SystemTest, NoDebugStatusIsOneErrorLineAndTheNextCommandGoesOut) {
    ASSERT_EQ(buildSystem(), QV_NO_ERROR);
    mailboxReady();
    test::LogCapture log;
    dev.advance(std::chrono::milliseconds(5100));
    EXPECT_EQ(commandCodes(), (std::vector<uint32_t>{19, 18}));
    int errors = 0;
    for (const auto& r : log.records())
        if (r.severity == logging::error) ++errors;
    EXPECT_EQ(errors, 1);
}

}  // namespace
}  // namespace tarnix
