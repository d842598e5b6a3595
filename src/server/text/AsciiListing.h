#pragma once
#include "core/tree/NodeSet.h"

#include <cstdint>
#include <string>

namespace tarnix {

struct AsciiListing {
    std::string text;      // one line per shown node
    uint32_t counted = 0;  // children visited, shown or hidden
};

// The children of every node of the set, in set order and child order, one
// display name and "\n" per child; a child whose "nolist" property is true is
// counted but not shown (its own children still are). maxDepth 1 lists the
// direct children only, 0 the whole subtree; with indent, two blanks per level.
// The caller holds the structure mutex shared.
AsciiListing AsciiListNodes(const NodeSet& set, unsigned maxDepth, bool indent);

}  // namespace tarnix
