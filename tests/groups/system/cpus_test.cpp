#include "core/ClientNumbers.h"
#include "SystemGroupFixture.h"

#include "core/LogCapture.h"
#include "groups/CPUs.h"
#include "groups/data/GroupFamilyData.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using test::blocks;
using test::DeviceEvent;
using test::OutputRecord;
using test::words;

constexpr uint32_t kControl = 0x02000000;
constexpr uint32_t kControlStride = 0x10;
constexpr uint32_t kProgram = 0x02100000;
constexpr uint32_t kWindow = 0x1000;
constexpr uint32_t kStatus = 0x02200000;

class CPUsTest : public test::SystemGroupTest {
protected:
    QV_STATUS buildCPUs(uint32_t cpus = 1, uint32_t statusStride = 1024, uint32_t statusBlocks = 1) {
        return build(13, blocks({{kControl, 0, kControlStride, cpus},
                                 {kProgram, 0, kWindow, cpus},
                                 {kStatus, 0, statusStride, statusBlocks}}));
    }
    QV_STATUS status(uint32_t offset, const std::vector<uint8_t>& data) {
        return DeviceStateHandleData(dev, kStatus + offset, uint32_t(data.size()), data.data());
    }
    OutputRecord upload(const std::vector<uint8_t>& image, int cpu = 0) {
        dev.clearEvents();
        return answer(test::setBytes(idOf("CPUS/" + std::to_string(cpu) + "/PROGRAM"), image));
    }
};

struct RegisterCase {
    uint32_t stride;
    uint32_t registers;
    const char* count2;
};

class CPURegisterCountTest : public CPUsTest, public testing::WithParamInterface<RegisterCase> {};

TEST_P(CPURegisterCountTest, TheStatusBlockSizeGivesTheUserRegisters) {
    test::LogCapture log;
    ASSERT_EQ(buildCPUs(1, GetParam().stride), QV_NO_ERROR);
    EXPECT_TRUE(log.contains("UserRegsCount1=" + std::to_string(GetParam().stride / 4)));
    EXPECT_TRUE(log.contains(GetParam().count2));
    const std::vector<std::string> regs = childNames("CPUS/0/USERREGS");
    ASSERT_EQ(regs.size(), GetParam().registers);
    std::vector<uint32_t> requested;
    for (const DeviceEvent& e : sendPass())
        if (e.kind == DeviceEvent::Request && e.address >= kStatus + 128 && e.length == 4) requested.push_back(e.address);
    ASSERT_EQ(requested.size(), GetParam().registers);
    if (!regs.empty()) {
        EXPECT_EQ(regs.back(), std::to_string(regs.size() - 1));
        EXPECT_EQ(requested.front(), kStatus + 128);
        EXPECT_EQ(requested.back(), kStatus + 128 + 4 * (GetParam().registers - 1));
    }
}

// A status block of 256 bytes or less leaves no room for registers (the
// subtraction would otherwise wrap).
INSTANTIATE_TEST_SUITE_P(Strides, CPURegisterCountTest,
                         testing::Values(RegisterCase{1024, 64, "UserRegsCount2=192"},
                                         RegisterCase{320, 16, "UserRegsCount2=16"},
                                         RegisterCase{256, 0, "UserRegsCount2=0"},
                                         RegisterCase{16, 0, "UserRegsCount2=4294967236"}));

TEST_F(CPUsTest, BuildsEachCPUAndAsksForTheStatusArea) {
    ASSERT_EQ(buildCPUs(2), QV_NO_ERROR);
    EXPECT_EQ(childNames("CPUS"), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(childNames("CPUS/1"), (std::vector<std::string>{"WORKLOAD", "PROGRAM", "OUTPUT", "USERREGS"}));
    EXPECT_EQ(node("CPUS/1")->nodeTypeId(), 181);
    EXPECT_EQ(node("CPUS/0/USERREGS/5")->nodeTypeId(), 186);
    EXPECT_EQ(childNames("CPUS/1/USERREGS").size(), 0u) << "CPU 1 has no status block of its own";
    EXPECT_DOUBLE_EQ(node("CPUS/0/WORKLOAD")->properties().at("to").get<double>(), 1.0);
    const auto& decoders = familyDataOf(state()).system.printDecoders;
    ASSERT_EQ(decoders.size(), 2u) << "one print decoder per CPU";
    EXPECT_EQ(decoders[0].outputEndpoint, idOf("CPUS/0/OUTPUT"));
    EXPECT_EQ(decoders[1].workloadEndpoint, idOf("CPUS/1/WORKLOAD"));

    const std::vector<DeviceEvent> events = dev.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].kind, DeviceEvent::Request);
    EXPECT_EQ(events[events.size() - 2].address, kStatus);
    EXPECT_EQ(events[events.size() - 2].length, 128u);
    EXPECT_EQ(events.back().kind, DeviceEvent::Flush);
}

TEST_F(CPUsTest, UnequalCPUCountsOrNoStatusBlockBuildNothing) {
    EXPECT_EQ(build(13, blocks({{kControl, 0, 16, 2}, {kProgram, 0, kWindow, 1}, {kStatus, 0, 1024, 1}})),
              QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(buildCPUs(1, 1024, 0), QV_BUFFER_TOO_SMALL);
    EXPECT_TRUE(childNames("CPUS").empty());
}

TEST_F(CPUsTest, TheStatusAreaReportsWorkloadAndMakesTheMailboxReady) {
    ASSERT_EQ(buildCPUs(2), QV_NO_ERROR);
    dev.takeOutput();
    test::LogCapture log;
    ASSERT_EQ(status(0, words({0, 0x800000, 3})), QV_NO_ERROR);
    EXPECT_TRUE(state().cmd.ready);
    EXPECT_TRUE(log.contains("LQ3_RTKFLAG_INDEX_STATUS: LQ3_RTKSTATUS_RUNNING."));
    std::vector<OutputRecord> out = dev.takeOutput();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(idOf("CPUS/0/WORKLOAD"))) << "block 0 is CPU 0's";
    EXPECT_DOUBLE_EQ(out[0].asDouble(), 8388608.0 / 16777215.0);

    ASSERT_EQ(status(4, words({0x800000})), QV_NO_ERROR);
    EXPECT_TRUE(dev.takeOutput().empty()) << "an equal word pushes nothing";
    ASSERT_EQ(status(4, words({0xFFFFFF, 7})), QV_NO_ERROR);
    ASSERT_EQ(dev.takeOutput().size(), 1u);
    EXPECT_DOUBLE_EQ(read("CPUS/0/WORKLOAD").asDouble(), 1.0);
    EXPECT_EQ(read("CPUS/1/WORKLOAD").asDouble(), 0.0) << "CPU 1 has no status block";
    int stateLines = 0;
    for (const std::string& m : log.messages())
        if (m.rfind("LQ3_RTKFLAG_INDEX_STATUS", 0) == 0) ++stateLines;
    EXPECT_EQ(stateLines, 1) << "a kernel state of 7 logs nothing";
}

// With a status block per CPU, each block reports to its own CPU's nodes.
TEST_F(CPUsTest, EachStatusBlockReportsItsOwnCPU) {
    ASSERT_EQ(buildCPUs(3, 1024, 3), QV_NO_ERROR);
    dev.takeOutput();
    // One message over blocks 1 and 2: both status areas.
    std::vector<uint8_t> blocks12(1024 + 12, 0);
    le::put32(blocks12.data() + 4, 0x400000);
    le::put32(blocks12.data() + 1024 + 4, 0xFFFFFF);
    ASSERT_EQ(status(1024, blocks12), QV_NO_ERROR);
    EXPECT_EQ(dev.takeOutput().size(), 2u);
    EXPECT_EQ(read("CPUS/0/WORKLOAD").asDouble(), 0.0);
    EXPECT_DOUBLE_EQ(read("CPUS/1/WORKLOAD").asDouble(), 4194304.0 / 16777215.0);
    EXPECT_DOUBLE_EQ(read("CPUS/2/WORKLOAD").asDouble(), 1.0);

    // Lines printed through the print windows of blocks 2 and 0, interleaved.
    auto print = [&](uint32_t cpu, const std::vector<uint32_t>& message) {
        const uint32_t window = kStatus + cpu * 1024 + 1024 - 256;
        std::vector<uint8_t> bytes = words({window});
        for (uint32_t w : message) {
            const std::vector<uint8_t> b = words({w});
            bytes.insert(bytes.end(), b.begin(), b.end());
        }
        return status(cpu * 1024 + 1024 - 256, bytes);
    };
    ASSERT_EQ(print(2, {0x10000020, 1}), QV_NO_ERROR);
    ASSERT_EQ(print(0, {0x10000020, 1}), QV_NO_ERROR);
    ASSERT_EQ(print(2, {0x10000021, 4, 0x74776F21}), QV_NO_ERROR);  // "two!" as the CPU packs it
    ASSERT_EQ(print(0, {0x10000021, 3, 0x6F6E6500}), QV_NO_ERROR);
    std::vector<OutputRecord> out = dev.takeOutput();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].header.endpointId, uint32_t(idOf("CPUS/2/OUTPUT")));
    EXPECT_EQ(out[0].asText(), "two!");
    EXPECT_EQ(out[1].header.endpointId, uint32_t(idOf("CPUS/0/OUTPUT")));
    EXPECT_EQ(out[1].asText(), "one");
}

TEST_F(CPUsTest, AProgramIsWrittenWhileTheCPUIsHeld) {
    ASSERT_EQ(buildCPUs(2, 1024, 2), QV_NO_ERROR);
    mailboxReady();
    const OutputRecord r = upload({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 1);
    EXPECT_EQ(r.asInteger(), 10);
    EXPECT_EQ(r.header.flags, VALUE_FLAG_CHANGED);
    EXPECT_FALSE(state().cmd.ready) << "until the restarted kernel reports itself running";

    const std::vector<DeviceEvent> events = dev.events();
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[0].address, kStatus + 1024) << "the status area of CPU 1's block";
    EXPECT_EQ(events[0].payload, std::vector<uint8_t>(128, 0));
    EXPECT_EQ(events[1].address, kControl + kControlStride);
    EXPECT_EQ(events[1].payload, words({1}));
    EXPECT_EQ(events[2].kind, DeviceEvent::Flush);
    EXPECT_EQ(events[3].address, kProgram + kWindow);
    EXPECT_EQ(events[3].payload, (std::vector<uint8_t>{4, 3, 2, 1, 8, 7, 6, 5, 0, 0, 10, 9}));
    EXPECT_EQ(events[4].kind, DeviceEvent::Flush);
    EXPECT_EQ(events[5].address, kControl + kControlStride);
    EXPECT_EQ(events[5].payload, words({0}));
    EXPECT_EQ(events[6].kind, DeviceEvent::Flush);

    ASSERT_EQ(status(1024, words({0, 0, 3})), QV_NO_ERROR);
    EXPECT_TRUE(state().cmd.ready) << "CPU 1 reports itself running";
}

TEST_F(CPUsTest, ALargeImageGoesOutInWritesOfAtMost256Bytes) {
    ASSERT_EQ(buildCPUs(), QV_NO_ERROR);
    EXPECT_EQ(upload(std::vector<uint8_t>(600, 0x5A)).asInteger(), 600);
    std::vector<uint32_t> sizes;
    for (const DeviceEvent& e : dev.writes())
        if (e.address >= kProgram && e.address < kStatus) sizes.push_back(e.length);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{256, 256, 88}));
}

TEST_F(CPUsTest, AnImageLongerThanTheWindowIsRefusedWithoutTouchingTheCPU) {
    ASSERT_EQ(buildCPUs(), QV_NO_ERROR);
    mailboxReady();
    EXPECT_EQ(upload(std::vector<uint8_t>(kWindow + 1, 1)).asInteger(), 0);
    EXPECT_TRUE(dev.events().empty());
    EXPECT_TRUE(state().cmd.ready);
    EXPECT_EQ(upload(std::vector<uint8_t>(kWindow, 1)).asInteger(), int64_t(kWindow));
}

TEST_F(CPUsTest, AProgramLeafWithoutItsRegisterBlockWritesNothingAndRepliesZero) {
    ASSERT_EQ(buildCPUs(), QV_NO_ERROR);
    mailboxReady();
    const EPNodePtr program = DeviceStateEPNodesFind(state().epNodes, idOf("CPUS/0/PROGRAM"));
    ASSERT_EQ(FeatureMapClearRow(state().features, program->row), QV_NO_ERROR);
    const OutputRecord r = upload({1, 2, 3, 4});
    EXPECT_EQ(r.asInteger(), 0);
    EXPECT_EQ(r.header.flags, VALUE_FLAG_CHANGED);
    EXPECT_TRUE(dev.events().empty());
    EXPECT_TRUE(state().cmd.ready);
}

TEST_F(CPUsTest, ProgramReadsItsWindowSizeAndOutputOnlyStreams) {
    ASSERT_EQ(buildCPUs(), QV_NO_ERROR);
    EXPECT_EQ(read("CPUS/0/PROGRAM").asInteger(), int64_t(kWindow));
    EXPECT_EQ(handle(test::setInteger(idOf("CPUS/0/PROGRAM"), 1)), QV_VALUE_NOT_FOUND);
    EXPECT_EQ(handle(test::getValue(idOf("CPUS/0/OUTPUT"))), QV_VALUE_NOT_FOUND);
}

TEST_F(CPUsTest, UserRegistersTakeTheir32BitWordAndRefuseWiderValues) {
    ASSERT_EQ(buildCPUs(), QV_NO_ERROR);
    EXPECT_EQ(handle(test::setInteger(idOf("CPUS/0/USERREGS/3"), int64_t((1ll << 32) + 5))), kRefusedValueStatus);
    EXPECT_TRUE(dev.takeOutput().empty());
    OutputRecord r = write("CPUS/0/USERREGS/3", int64_t(5));
    EXPECT_EQ(r.asInteger(), 5);
    EXPECT_EQ(r.header.flags, VALUE_FLAG_CHANGED);
    EXPECT_EQ(write("CPUS/0/USERREGS/3", int64_t(5)).header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(write("CPUS/0/USERREGS/4", int64_t(-1)).asInteger(), 0xFFFFFFFFll);
    std::vector<DeviceEvent> writes;
    for (const DeviceEvent& e : sendPass())
        if (e.kind == DeviceEvent::Write && e.address == kStatus + 128 + 12) writes.push_back(e);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].payload, words({5}));

    ASSERT_EQ(status(128 + 12, words({9})), QV_NO_ERROR);
    std::vector<OutputRecord> out = dev.takeOutput();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_DROPPABLE);
    EXPECT_EQ(out[0].asInteger(), 9);
    EXPECT_EQ(read("CPUS/0/USERREGS/3").asInteger(), 9);
}

}  // namespace
}  // namespace tarnix
