#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {

NodeProperty HelpItem::value() const {
    switch (kind) {
        case Kind::Integer:
            return NodeProperty(number);
        case Kind::Double:
            return NodeProperty(real);
        case Kind::Flag:
            return NodeProperty(number != 0);
        case Kind::Values:
            return NodeProperty(NodeValueList(table()));
        case Kind::Text:
        default:
            return NodeProperty(text);
    }
}

void applyHelpItems(TreeNode& node, const HelpItem* items, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) node.properties()[items[i].key] = items[i].value();
}

}  // namespace tarnix
