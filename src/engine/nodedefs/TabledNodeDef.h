#pragma once
#include "core/tree/NodeDef.h"
#include "core/tree/NodeProperty.h"

#include <cstdint>
#include <vector>

namespace tarnix {

// One help property of a node definition, as constant data.
struct HelpItem {
    enum class Kind { Text, Integer, Flag, Values, Double };
    using ValueTable = const std::vector<NodeValueListEntry>& (*)();

    const char* key;
    Kind kind;
    const char* text;
    int64_t number;
    ValueTable table;
    double real = 0.0;

    NodeProperty value() const;
};

constexpr HelpItem helpText(const char* key, const char* text) {
    return {key, HelpItem::Kind::Text, text, 0, nullptr, 0.0};
}
constexpr HelpItem helpInteger(const char* key, int64_t number) {
    return {key, HelpItem::Kind::Integer, nullptr, number, nullptr, 0.0};
}
constexpr HelpItem helpDouble(const char* key, double real) {
    return {key, HelpItem::Kind::Double, nullptr, 0, nullptr, real};
}
constexpr HelpItem helpFlag(const char* key, bool flag) {
    return {key, HelpItem::Kind::Flag, nullptr, flag ? 1 : 0, nullptr, 0.0};
}
// `table` returns the definition's value list, built on its first call (a
// function-local static, so concurrent first calls wait for one build) and
// shared by every node made from the definition.
constexpr HelpItem helpValues(const char* key, HelpItem::ValueTable table) {
    return {key, HelpItem::Kind::Values, nullptr, 0, table, 0.0};
}

// Writes the help items into the node, in order (insert or replace).
void applyHelpItems(TreeNode& node, const HelpItem* items, std::size_t count);

// A node definition given as data: the derived type Def supplies
//
//   static constexpr const char* name = "NAME";   // nullptr for an unnamed node
//   static constexpr HelpItem helpItems[] = {helpText("short", "..."), ...};
//
// and this base supplies the name kind, sibling order, node type id and help.
template <class Def, NodeNameKind Kind, int32_t Order, int32_t TypeId>
struct TabledNodeDef : NodeDefinition<Def> {
    static constexpr NodeNameKind nameKind = Kind;
    static constexpr int32_t siblingOrder = Order;
    static constexpr int32_t nodeTypeId = TypeId;
    static void help(const TreeNode::Ptr& node) {
        applyHelpItems(*node, Def::helpItems, sizeof(Def::helpItems) / sizeof(Def::helpItems[0]));
    }
};

template <class Def, int32_t Order, int32_t TypeId>
using PlainNodeDef = TabledNodeDef<Def, NodeNameKind::Plain, Order, TypeId>;

}  // namespace tarnix
