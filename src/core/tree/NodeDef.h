#pragma once
#include "core/tree/TreeNode.h"

#include <cstdint>
#include <initializer_list>
#include <utility>

// Node definitions: one type per node kind, fixing the node's name, its rank
// among its siblings, its node type id (unique across the system) and its help
// properties. A definition derives from NodeDefinition<Self> and provides:
//
//   static constexpr const char* name;          // upper case, or nullptr for none
//   static constexpr NodeNameKind nameKind;     // Plain, Indexed or None
//   static constexpr int32_t siblingOrder;
//   static constexpr int32_t nodeTypeId;
//   static void help(const TreeNode::Ptr& node); // writes the help properties
//
// A "values" list lives in a function-local static table inside help(): it is
// built once (concurrent first runs wait for it), shared by every node made
// from the definition and destroyed at exit:
//
//   static const std::vector<NodeValueListEntry> table{{"off", 0}, {"on", 1}};
//   node->properties()["values"] = NodeValueList(table);
namespace tarnix {

enum class NodeNameKind { None, Plain, Indexed };

// Name (plain or indexed), sibling order and node type id of a fresh node.
void applyNodeIdentity(TreeNode& node, const char* name, NodeNameKind kind, int32_t siblingOrder,
                       int32_t nodeTypeId);

// Writes help properties in the given order (insert or replace).
void applyNodeHelp(TreeNode& node, std::initializer_list<std::pair<const char*, NodeProperty>> help);

template <class Def>
struct NodeDefinition {
    static void init(const TreeNode::Ptr& node) {
        applyNodeIdentity(*node, Def::name, Def::nameKind, Def::siblingOrder, Def::nodeTypeId);
        Def::help(node);
    }
};

// A new node made from the definition T, not yet below any parent.
template <class T>
TreeNode::Ptr NewNode() {
    auto node = std::make_shared<TreeNode>();
    T::init(node);
    return node;
}

// A new node made from T, appended to the parent's children (its index is the
// number of children the parent had before).
template <class T>
TreeNode::Ptr CreateChild(const TreeNode::Ptr& parent) {
    return TreeNode::addChild(parent, NewNode<T>());
}

namespace NodeDefs {
namespace LQ3 {

// The root of one instrument's tree, shown as DEV followed by its serial number.
struct Dev : NodeDefinition<Dev> {
    static constexpr const char* name = "DEV";
    static constexpr NodeNameKind nameKind = NodeNameKind::Indexed;
    static constexpr int32_t siblingOrder = 2;
    static constexpr int32_t nodeTypeId = 16;
    static void help(const TreeNode::Ptr& node);
};

}  // namespace LQ3
}  // namespace NodeDefs
}  // namespace tarnix
