#pragma once
#include "core/tree/TreeNode.h"

#include <set>

namespace tarnix {

// Identity order of node sets: creation order of the nodes. It carries no
// meaning beyond being stable from run to run.
struct NodeIdentityOrder {
    bool operator()(const TreeNode::Ptr& a, const TreeNode::Ptr& b) const {
        return a->creationStamp() < b->creationStamp();
    }
};

// The result of path resolution: tree nodes without duplicates.
typedef std::set<TreeNode::Ptr, NodeIdentityOrder> NodeSet;

}  // namespace tarnix
