#include "core/tree/NodeDef.h"

namespace tarnix {

void applyNodeIdentity(TreeNode& node, const char* name, NodeNameKind kind, int32_t siblingOrder,
                       int32_t nodeTypeId) {
    if (name != nullptr && kind == NodeNameKind::Plain) node.setName(name);
    if (name != nullptr && kind == NodeNameKind::Indexed) node.setIndexedName(name);
    node.setSiblingOrder(siblingOrder);
    node.setNodeTypeId(nodeTypeId);
}

void applyNodeHelp(TreeNode& node, std::initializer_list<std::pair<const char*, NodeProperty>> help) {
    for (const auto& property : help) node.properties()[property.first] = property.second;
}

namespace NodeDefs {
namespace LQ3 {

void Dev::help(const TreeNode::Ptr& node) {
    applyNodeHelp(*node, {
                             {"short", "This node represents a single device connected to the server."},
                             {"note", "The number of this node is the serial number of the connected device."},
                         });
}

}  // namespace LQ3
}  // namespace NodeDefs
}  // namespace tarnix
