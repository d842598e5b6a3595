#include "core/tree/TreeNode.h"

#include "core/QVException.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace tarnix {

namespace {

std::atomic<uint64_t> gNextCreationStamp{0};

// Display texts are bounded like the fixed buffers clients were built against:
// 255 characters for a name with its index, 31 for an index alone.
constexpr size_t kIndexedNameBuffer = 256;
constexpr size_t kIndexOnlyBuffer = 32;

}  // namespace

TreeNode::TreeNode() : creationStamp_(gNextCreationStamp.fetch_add(1, std::memory_order_relaxed)) {}

TreeNode::Ptr TreeNode::addChild(const Ptr& parent, Ptr child) {
    child->parent_ = parent;
    child->setIndex(static_cast<int32_t>(parent->children_.size()));
    parent->children_.push_back(child);
    return child;
}

void TreeNode::setName(const std::string& name) {
    if (name == name_ && !indexed_) return;
    name_ = name;
    indexed_ = false;
    updateDisplayName();
}

void TreeNode::setIndexedName(const std::string& name) {
    if (name == name_ && indexed_) return;
    name_ = name;
    indexed_ = true;
    updateDisplayName();
}

void TreeNode::setIndex(int32_t index) {
    if (index == index_) return;
    index_ = index;
    updateDisplayName();
}

void TreeNode::updateDisplayName() {
    // The index prints as an unsigned number: -1 shows as 4294967295, and a
    // device whose serial number is 2^31 or above keeps its true number.
    const unsigned index = static_cast<unsigned>(index_);
    if (name_.empty()) {
        char text[kIndexOnlyBuffer];
        std::snprintf(text, sizeof text, "%u", index);
        displayName_ = text;
    } else if (indexed_) {
        char text[kIndexedNameBuffer];
        std::snprintf(text, sizeof text, "%s%u", name_.c_str(), index);
        displayName_ = text;
    } else {
        displayName_ = name_;
    }
}

TreeNode::Ptr TreeNode::childAt(size_t i) const {
    if (i >= children_.size()) QV_THROW(QVOutOfRangeException());
    return children_[i];
}

void TreeNode::removeChild(const Ptr& child) {
    auto it = std::find(children_.begin(), children_.end(), child);
    if (it == children_.end()) QV_THROW(QVNotFoundException());
    children_.erase(it);
}

void TreeNode::removeAllChildren() {
    const std::vector<Ptr> snapshot = children_;
    for (const Ptr& child : snapshot) removeChild(child);
}

void TreeNode::sortChildren() {
    std::stable_sort(children_.begin(), children_.end(),
                     [](const Ptr& a, const Ptr& b) { return a->siblingOrder_ < b->siblingOrder_; });
}

TreeNode::Ptr createRootNode() {
    auto root = std::make_shared<TreeNode>();
    root->setName("");
    root->setSiblingOrder(3);
    root->setNodeTypeId(1);
    root->properties()["short"] = "The outermost node in hierarchy.";
    return root;
}

}  // namespace tarnix
