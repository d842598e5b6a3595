#pragma once
#include "core/tree/TreeNode.h"

#include <cstdint>
#include <string>

// The text of a binary node-list reply: one line per listed node, each ended
// by "\n". The caller holds the structure mutex shared.
namespace tarnix {

// Room for the text of one reply: the protocol's 1 MiB output buffer.
constexpr uint32_t kBinaryListTextLimit = 1048576;
// Longest line: a display name is cut to it, an absolute path longer than it
// leaves its node out.
constexpr uint32_t kBinaryListLineLimit = 127;

struct BinaryListing {
    std::string text;
    // False once a node did not fit into kBinaryListTextLimit; the listing
    // then stops and must not be sent as if it were whole.
    bool complete = true;
};

// Lists the children of `node` in child order, each before its own
// descendants; goes below while depth + 1 < maxDepth, or always for
// maxDepth 0. Children of a node that is not shown are still visited.
void BinaryListChildren(uint32_t depth, uint32_t maxDepth, const TreeNode& node, uint32_t flags,
                        BinaryListing& listing);

// Appends the node's line when the flags (wire::ListFlags) allow it and it
// is not marked "nolist".
void BinaryListNode(const TreeNode& node, uint32_t flags, BinaryListing& listing);

}  // namespace tarnix
