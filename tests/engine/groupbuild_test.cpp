#include "ScriptedInstrument.h"

#include "core/LogCapture.h"
#include "core/QVException.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/TreeNotices.h"
#include "engine/FeatureGroupBuild.h"
#include "engine/FeatureInitMap.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tarnix {
namespace {

using test::completeList;
using test::kAperture;
using test::ListBuilder;
using GroupBuildTest = test::DiscoveryFixture;

const std::vector<std::string> kFullDevice = {"CLOCKBASE", "SYSTEM",  "FEATURES", "STATUS",  "STATS",
                                              "RAW",       "DEMODS",  "OSCS",     "MODS",    "PLLS",
                                              "PIDS",      "SIGINS",  "SIGOUTS",  "SCOPES",  "DIOS",
                                              "AUXINS",    "AUXOUTS", "CPUS",     "KCTRLS"};

int countOf(const test::LogCapture& log, const std::string& message) {
    const auto all = log.messages();
    return int(std::count(all.begin(), all.end(), message));
}

bool loggedErrorInProcessFeature(const test::LogCapture& log) {
    for (const auto& m : log.messages())
        if (m.rfind("Error in ", 0) == 0 && m.find("LQ3ProcessFeature") != std::string::npos) return true;
    return false;
}

// Delivers a list as the instrument would after the device has asked for it.
void deliverList(test::ScriptedInstrument& instrument, const ListBuilder& list) {
    instrument.load(kAperture, list.aperture());
    instrument.deliver(kAperture, list.aperture()).ignore();
}

TEST_F(GroupBuildTest, FullListBuildsEveryGroupInFeatureOrderAndSortsTheRoots) {
    instrument.loadList(completeList());
    instrument.runDiscovery();
    ASSERT_EQ(state().bootStep, BootStep::Done);
    EXPECT_EQ(deviceChildren(), kFullDevice);

    std::vector<int> built;
    for (const auto& group : state().nodeGroups) built.push_back(group->typeId);
    // STATS and RAW come with the device; then the list's groups in processing order.
    const std::vector<int> expected = {45, 57, 26, 18, 169, 160, 180, 75, 78, 63, 133, 139, 173, 104, 84, 21, 150, 187};
    EXPECT_EQ(built, expected);
    EXPECT_EQ(state().cmd.dataAddress, test::kMailboxData) << "code 15 located the mailbox";
}

TEST_F(GroupBuildTest, RecordsThatNoRowTakesAreLoggedAsNotProcessed) {
    ListBuilder list = completeList();
    list.record(3, {{0x02000000, 0, 0x100, 1}, {0x02001000, 0, 0x100, 2}}, "SECONDDM");
    list.raw(20, {1, 2, 3, 4}, "UNKNOWN!");
    instrument.loadList(list);
    test::LogCapture log;
    instrument.runDiscovery();
    EXPECT_EQ(countOf(log, "Not processed feature:"), 2);
    EXPECT_TRUE(log.contains("Code = 0003"));
    EXPECT_TRUE(log.contains("Name = 'SECONDDM' (Code=0003)"));
    EXPECT_TRUE(log.contains("Code = 0014"));
    EXPECT_TRUE(log.contains("Length = 20"));
    EXPECT_TRUE(log.contains("FEATURELIST_DONE!"));
    EXPECT_EQ(deviceChildren(), kFullDevice);
}

TEST_F(GroupBuildTest, GroupsWithLinkFunctionsExistWithoutTheirRecords) {
    instrument.loadList(ListBuilder()
                            .record(12, {{test::kSystemBlock, 0, 0x40, 1}})
                            .record(17, {{test::kFeaturesBlock, 0, 60, 1}}));
    instrument.runDiscovery();
    EXPECT_EQ(deviceChildren(), (std::vector<std::string>{"CLOCKBASE", "SYSTEM", "FEATURES", "STATS", "RAW", "DEMODS",
                                                          "PLLS", "SIGOUTS", "AUXOUTS"}));
    EXPECT_EQ(child("DEMODS")->childCount(), 0u);
}

TEST_F(GroupBuildTest, FailedRunIsRepeatedAndRebuildsWithoutDuplicates) {
    // SCOPES comes after FEATURES, whose value is asked for and arrives.
    ListBuilder bad = completeList(7);
    bad.record(7, {{0x01016000, 0, 0x40, 1}, {0x01016100, 0, 0x1000, 2}});
    instrument.loadList(bad, 0, 0x40);
    test::LogCapture log;
    instrument.pass();
    instrument.pass();
    EXPECT_EQ(state().epNodes.awaitingCount, 0u);
    EXPECT_TRUE(loggedErrorInProcessFeature(log));
    EXPECT_FALSE(log.contains("FEATURELIST_DONE!"));
    EXPECT_EQ(state().bootStep, BootStep::Build);
    EXPECT_FALSE(dev.initialized) << "a device is not announced from a list that failed";

    instrument.loadList(completeList(), 0, 0x40);
    dev.advance(std::chrono::milliseconds(400));
    instrument.pass();
    instrument.pass();
    EXPECT_TRUE(log.contains("FEATURELIST_DONE!"));
    EXPECT_EQ(deviceChildren(), kFullDevice);
    EXPECT_EQ(child("FEATURES")->childCount(), 3u);
    EXPECT_TRUE(dev.initialized);
    EXPECT_EQ(state().initCounter, 0);
}

TEST_F(GroupBuildTest, MalformedRecordsEndTheRunAndTheDeviceIsNotAnnounced) {
    struct Case {
        const char* what;
        ListBuilder list;
        const char* logLine;
    };
    const Case cases[] = {
        {"a mailbox record under 32 bytes", completeList(15).raw(15, std::vector<uint8_t>(16)),
         "The mailbox feature needs two register blocks (32 bytes), got 16."},
        {"a code-1 record with 3 bytes", completeList(1).raw(1, {1, 2, 3}), nullptr},
        {"a block count that is not a whole number of blocks", completeList(4).raw(4, std::vector<uint8_t>(20)),
         nullptr},
        {"an absurd instance count", completeList(4).record(4, {{0x01012000, 0, 4, 0x10000000}}),
         "Refusing a register block with 268435456 instances at 0x01012000 (maximum 65536)."},
        {"a FEATURES block of another size", completeList(17).record(17, {{test::kFeaturesBlock, 0, 64, 1}}),
         "FEATURES block refused: 1 instances of 64 bytes at 0x01001000 (one block of 60 bytes expected)."},
        {"a duplicate block address", completeList(4).record(4, {{test::kSystemBlock, 0, 0x10, 1}}), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::FakeDevice device(99);
        ASSERT_EQ(DeviceStateCreate(device), QV_NO_ERROR);
        test::ScriptedInstrument script(device);
        script.loadList(c.list);
        test::LogCapture log;
        for (int i = 0; i < 3; ++i) script.pass();
        EXPECT_TRUE(loggedErrorInProcessFeature(log));
        if (c.logLine) {
            EXPECT_TRUE(log.contains(c.logLine));
        }
        EXPECT_EQ(device.state().bootStep, BootStep::Build);
        EXPECT_FALSE(device.initialized);
        EXPECT_GT(device.state().initCounter, 0);
    }
}

TEST_F(GroupBuildTest, ShortRecordLengthKeepsDiscoveryInStep3) {
    ListBuilder list = completeList();
    list.raw(7, {}, "SHORTLEN", 8);
    instrument.loadList(list);
    instrument.pass();
    EXPECT_EQ(instrument.lastStatus, QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(state().bootStep, BootStep::List);
    EXPECT_FALSE(dev.initialized);
}

TEST_F(GroupBuildTest, EmptyListInStep5BuildsOnlyTheLinkGroups) {
    instrument.loadList(ListBuilder());
    test::LogCapture log;
    instrument.pass();
    instrument.pass();
    EXPECT_EQ(state().bootStep, BootStep::List) << "without a SYSTEM record discovery waits in step 3";

    // Handed an empty list in step 5: nothing counted, nothing done.
    state().bootStep = BootStep::Build;
    const int counter = state().initCounter;
    deliverList(instrument, ListBuilder());
    EXPECT_EQ(instrument.lastStatus, QV_NO_ERROR);
    EXPECT_FALSE(log.contains("FEATURELIST_DONE!"));
    EXPECT_EQ(state().bootStep, BootStep::Build);
    EXPECT_EQ(state().initCounter, counter);
    EXPECT_EQ(deviceChildren(),
              (std::vector<std::string>{"CLOCKBASE", "STATS", "RAW", "DEMODS", "PLLS", "SIGOUTS", "AUXOUTS"}));
}

TEST_F(GroupBuildTest, LaterListsRebuildOnlyTheKCtrlGroup) {
    instrument.loadList(completeList());
    instrument.runDiscovery();
    instrument.pass();
    ASSERT_TRUE(dev.initialized);
    const TreeNode::Ptr kctrls = child("KCTRLS");
    const TreeNode::Ptr system = child("SYSTEM");

    std::vector<uint8_t> codes;
    dev.treeRegistry().setTreeNoticeSink([&](const TreeNode::Ptr&, uint8_t code) { codes.push_back(code); });
    test::LogCapture log;
    deliverList(instrument, ListBuilder()
                                .record(12, {{test::kSystemBlock, 0, 0x40, 1}})
                                .record(14, {{0x0101C000, 0, 0x20, 2}}));
    dev.treeRegistry().setTreeNoticeSink(nullptr);
    EXPECT_EQ(instrument.lastStatus, QV_NO_ERROR);
    EXPECT_TRUE(log.contains("Code = 000c")) << "SYSTEM is not processed in the last step";
    EXPECT_TRUE(log.contains("FEATURELIST_DONE!"));
    EXPECT_EQ(codes, std::vector<uint8_t>{TREE_CHANGE_CHANGED});
    EXPECT_EQ(child("KCTRLS"), kctrls) << "rebuilt in place";
    EXPECT_EQ(child("SYSTEM"), system);
    EXPECT_EQ(deviceChildren(), kFullDevice);
}

TEST_F(GroupBuildTest, ADeviceFailureWhileTheGroupsAreBuiltEndsTheDevice) {
    // An instrument that stops taking data: the flush of a group's init fails.
    struct StalledDevice : test::FakeDevice {
        using test::FakeDevice::FakeDevice;
        void flush() override { QV_THROW(QVDeviceException("Device does no more receive write data.")); }
    };
    StalledDevice device(98);
    ASSERT_EQ(DeviceStateCreate(device), QV_NO_ERROR);
    test::ScriptedInstrument script(device);
    script.loadList(completeList());
    try {
        script.runDiscovery();
        FAIL() << "the failure was swallowed";
    } catch (const QVDeviceException& e) {
        EXPECT_STREQ(e.what(), "Device does no more receive write data.");
    }
}

TEST_F(GroupBuildTest, ProcessFeatureAppendsTheRowsGroupTypeId) {
    std::vector<int> ids;
    const std::vector<uint8_t> four = {1, 2, 3, 4};
    FeatureHeader header;
    header.name = "CODE....";
    header.code = 2;
    EXPECT_EQ(LQ3ProcessFeature(dev, header, four.data(), 4, ids), QV_NO_ERROR);
    header.code = 1;
    EXPECT_EQ(LQ3ProcessFeature(dev, header, four.data(), 3, ids), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(LQ3ProcessFeature(dev, header, four.data(), 4, ids), QV_NO_ERROR);
    header.code = 20;
    EXPECT_EQ(LQ3ProcessFeature(dev, header, four.data(), 4, ids), QV_NO_ERROR);
    header.code = 4;
    const std::vector<uint8_t> block = ListBuilder().record(4, {{0x01012000, 0, 0x10, 4}}).bytes;
    EXPECT_EQ(LQ3ProcessFeature(dev, header, block.data() + 16, 16, ids), QV_NO_ERROR);
    EXPECT_EQ(ids, (std::vector<int>{0, 0, 0, 75})) << "a code without a row adds nothing";
}

TEST_F(GroupBuildTest, AGroupIsMadeOncePerDevice) {
    DispatcherTreeLocker lock(state().tree);
    const FeatureInitMapEntryPtr demods = FeatureInitMapFind(dev.featureInitMap(), 3);
    DeviceStateNodeGroup* first = nullptr;
    DeviceStateNodeGroup* second = nullptr;
    ASSERT_EQ(demods->getOrCreateGroup(dev, lock.getNode(), &first), QV_NO_ERROR);
    ASSERT_EQ(demods->getOrCreateGroup(dev, lock.getNode(), &second), QV_NO_ERROR);
    EXPECT_EQ(first, second);
    int demodsNodes = 0;
    for (const auto& c : lock.getNode()->children()) demodsNodes += c->getName() == "DEMODS";
    EXPECT_EQ(demodsNodes, 1);

    DeviceStateNodeGroup* none = first;
    EXPECT_EQ(FeatureInitMapFind(dev.featureInitMap(), 15)->getOrCreateGroup(dev, lock.getNode(), &none), QV_VALUE_NOT_FOUND);
    EXPECT_EQ(none, nullptr);

    DeviceStateNodeGroup* kctrls = nullptr;
    ASSERT_EQ(FeatureInitMapFind(dev.featureInitMap(), 14)->getOrCreateGroup(dev, lock.getNode(), &kctrls), QV_NO_ERROR);
    const TreeNode::Ptr node = DeviceStateNodeGroupNode(*kctrls);
    EXPECT_EQ(node->getName(), "KCTRLS");
    EXPECT_EQ(node->nodeTypeId(), 187);
    EXPECT_EQ(node->siblingOrder(), 19);
    EXPECT_EQ(node->properties().count("short"), 1u);
    EXPECT_EQ(node->properties().count("note"), 1u);
    EXPECT_EQ(node->properties().count("detailed"), 0u);
}

TEST_F(GroupBuildTest, EmptyingAGroupClosesTheBatchItWasWaitingFor) {
    DispatcherTreeLocker lock(state().tree);
    DeviceStateNodeGroup* features = nullptr;
    ASSERT_EQ(FeatureInitMapFind(dev.featureInitMap(), 17)->getOrCreateGroup(dev, lock.getNode(), &features), QV_NO_ERROR);
    EPNodePtr ep = DeviceStateCreateEP<test::TestLeaf>(dev, features, features->node, 4, 0, -1, 0, 0, -1);
    ASSERT_EQ(DeviceStateRequestEP(dev, ep->epId), QV_NO_ERROR);
    ASSERT_EQ(state().initCounter, 1) << "the group's value is awaited";
    ASSERT_EQ(DeviceStateNodeGroupClear(dev, *features), QV_NO_ERROR);
    EXPECT_EQ(state().epNodes.awaitingCount, 0u);
    EXPECT_EQ(state().initCounter, 0);
}

}  // namespace
}  // namespace tarnix
