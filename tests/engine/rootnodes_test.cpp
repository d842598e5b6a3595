#include "core/ClientNumbers.h"
#include "EngineFixture.h"

#include "core/QVException.h"
#include "core/tree/Endpoint.h"
#include "engine/RootNodes.h"
#include "engine/nodedefs/RootNodeDefs.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace tarnix {
namespace {

class RootNodesTest : public test::EngineFixture {
protected:
    TreeNode::Ptr node(std::initializer_list<const char*> path) {
        TreeNode::Ptr n = state().tree->root;
        for (const char* name : path) {
            TreeNode::Ptr next;
            for (const auto& child : n->children())
                if (child->getName() == name) next = child;
            if (!next) return nullptr;
            n = next;
        }
        return n;
    }
    int idOf(std::initializer_list<const char*> path) {
        TreeNode::Ptr n = node(path);
        return n && n->endpoint() ? n->endpoint()->id : -1;
    }
    test::OutputRecord only() {
        auto out = dev.takeOutput();
        EXPECT_EQ(out.size(), 1u);
        return out.empty() ? test::OutputRecord{} : out[0];
    }
};

TEST_F(RootNodesTest, ClockBaseReadsTheInstrumentClock) {
    ASSERT_EQ(handle(test::getValue(idOf({"CLOCKBASE"}))), QV_NO_ERROR);
    test::OutputRecord r = only();
    EXPECT_EQ(r.header.kind, DATATYPE_INTEGER);
    EXPECT_EQ(r.header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(r.header.sequenceTag, 7);
    EXPECT_EQ(r.header.sessionTag, 3);
    EXPECT_EQ(r.asInteger(), 210000000);
}

TEST_F(RootNodesTest, NodesCarryTheirDefinitions) {
    struct Case {
        std::initializer_list<const char*> path;
        int typeId;
        int64_t order;
        int precision;  // -1: no endpoint
    } cases[] = {
        {{"CLOCKBASE"}, 17, 1, 0},
        {{"STATS"}, 45, 5, -1},
        {{"STATS", "BYTESSENT"}, 46, 1, 0},
        {{"STATS", "MEANMSGCNT"}, 49, 4, 0},
        {{"STATS", "PHYSICAL", "1V2"}, 51, 1, 3},
        {{"STATS", "PHYSICAL", "5V0"}, 55, 5, 3},
        {{"STATS", "PHYSICAL", "TEMP"}, 56, 6, 0},
        {{"RAW"}, 57, 6, -1},
        {{"RAW", "READ", "DATA"}, 61, 3, 0},
        {{"RAW", "WRITE"}, 62, 2, 0},
    };
    for (const Case& c : cases) {
        TreeNode::Ptr n = node(c.path);
        ASSERT_TRUE(n) << *c.path.begin();
        EXPECT_EQ(n->nodeTypeId(), c.typeId);
        EXPECT_EQ(n->siblingOrder(), c.order);
        if (c.precision < 0)
            EXPECT_FALSE(n->endpoint());
        else
            EXPECT_EQ(n->endpoint()->precision, c.precision) << n->getName();
    }
    bool nolist = false;
    EXPECT_TRUE(node({"RAW", "READ", "ADDRESS"})->getProperty("nolist", nolist));
    EXPECT_TRUE(nolist);
    EXPECT_EQ(node({"STATS", "PHYSICAL", "3V3"})->properties().at("short").get<std::string>(),
              "Actual voltage of the 3.3volts supply.");
    EXPECT_EQ(node({"STATS", "PHYSICAL", "TEMP"})->properties().count("precision"), 0u);
}

TEST_F(RootNodesTest, StatisticsPushOnChangeOrOnEveryReport) {
    const int sent = idOf({"STATS", "BYTESSENT"});
    for (double v : {100.0, 100.0, 250.0}) DeviceStateSetStats(dev, STATS_BYTES_SENT, v);
    for (double v : {3.0, 3.0}) DeviceStateSetStats(dev, STATS_MEAN_POLL_COUNT, v);
    for (double v : {1.2, 1.2}) DeviceStateSetStats(dev, STATS_SUPPLY_1V2, v);
    auto out = dev.takeOutput();
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(int(out[0].header.endpointId), sent);
    EXPECT_EQ(out[0].header.sessionTag, kUnsolicitedSessionTag);
    EXPECT_DOUBLE_EQ(out[1].asDouble(), 250.0);
    EXPECT_EQ(handle(test::getValue(sent)), QV_NO_ERROR);
    EXPECT_DOUBLE_EQ(only().asDouble(), 250.0);
}

TEST_F(RootNodesTest, RawAddressRepliesChangedOnlyWhenItChanged) {
    const int id = idOf({"RAW", "READ", "ADDRESS"});
    EXPECT_EQ(handle(test::setInteger(id, 0x8020000)), QV_NO_ERROR);
    EXPECT_EQ(handle(test::setInteger(id, 0x8020000)), QV_NO_ERROR);
    EXPECT_EQ(handle(test::setInteger(id, 0x8020004)), QV_NO_ERROR);
    // An address beyond 32 bits is refused, not cut to another address.
    EXPECT_EQ(handle(test::setInteger(id, int64_t(0x100008020000))), kRefusedValueStatus);
    EXPECT_EQ(handle(test::getValue(id)), QV_NO_ERROR);
    auto out = dev.takeOutput();
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_CHANGED);
    EXPECT_EQ(out[1].header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(out[2].header.flags, VALUE_FLAG_CHANGED);
    EXPECT_EQ(out[3].asInteger(), 0x8020004);
}

TEST_F(RootNodesTest, RawReadRequestFrameAndData) {
    EXPECT_EQ(handle(test::setInteger(idOf({"RAW", "READ", "ADDRESS"}), 0x8020000)), QV_NO_ERROR);
    dev.takeOutput();
    dev.clearEvents();
    ASSERT_EQ(handle(test::setInteger(idOf({"RAW", "READ", "REQUEST"}), 16)), QV_NO_ERROR);
    EXPECT_EQ(dev.wire(), (std::vector<uint8_t>{0x47, 0x5A, 0, 0, 0x10, 0, 0, 0, 0, 0, 0x02, 0x08}));
    EXPECT_EQ(only().asInteger(), 16);

    const uint8_t block[16] = {'h', 'e', 'l', 'l', 'o'};
    ASSERT_EQ(DeviceStateHandleData(dev, 0x8020000, 16, block), QV_NO_ERROR);
    test::OutputRecord r = only();
    EXPECT_EQ(r.header.kind, DATATYPE_BYTEARRAY);
    EXPECT_EQ(int(r.header.endpointId), idOf({"RAW", "READ", "DATA"}));
    EXPECT_EQ(r.bytes.size(), 32u);
    EXPECT_EQ(r.asText().substr(0, 5), "hello");
}

TEST_F(RootNodesTest, RawReadRequestRefusesLengthsNoMessageCanCarry) {
    const int id = idOf({"RAW", "READ", "REQUEST"});
    for (int64_t length : {int64_t(0), int64_t(3), int64_t(524289), int64_t(-4)}) {
        dev.clearEvents();
        EXPECT_EQ(handle(test::setInteger(id, length)), QV_BUFFER_TOO_SMALL) << length;
        EXPECT_TRUE(dev.events().empty()) << length;
    }
    EXPECT_EQ(handle(test::setInteger(id, 524288)), QV_NO_ERROR);
    EXPECT_TRUE(dev.takeOutput().size() == 1);
}

TEST_F(RootNodesTest, RawWriteFrameByteForByte) {
    const int id = idOf({"RAW", "WRITE"});
    dev.clearEvents();
    ASSERT_EQ(handle(test::setBytes(id, {0x03, 0x10, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD})), QV_NO_ERROR);
    EXPECT_EQ(dev.wire(), (std::vector<uint8_t>{0x47, 0x5A, 0, 0, 0x05, 0, 0, 0, 0x00, 0x10, 0, 0, 0xAA, 0xBB,
                                                0xCC, 0xDD}));
    test::OutputRecord r = only();
    EXPECT_EQ(r.header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(r.asInteger(), 8);
}

TEST_F(RootNodesTest, RawWriteRefusesPartialWords) {
    const int id = idOf({"RAW", "WRITE"});
    const std::vector<std::vector<uint8_t>> refused = {{}, {1, 2, 3}, {0, 0x10, 0, 0}, {0, 0x10, 0, 0, 1, 2, 3}};
    for (const auto& bytes : refused) {
        dev.clearEvents();
        EXPECT_EQ(handle(test::setBytes(id, bytes)), QV_BUFFER_TOO_SMALL) << bytes.size();
        EXPECT_TRUE(dev.wire().empty()) << bytes.size();
    }
    EXPECT_TRUE(dev.takeOutput().empty());
}

struct Precise : PlainNodeDef<Precise, 1, 251> {
    static constexpr const char* name = "PRECISE";
    static constexpr HelpItem helpItems[] = {helpInteger("precision", 65539)};
};

TEST_F(RootNodesTest, CreateEPIndexPrecisionAndBindingEdges) {
    DispatcherTreeLocker lock(state().tree);
    const TreeNode::Ptr parent = CreateChild<test::TestLeaf>(lock.getNode());
    CreateChild<test::TestLeaf>(parent);
    CreateChild<test::TestLeaf>(parent);
    EPNodePtr third = DeviceStateCreateEP<Precise>(dev, &group, parent, 0, 0, -1, 3, 8, -1);
    EXPECT_EQ(parent->children()[2]->getIndex(), 2);
    EXPECT_EQ(parent->children()[2]->endpoint()->precision, 3) << "low 16 bits";
    EXPECT_EQ(third->row, -1);
    EXPECT_EQ(third->instance, 3);
    EXPECT_EQ(third->offset, 8);
    DeviceStateCreateEP<test::TestLeaf>(dev, &group, parent, 0, 0, -1, 0, 0, 5);
    EXPECT_EQ(parent->children()[3]->getIndex(), 5);
    EPNodePtr none = DeviceStateCreateFeatureEP<test::TestLeaf>(dev, &group, parent, 0, 4, nullptr, 0, 0, -1);
    EXPECT_EQ(none->row, -1);

    Feature* item = nullptr;
    EXPECT_EQ(FeatureMapInsert(map(), 0x5000, 2, 0x10, 0, "BLOCK   ", &item), QV_NO_ERROR);
    const std::size_t children = parent->childCount();
    EXPECT_THROW(DeviceStateCreateFeatureEP<test::TestLeaf>(dev, &group, parent, 4, 4, item, 2, 0, -1), QVException);
    EXPECT_EQ(parent->childCount(), children + 1) << "the node stays";
}

TEST_F(RootNodesTest, NodeGroupIsMadeOnce) {
    DispatcherTreeLocker lock(state().tree);
    DeviceStateNodeGroup* first = nullptr;
    DeviceStateNodeGroup* second = nullptr;
    EXPECT_EQ(DeviceStateGetNodeGroup<NodeDefs::LQ3::Stats>(dev, &first, lock.getNode()), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateGetNodeGroup<NodeDefs::LQ3::Stats>(dev, &second, nullptr), QV_NO_ERROR);
    EXPECT_EQ(first, second);
    EXPECT_EQ(state().nodeGroups.size(), 2u);
}

}  // namespace
}  // namespace tarnix
