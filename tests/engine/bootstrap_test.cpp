#include "ScriptedInstrument.h"

#include "core/LogCapture.h"
#include "core/tree/TreeNotices.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using test::completeList;
using test::DeviceEvent;
using test::kAperture;
using test::kSystemBlock;
using test::ListBuilder;
using BootstrapTest = test::DiscoveryFixture;

struct Req {
    uint32_t address;
    uint32_t length;
    bool operator==(const Req& o) const { return address == o.address && length == o.length; }
};
std::ostream& operator<<(std::ostream& os, const Req& r) {
    return os << std::hex << r.address << "/" << std::dec << r.length;
}

std::vector<Req> requestsOf(const std::vector<DeviceEvent>& events) {
    std::vector<Req> out;
    for (const DeviceEvent& e : events)
        if (e.kind == DeviceEvent::Request) out.push_back({e.address, e.length});
    return out;
}

TEST_F(BootstrapTest, ReadsHeaderListBoardRegisterAndListAgainThenBuilds) {
    const ListBuilder list = completeList();
    const uint32_t whole = 12 + uint32_t(list.bytes.size());
    instrument.loadList(list);
    test::LogCapture log;

    std::vector<Req> order;
    for (int i = 0; i < 6 && state().bootStep != BootStep::Done; ++i) {
        for (const Req& r : requestsOf(instrument.pass())) order.push_back(r);
    }
    ASSERT_GE(order.size(), 4u);
    EXPECT_EQ(order[0], (Req{kAperture, 12}));
    EXPECT_EQ(order[1], (Req{kAperture, whole}));
    EXPECT_EQ(order[2], (Req{kSystemBlock + 8, 4}));
    EXPECT_EQ(order[3], (Req{kAperture, whole}));
    EXPECT_EQ(state().bootStep, BootStep::Done);
    EXPECT_TRUE(log.contains("FEATURELIST_DONE!"));
    EXPECT_EQ(state().hwInfoRow, -1) << "the board-register item is gone once read";
    EXPECT_FALSE(log.contains("Error in tarnix::LQ3ProcessFeature"));
}

TEST_F(BootstrapTest, UnansweredRequestsAreRepeatedEvery400ms) {
    const ListBuilder list = completeList();
    const uint32_t whole = 12 + uint32_t(list.bytes.size());
    struct Case {
        BootStep step;
        Req again;
        const char* text;
    };
    char apertureText[128], listText[128], boardText[128];
    std::snprintf(apertureText, sizeof apertureText,
                  "Requesting featurelist aperture again (Address=%08x, Length=%u)!", kAperture, 12u);
    std::snprintf(listText, sizeof listText, "Requesting whole featurelist again (Address=%08x, Length=%u)!",
                  kAperture, whole);
    std::snprintf(boardText, sizeof boardText, "Requesting whole board register again (Address=%08x, Length=%u)!",
                  kSystemBlock + 8, 4u);
    const Case cases[] = {{BootStep::Aperture, {kAperture, 12}, apertureText},
                          {BootStep::List, {kAperture, whole}, listText},
                          {BootStep::Board, {kSystemBlock + 8, 4}, boardText},
                          {BootStep::Build, {kAperture, whole}, listText}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.step));
        // A fresh device: the answers that reach the step, then none.
        test::FakeDevice device(5678);
        ASSERT_EQ(DeviceStateCreate(device), QV_NO_ERROR);
        test::ScriptedInstrument script(device);
        script.loadList(list);
        test::LogCapture log;
        script.pass(int(c.step) - int(BootStep::Aperture));
        ASSERT_EQ(device.state().bootStep, c.step);
        script.pass(0);  // starts the interval when the last request left it unset
        device.advance(std::chrono::milliseconds(397));
        EXPECT_TRUE(script.pass(0).empty()) << "not before 400 ms";
        for (int round = 0; round < 2; ++round) {
            device.advance(std::chrono::milliseconds(399));
            EXPECT_EQ(requestsOf(script.pass(0)), std::vector<Req>{c.again});
        }
        int warnings = 0;
        for (const auto& r : log.records())
            if (r.message == c.text && r.severity == logging::warning) ++warnings;
        EXPECT_EQ(warnings, 2);
        EXPECT_EQ(device.state().bootStep, c.step);
    }
}

TEST_F(BootstrapTest, ApertureHeaderChecks) {
    instrument.pass(0);
    ASSERT_EQ(state().bootStep, BootStep::Aperture);
    const std::vector<uint8_t> good = completeList().aperture();
    EXPECT_EQ(instrument.deliver(kAperture, std::vector<uint8_t>(good.begin(), good.begin() + 11)),
              QV_BUFFER_TOO_SMALL);
    std::vector<uint8_t> zeroTag = completeList().aperture("FEATURE\0");
    EXPECT_EQ(instrument.deliver(kAperture, zeroTag), QV_NO_ERROR);
    EXPECT_EQ(state().bootStep, BootStep::Aperture) << "a wrong tag is ignored";
    std::vector<uint8_t> huge = good;
    le::put32(huge.data() + 8, 0x7FFFFFFF);
    EXPECT_EQ(instrument.deliver(kAperture, huge), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(instrument.deliver(kAperture + 4, good), QV_NO_ERROR) << "only blocks at the aperture count";
    EXPECT_EQ(state().bootStep, BootStep::Aperture);

    // ... and the header is asked for again after the interval.
    instrument.pass(0);
    dev.advance(std::chrono::milliseconds(400));
    EXPECT_EQ(requestsOf(instrument.pass(0)), (std::vector<Req>{{kAperture, 12}}));
    EXPECT_EQ(instrument.deliver(kAperture, good), QV_NO_ERROR);
    EXPECT_EQ(state().bootStep, BootStep::List);
}

TEST_F(BootstrapTest, BoardRegisterFillsHwInfo) {
    instrument.loadList(ListBuilder().record(12, {{kSystemBlock, 0, 0x40, 1}}), 11);
    instrument.runDiscovery();
    EXPECT_EQ(state().hwInfo.raw, 11u);
    EXPECT_EQ(state().hwInfo.revision, 3u);
    EXPECT_TRUE(state().hwInfo.flag);
}

TEST_F(BootstrapTest, ListWithoutSystemIsRequestedAgainInStep3) {
    instrument.loadList(ListBuilder().record(4, {{0x01012000, 0, 0x10, 4}}));
    instrument.pass();
    instrument.pass();
    EXPECT_EQ(state().bootStep, BootStep::List);
    dev.advance(std::chrono::milliseconds(400));
    EXPECT_EQ(requestsOf(instrument.pass(0)).size(), 1u);
}

TEST_F(BootstrapTest, SystemRecordWithoutBlockIsRefusedAndLogged) {
    instrument.loadList(ListBuilder().raw(12, {}));
    test::LogCapture log;
    instrument.pass();
    EXPECT_EQ(instrument.lastStatus, QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(state().bootStep, BootStep::List);
    EXPECT_TRUE(log.contains("The SYSTEM feature carries no register block (0 data bytes); the board register "
                             "can't be located."));
}

TEST_F(BootstrapTest, ShortBoardRegisterIsRefusedAndLogged) {
    instrument.loadList(completeList());
    instrument.load(kSystemBlock + 8, {1, 2});
    test::LogCapture log;
    instrument.pass();
    instrument.pass();
    EXPECT_EQ(state().bootStep, BootStep::Board);
    EXPECT_EQ(instrument.lastStatus, QV_BUFFER_TOO_SMALL);
    EXPECT_TRUE(log.contains("The board register arrived with 2 bytes instead of 4."));
    EXPECT_FALSE(dev.initialized);
}

TEST_F(BootstrapTest, DuplicateListAnswerInStep4IsIgnored) {
    const ListBuilder list = completeList();
    instrument.loadList(list);
    instrument.pass(2);
    ASSERT_EQ(state().bootStep, BootStep::Board);
    EXPECT_EQ(instrument.deliver(kAperture, list.aperture()), QV_NO_ERROR);
    EXPECT_EQ(state().bootStep, BootStep::Board);
    EXPECT_EQ(state().nodeGroups.size(), 2u) << "nothing built";
}

TEST_F(BootstrapTest, AnnouncedOnlyAfterEveryRequestedValueArrived) {
    instrument.loadList(completeList(), 0, 0x29);
    std::vector<uint8_t> codes;
    dev.treeRegistry().setTreeNoticeSink([&](const TreeNode::Ptr&, uint8_t code) { codes.push_back(code); });
    // Build, but keep the FEATURES block back.
    for (int i = 0; i < 100 && state().bootStep != BootStep::Done; ++i) instrument.pass();
    ASSERT_EQ(state().bootStep, BootStep::Done) << "the list was not built within 100 passes";
    EXPECT_FALSE(dev.initialized) << "the list is built, the OPTIONS value has not arrived";
    EXPECT_TRUE(codes.empty());
    test::LogCapture log;
    instrument.pass();  // requests OPTIONS and gets it
    dev.treeRegistry().setTreeNoticeSink(nullptr);
    EXPECT_TRUE(dev.initialized);
    EXPECT_EQ(state().initCounter, 0);
    EXPECT_TRUE(log.contains("Start LED animation."));
    EXPECT_EQ(codes, std::vector<uint8_t>{TREE_CHANGE_NEW});
}

TEST_F(BootstrapTest, RestartBeforeTheBoardRegisterCompletesDiscovery) {
    instrument.loadList(completeList());
    instrument.pass(2);
    ASSERT_EQ(state().bootStep, BootStep::Board);
    ASSERT_NE(state().hwInfoRow, -1);
    DeviceStateBootstrapRestart(dev);
    instrument.runDiscovery();
    EXPECT_EQ(state().bootStep, BootStep::Done) << "the stale board-register item must not block step 3";
}

TEST_F(BootstrapTest, RestartInStep6RebuildsEveryGroupOnce) {
    instrument.loadList(completeList());
    instrument.runDiscovery();
    instrument.pass();
    ASSERT_TRUE(dev.initialized);
    const std::vector<std::string> before = deviceChildren();
    const std::size_t groups = state().nodeGroups.size();

    std::vector<uint8_t> codes;
    dev.treeRegistry().setTreeNoticeSink([&](const TreeNode::Ptr&, uint8_t code) { codes.push_back(code); });
    test::LogCapture log;
    DeviceStateBootstrapRestart(dev);
    instrument.runDiscovery();
    instrument.pass();
    dev.treeRegistry().setTreeNoticeSink(nullptr);
    EXPECT_TRUE(log.contains("FEATURELIST_DONE!"));
    EXPECT_EQ(deviceChildren(), before);
    EXPECT_EQ(state().nodeGroups.size(), groups);
    EXPECT_EQ(child("FEATURES")->childCount(), 3u);
    EXPECT_EQ(state().initCounter, 0);
    EXPECT_EQ(codes, std::vector<uint8_t>{TREE_CHANGE_CHANGED});
}

}  // namespace
}  // namespace tarnix
