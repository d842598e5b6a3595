#include "SignalFixture.h"

#include "engine/RegisterHandlers.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/InstanceNodeDef.h"
#include "groups/common/WordRegister.h"

namespace tarnix {
namespace {

using test::OutputRecord;

struct Group : PlainNodeDef<Group, 1, 240> {
    static constexpr const char* name = "GROUP";
    static constexpr HelpItem helpItems[] = {helpText("short", "group")};
};
struct Instance : InstanceNodeDef<Instance, 241> {
    static constexpr const char* name = nullptr;
    static constexpr HelpItem helpItems[] = {helpText("short", "instance")};
};
struct Word : PlainNodeDef<Word, 1, 242> {
    static constexpr const char* name = "WORD";
    static constexpr HelpItem helpItems[] = {helpInteger("precision", 3), helpDouble("to", 2.5)};
};
struct Other : PlainNodeDef<Other, 2, 243> {
    static constexpr const char* name = "OTHER";
    static constexpr HelpItem helpItems[] = {helpText("short", "other")};
};

constexpr uint32_t kBlock = 0x01020000;

class CommonTest : public test::SignalFixture {
protected:
    void SetUp() override {
        SignalFixture::SetUp();
        record = addBlock(kBlock, 2, 0x10);
        DispatcherTreeLocker lock(state().tree);
        EXPECT_EQ(DeviceStateGetNodeGroup<Group>(dev, &group, lock.getNode()), QV_NO_ERROR);
        instance = CreateChild<Instance>(group->node);
    }
    EPNodePtr leaf(const Feature* item, int32_t offset) {
        DispatcherTreeLocker lock(state().tree);
        return CreateLeaf<Word>(dev, group, instance, 4, 4, item, 1, offset);
    }
    int64_t readWith(ReadDataFunc handler, uint32_t word) {
        const EPNodePtr ep = leaf(record, 0);
        storeWord(*ep, word);
        ep->readData = std::move(handler);
        const std::vector<OutputRecord> out = read(ep->epId);
        EXPECT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].header.flags, VALUE_FLAG_REPLY_ONLY);
        return out.empty() ? -1 : out[0].asInteger();
    }

    Feature* record = nullptr;
    DeviceStateNodeGroup* group = nullptr;
    TreeNode::Ptr instance;
};

TEST_F(CommonTest, ReadHandlersTakeTheWordUnsigned) {
    const struct {
        ReadDataFunc handler;
        uint32_t word;
        int64_t replied;
    } cases[] = {{BooleanReadData, 0x80000000u, 1},      {BooleanReadData, 0, 0},
                 {ClampTo3ReadData, 0xFFFFFFFFu, 3},     {ClampTo3ReadData, 2, 2},
                 {IntegerReadData, 0xFFFFFFFFu, 4294967295}, {IntegerReadData, 7, 7}};
    for (const auto& c : cases) EXPECT_EQ(readWith(c.handler, c.word), c.replied) << c.word;
}

TEST_F(CommonTest, LeafBindsItsRegistersOrNone) {
    const EPNodePtr bound = leaf(record, 8);
    EXPECT_EQ(instance->getName(), "0");
    EXPECT_EQ(instance->siblingOrder(), 1);
    BindRegisterSetting(*bound, BooleanReadData, nullptr, [](DeviceAccess&, const EPNodePtr&, const uint8_t*,
                                                            uint32_t) { return QV_ERR_GENERAL; });
    EXPECT_EQ(deliver(kBlock + 0x18, word(1)).size(), 0u);
    EXPECT_EQ(lastStatus, QV_ERR_GENERAL);  // the update handler was reached

    Feature stray;  // not in the register map
    const EPNodePtr unbound = leaf(&stray, 8);
    EXPECT_EQ(unbound->row, -1);
    EXPECT_EQ(leaf(nullptr, 0)->row, -1);
    int64_t precision = 0;
    EXPECT_TRUE(instance->childAt(0)->getProperty("precision", precision));
    EXPECT_EQ(precision, 3);
}

TEST_F(CommonTest, FindChildEPByTypeTakesTheFirstChildWithAnEndpoint) {
    {
        DispatcherTreeLocker lock(state().tree);
        CreateChild<Other>(instance);  // no endpoint
    }
    EXPECT_FALSE(FindChildEPByType(state().epNodes, instance, 243));
    const EPNodePtr first = leaf(record, 0);
    leaf(record, 4);
    EXPECT_EQ(FindChildEPByType(state().epNodes, instance, 242), first);
    EXPECT_FALSE(FindChildEPByType(state().epNodes, instance, 241));
    EXPECT_FALSE(FindChildEPByType(state().epNodes, TreeNode::Ptr(), 242));
}

TEST_F(CommonTest, LinkedEndpointsAndReceivedWords) {
    const EPNodePtr a = leaf(record, 0);
    const EPNodePtr b = leaf(record, 4);
    ASSERT_EQ(LinkEndpoints(*a, {b->epId, a->epId}), QV_NO_ERROR);
    EXPECT_EQ(LinkedEndpoint(dev, *a, 0), b);
    EXPECT_EQ(LinkedEndpointId(*a, 1), a->epId);
    EXPECT_EQ(LinkedEndpointId(*a, 2), -1);
    EXPECT_FALSE(LinkedEndpoint(dev, *b, 0));

    uint32_t w = 0;
    bool changed = false;
    const std::vector<uint8_t> bytes = word(5);
    EXPECT_EQ(ReceiveWord(*a, bytes.data(), 3, w, changed), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(ReceiveWord(*a, bytes.data(), 4, w, changed), QV_NO_ERROR);
    EXPECT_TRUE(changed);
    EXPECT_EQ(ReceiveWord(*a, bytes.data(), 4, w, changed), QV_NO_ERROR);
    EXPECT_FALSE(changed);
    EXPECT_EQ(storedWord(*a), 5u);
}

}  // namespace
}  // namespace tarnix
