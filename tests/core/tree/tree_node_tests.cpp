#include "core/QVException.h"
#include "core/tree/NodeDef.h"
#include "core/tree/TreeNode.h"
#include "core/tree/TreeRegistry.h"

#include <gtest/gtest.h>

#include <boost/variant/get.hpp>

namespace tarnix {
namespace {

struct DisplayNameCase {
    const char* name;
    bool indexed;
    int32_t index;
    const char* expected;
};

class DisplayNameTest : public ::testing::TestWithParam<DisplayNameCase> {};

TEST_P(DisplayNameTest, FollowsNameIndexAndFlag) {
    const DisplayNameCase& c = GetParam();
    TreeNode node;
    if (c.indexed)
        node.setIndexedName(c.name);
    else
        node.setName(c.name);
    node.setIndex(c.index);
    node.updateDisplayName();  // a fresh node with index -1 has not been refreshed yet
    EXPECT_EQ(c.expected, node.getName());
}

TEST(TreeNode, IndexMinusOneShowsAsUnsigned) {
    TreeNode node;
    node.setIndex(2);
    EXPECT_EQ("2", node.getName());
    node.setIndex(-1);
    EXPECT_EQ("4294967295", node.getName());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DisplayNameTest,
    ::testing::Values(DisplayNameCase{"DEV", true, 1234, "DEV1234"}, DisplayNameCase{"DEV", false, 1234, "DEV"},
                      DisplayNameCase{"", false, 2, "2"}, DisplayNameCase{"", false, -1, "4294967295"},
                      DisplayNameCase{"DEV", true, int32_t(3000000000u), "DEV3000000000"},
                      DisplayNameCase{"CAMP", true, 0, "CAMP0"}, DisplayNameCase{"RATE", false, 5, "RATE"}));

TEST(TreeNode, IndexedNameIsCutAt255Characters) {
    TreeNode node;
    node.setIndexedName(std::string(300, 'A'));
    node.setIndex(7);
    EXPECT_EQ(std::string(255, 'A'), node.getName());
}

TEST(TreeNode, NameChangesSwitchBetweenPlainAndIndexed) {
    TreeNode node;
    node.setIndexedName("DEV");
    node.setIndex(1234);
    EXPECT_EQ("DEV1234", node.getName());
    node.setName("DEV");
    EXPECT_EQ("DEV", node.getName());
    EXPECT_FALSE(node.isIndexed());
    node.setIndexedName("DEV");
    EXPECT_EQ("DEV1234", node.getName());
}

TEST(TreeNode, AddChildNumbersChildrenRegardlessOfTheirIndex) {
    auto parent = std::make_shared<TreeNode>();
    auto first = std::make_shared<TreeNode>();
    auto second = std::make_shared<TreeNode>();
    second->setIndex(42);
    EXPECT_EQ(first, TreeNode::addChild(parent, first));
    TreeNode::addChild(parent, second);
    EXPECT_EQ(0, first->getIndex());
    EXPECT_EQ(1, second->getIndex());
    EXPECT_EQ("1", second->getName());
    EXPECT_EQ(parent, second->getParent());
}

TEST(TreeNode, ChildAtAndRemoveChildRejectWhatIsNotThere) {
    auto parent = std::make_shared<TreeNode>();
    auto child = TreeNode::addChild(parent, std::make_shared<TreeNode>());
    EXPECT_EQ(child, parent->childAt(0));
    EXPECT_THROW(parent->childAt(1), QVOutOfRangeException);
    EXPECT_THROW(parent->removeChild(std::make_shared<TreeNode>()), QVNotFoundException);
    EXPECT_EQ(1u, parent->childCount());
}

TEST(TreeNode, RemoveChildKeepsOrderAndParentLink) {
    auto parent = std::make_shared<TreeNode>();
    for (int i = 0; i < 3; ++i) TreeNode::addChild(parent, std::make_shared<TreeNode>());
    auto middle = parent->childAt(1);
    parent->removeChild(middle);
    EXPECT_EQ((std::vector<std::string>{"0", "2"}),
              (std::vector<std::string>{parent->childAt(0)->getName(), parent->childAt(1)->getName()}));
    EXPECT_EQ(parent, middle->getParent());
    parent->removeAllChildren();
    EXPECT_EQ(0u, parent->childCount());
}

TEST(TreeNode, SortChildrenIsStableBySiblingOrder) {
    auto parent = std::make_shared<TreeNode>();
    const int64_t orders[] = {2, 1, 2, 0};
    for (int64_t order : orders) TreeNode::addChild(parent, std::make_shared<TreeNode>())->setSiblingOrder(order);
    parent->sortChildren();
    std::vector<std::string> names;
    for (const auto& child : parent->children()) names.push_back(child->getName());
    EXPECT_EQ((std::vector<std::string>{"3", "1", "0", "2"}), names);
}

TEST(TreeNode, GetPropertyIsTyped) {
    TreeNode node;
    int64_t precision = 99;
    EXPECT_FALSE(node.getProperty("precision", precision));
    EXPECT_EQ(99, precision);
    node.properties()["precision"] = 3;
    EXPECT_TRUE(node.getProperty("precision", precision));
    EXPECT_EQ(3, precision);
    node.properties()["precision"] = "three";
    EXPECT_THROW(node.getProperty("precision", precision), boost::bad_get);
    bool nolist = false;
    node.properties()["nolist"] = true;
    EXPECT_TRUE(node.getProperty("nolist", nolist));
    EXPECT_TRUE(nolist);
}

TEST(NodeProperty, LiteralsKeepTheirKind) {
    EXPECT_TRUE(NodeProperty("text").holds<std::string>());
    EXPECT_TRUE(NodeProperty(5).holds<int64_t>());
    EXPECT_TRUE(NodeProperty(5u).holds<int64_t>());
    EXPECT_TRUE(NodeProperty(0.5).holds<double>());
    EXPECT_TRUE(NodeProperty(false).holds<bool>());
}

TEST(RootNode, IsTheOutermostNode) {
    TreeRegistry registry;
    const TreeNode::Ptr& root = registry.root();
    EXPECT_EQ(1, root->type());
    EXPECT_EQ(3, root->siblingOrder());
    EXPECT_EQ("", root->getName());
    EXPECT_EQ("The outermost node in hierarchy.", root->properties().at("short").get<std::string>());
    EXPECT_FALSE(root->getParent());
}

struct Switch : NodeDefinition<Switch> {
    static constexpr const char* name = nullptr;
    static constexpr NodeNameKind nameKind = NodeNameKind::None;
    static constexpr int32_t siblingOrder = 1;
    static constexpr int32_t nodeTypeId = 199;
    static void help(const TreeNode::Ptr& node) {
        static const std::vector<NodeValueListEntry> table{{"off", 0}, {"on", 1}, {"half", 0.5, "b0"}};
        node->properties()["values"] = NodeValueList(table);
    }
};

TEST(NodeDefinition, NewNodeAndCreateChildApplyTheDefinition) {
    TreeNode::Ptr dev = NewNode<NodeDefs::LQ3::Dev>();
    dev->setIndex(1234);
    EXPECT_EQ("DEV1234", dev->getName());
    EXPECT_EQ(16, dev->type());
    EXPECT_EQ(2, dev->siblingOrder());
    EXPECT_EQ("This node represents a single device connected to the server.",
              dev->properties().at("short").get<std::string>());
    EXPECT_EQ("The number of this node is the serial number of the connected device.",
              dev->properties().at("note").get<std::string>());

    TreeNode::Ptr a = CreateChild<Switch>(dev);
    TreeNode::Ptr b = CreateChild<Switch>(dev);
    EXPECT_EQ("1", b->getName());
    const auto& listA = a->properties().at("values").get<NodeValueList>();
    const auto& listB = b->properties().at("values").get<NodeValueList>();
    EXPECT_EQ(3u, listA.count);
    EXPECT_EQ(listA.entries, listB.entries);  // one table, shared
    EXPECT_EQ(0.5, boost::get<double>(listA.entries[2].value));
    EXPECT_EQ("b0", listA.entries[2].label);
}

}  // namespace
}  // namespace tarnix
