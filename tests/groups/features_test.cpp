#include "engine/ScriptedInstrument.h"

#include "core/tree/DispatcherTreeLock.h"
#include "groups/Features.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using test::completeList;
using test::OutputRecord;

class FeaturesTest : public test::DiscoveryFixture {
protected:
    // Discovery with the given board word and options mask, up to the arrival
    // of the FEATURES block; returns what the device pushed.
    std::vector<OutputRecord> discover(uint32_t boardWord, uint64_t mask) {
        instrument.loadList(completeList(), boardWord, mask);
        instrument.runDiscovery();
        instrument.pass();
        EXPECT_TRUE(dev.initialized);
        return dev.takeOutput();
    }
    int32_t idOf(const std::string& leaf) {
        for (const auto& c : child("FEATURES")->children())
            if (c->getName() == leaf) return c->endpoint()->id;
        return -1;
    }
    // The texts pushed to subscribers on one leaf.
    std::vector<std::string> pushes(const std::vector<OutputRecord>& records, const std::string& leaf) {
        std::vector<std::string> texts;
        for (const OutputRecord& r : records) {
            if (r.header.endpointId != uint32_t(idOf(leaf))) continue;
            EXPECT_EQ(r.header.kind, DATATYPE_BYTEARRAY);
            EXPECT_EQ(r.header.flags, VALUE_FLAG_CHANGED);
            EXPECT_EQ(r.header.sequenceTag, kUnsolicitedSequenceTag);
            EXPECT_EQ(r.header.sessionTag, kUnsolicitedSessionTag);
            texts.push_back(r.asText());
        }
        return texts;
    }
    std::string read(const std::string& leaf) {
        const std::vector<uint8_t> request = test::getValue(idOf(leaf));
        EXPECT_EQ(DeviceStateMsgHandler(dev, request.data(), uint32_t(request.size())), QV_NO_ERROR);
        const std::vector<OutputRecord> out = dev.takeOutput();
        if (out.size() != 1) {
            ADD_FAILURE() << "one reply expected, got " << out.size();
            return std::string();
        }
        EXPECT_EQ(out[0].header.sequenceTag, 7);
        EXPECT_EQ(out[0].header.sessionTag, 3);
        EXPECT_EQ(out[0].header.flags, VALUE_FLAG_REPLY_ONLY);
        return out[0].asText();
    }
    void deliverFeaturesBlock(uint64_t mask) {
        std::vector<uint8_t> block(kFeaturesBlockBytes, 0xAA);
        le::put64(block.data() + kFeaturesMaskOffset, mask);
        instrument.deliver(test::kFeaturesBlock, block).ignore();
    }
};

TEST_F(FeaturesTest, LeavesAndTheirHelp) {
    discover(0, 0);
    const TreeNode::Ptr features = child("FEATURES");
    ASSERT_EQ(features->childCount(), 3u);
    struct Expected {
        const char* name;
        int32_t typeId;
        const char* shortText;
    };
    const Expected leaves[] = {{"SERIAL", 22, "Node providing the serial number of the device."},
                               {"DEVTYPE", 23, "Node providing a string about the type of device."},
                               {"OPTIONS", 24, "Node giving information on enabled options."}};
    for (std::size_t i = 0; i < 3; ++i) {
        const TreeNode::Ptr leaf = features->childAt(i);
        EXPECT_EQ(leaf->getName(), leaves[i].name);
        EXPECT_EQ(leaf->nodeTypeId(), leaves[i].typeId);
        EXPECT_EQ(leaf->siblingOrder(), int64_t(i + 1));
        std::string text, readKind;
        ASSERT_TRUE(leaf->getProperty("short", text));
        EXPECT_EQ(text, leaves[i].shortText);
        ASSERT_TRUE(leaf->getProperty("read", readKind));
        EXPECT_EQ(readKind, "bytearray");
        EXPECT_TRUE(leaf->endpoint());
    }
    std::string detailed;
    ASSERT_TRUE(features->childAt(2)->getProperty("detailed", detailed));
    EXPECT_EQ(detailed,
              "Reading this node returns a string containing a newline-separated list of all installed options.");
    EXPECT_EQ(features->nodeTypeId(), 21);
    EXPECT_EQ(features->siblingOrder(), 3);
}

TEST_F(FeaturesTest, SerialReadsTheDevicesSerialNumber) {
    discover(0, 0);
    EXPECT_EQ(read("SERIAL"), "1234");
}

TEST_F(FeaturesTest, OptionsAndDeviceTypeFromTheMask) {
    struct Case {
        uint32_t boardWord;
        uint64_t mask;
        std::vector<std::string> optionPushes;
        std::vector<std::string> devTypePushes;
        const char* devType;
    };
    const Case cases[] = {
        {0, 0x29, {"MDL\nRTC\nXDM"}, {}, "DEFAULT"},
        {0, 0x50, {"HFR"}, {"LQ3LI"}, "LQ3LI"},
        {2, 0x50, {""}, {"LQ3LI"}, "LQ3LI"},            // revision 2, flag clear: bit 4 ignored
        {2 | 8, 0x40, {"HFR"}, {"LQ3LI"}, "LQ3LI"},     // flag set: bit 4 counts
        {0, 0xFFFFFFFFFFFFFF00ull, {""}, {}, "DEFAULT"},  // unnamed bits only: an empty text is pushed
        {0, 0xBF, {"MDL\nPLX\nPIX\nRTC\nHFR\nXDM"}, {"LQ3IS"}, "LQ3IS"},
        {0, 0xC0, {""}, {"UNKNOWN"}, "UNKNOWN"},
        {0, 0, {}, {}, "DEFAULT"},  // nothing differs from the stored values
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        EXPECT_EQ(DeviceStateDestroy(dev), QV_NO_ERROR);
        ASSERT_EQ(DeviceStateCreate(dev), QV_NO_ERROR);
        dev.initialized = false;
        const std::vector<OutputRecord> out = discover(c.boardWord, c.mask);
        EXPECT_EQ(pushes(out, "OPTIONS"), c.optionPushes);
        EXPECT_EQ(pushes(out, "DEVTYPE"), c.devTypePushes);
        EXPECT_EQ(read("DEVTYPE"), c.devType);
        EXPECT_EQ(read("OPTIONS"), c.optionPushes.empty() ? "" : c.optionPushes[0]);
    }
}

TEST_F(FeaturesTest, TheSameBlockAgainPushesNothing) {
    discover(0, 0x50);
    deliverFeaturesBlock(0x50);
    EXPECT_TRUE(dev.takeOutput().empty());
    deliverFeaturesBlock(0x09);
    const std::vector<OutputRecord> out = dev.takeOutput();
    EXPECT_EQ(pushes(out, "OPTIONS"), std::vector<std::string>{"MDL\nRTC"});
    EXPECT_EQ(pushes(out, "DEVTYPE"), std::vector<std::string>{"DEFAULT"});
}

TEST_F(FeaturesTest, BlocksOfAnotherLengthAreRefused) {
    discover(0, 0x29);
    EPNodePtr options = DeviceStateEPNodesFind(state().epNodes, idOf("OPTIONS"));
    EPNodePtr devType = DeviceStateEPNodesFind(state().epNodes, idOf("DEVTYPE"));
    std::vector<uint8_t> block(59, 0xFF);
    EXPECT_EQ(FeaturesOptionsUpdateData(dev, options, block.data(), 59), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(FeaturesDevTypeUpdateData(dev, devType, block.data(), 7), QV_BUFFER_TOO_SMALL);
    EXPECT_TRUE(dev.takeOutput().empty());
    EXPECT_EQ(read("OPTIONS"), "MDL\nRTC\nXDM");
}

TEST_F(FeaturesTest, InitRefusesAnotherBlockCountAndBuildsNothing) {
    DispatcherTreeLocker lock(state().tree);
    DeviceStateNodeGroup* group = nullptr;
    ASSERT_EQ(DeviceStateGetNodeGroup<NodeDefs::LQ3::Features>(dev, &group, lock.getNode()), QV_NO_ERROR);
    Feature* a = nullptr;
    Feature* b = nullptr;
    ASSERT_EQ(FeatureMapInsert(state().features, 0x3000, 1, 60, 0, "FEATURES", &a), QV_NO_ERROR);
    ASSERT_EQ(FeatureMapInsert(state().features, 0x4000, 1, 60, 0, "FEATURES", &b), QV_NO_ERROR);
    EXPECT_EQ(FeaturesFeatureInit(dev, group, group->node, 1, {a, b}, 2), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(group->node->childCount(), 0u);
    EXPECT_TRUE(group->eps.empty());
}

}  // namespace
}  // namespace tarnix
