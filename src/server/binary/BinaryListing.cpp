#include "server/binary/BinaryListing.h"

#include "wire/BinaryWire.h"

#include <boost/variant/get.hpp>

#include <vector>

namespace tarnix {
namespace {

// A flag property counts as set when it holds true (or a non-zero integer);
// any other kind leaves it unset.
bool flagProperty(const TreeNode& node, const char* key) {
    auto it = node.properties().find(key);
    if (it == node.properties().end()) return false;
    if (it->second.holds<bool>()) return it->second.get<bool>();
    if (it->second.holds<int64_t>()) return it->second.get<int64_t>() != 0;
    return false;
}

// "/" + the display names from the topmost node below the root down to this
// one; false when that is longer than a line may be. The caller's structure
// lock keeps every ancestor alive.
bool absolutePath(const TreeNode& node, std::string& path) {
    std::vector<const std::string*> names;
    std::size_t length = 0;
    TreeNode::Ptr ancestor;
    for (const TreeNode* current = &node; TreeNode::Ptr parent = current->getParent(); current = ancestor.get()) {
        length += current->displayName().size() + 1;
        if (length > kBinaryListLineLimit) return false;
        names.push_back(&current->displayName());
        ancestor = std::move(parent);
    }
    path.clear();
    path.reserve(length);
    for (auto it = names.rbegin(); it != names.rend(); ++it) path.append(1, '/').append(**it);
    return true;
}

}  // namespace

void BinaryListNode(const TreeNode& node, uint32_t flags, BinaryListing& listing) {
    if (!listing.complete || flagProperty(node, "nolist")) return;
    if ((flags & wire::LIST_LEAVES_ONLY) && (node.childCount() != 0 || !node.endpoint())) return;
    if ((flags & wire::LIST_SETTINGS_ONLY) && !flagProperty(node, "setting")) return;
    std::string line;
    if (flags & wire::LIST_ABSOLUTE_PATH) {
        if (!absolutePath(node, line)) return;
    } else {
        line = node.displayName().substr(0, kBinaryListLineLimit);
    }
    if (uint64_t(listing.text.size()) + line.size() + 1 > kBinaryListTextLimit) {
        listing.complete = false;
        return;
    }
    listing.text.append(line).append(1, '\n');
}

void BinaryListChildren(uint32_t depth, uint32_t maxDepth, const TreeNode& node, uint32_t flags,
                        BinaryListing& listing) {
    for (const TreeNode::Ptr& child : node.children()) {
        if (!listing.complete) return;
        BinaryListNode(*child, flags, listing);
        if (maxDepth == 0 || depth + 1 < maxDepth) BinaryListChildren(depth + 1, maxDepth, *child, flags, listing);
    }
}

}  // namespace tarnix
